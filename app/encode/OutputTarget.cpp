#include "app/encode/OutputTarget.h"

#include "app/common/OutputPaths.h"
#include "app/encode/SoundFileReader.h"

namespace talveco {

std::string acmPathFor(const std::string& inputPath) {
    return withExtension(inputPath, ".acm");
}

void refuseUnsafeTarget(const std::string& target, FileIdentity input, bool force) {
    try {
        refuseUnsafeOutput(target, input, force);
    } catch (const FileRefused& refusal) {
        throw InputRefused(refusal.what());  // what this program reports per file
    }
}

}  // namespace talveco
