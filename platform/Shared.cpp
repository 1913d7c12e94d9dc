// The parts of the platform interface that are the same on every system.
#include <cerrno>
#include <tuple>

#include "platform/Console.h"
#include "platform/Files.h"
#include "platform/InputFile.h"

namespace talveco {

void Console::line(std::string_view text) {
    write(text);
    endLine();
}

bool IdentityOrder::operator()(const FileIdentity& a, const FileIdentity& b) const noexcept {
    return std::tie(a.device, a.inode) < std::tie(b.device, b.inode);
}

std::string openFailureReason(const Failure& failure) {
    const std::string text = failure.what();
    return failure.errorNumber() == EISDIR ? text + " (a directory)" : text;
}

}  // namespace talveco
