#include "encoder/ScratchSpace.h"

#include <string>

#include "talveco/talveco.h"

namespace talveco {

void ScratchSpace::append(std::span<const std::byte> bytes) {
    try {
        file_.append(bytes);
    } catch (const Failure& failure) {
        // The generic text ("Disk full") would be shown as the output's: the output's folder
        // is not where the room ran out.
        if (failure.kind() != FailureKind::DiskFull) throw;
        throw Failure(FailureKind::DiskFull,
                      "the scratch file in " + temporaryDirectory() + ": " + failure.what() +
                          "; set " + temporaryDirectoryVariable() + " to a folder with room");
    }
}

}  // namespace talveco
