#include "app/encode/OutputTarget.h"

#include <sys/stat.h>

#include "app/encode/SoundFileReader.h"

namespace talveco {

std::string acmPathFor(const std::string& inputPath) {
    const auto slash = inputPath.find_last_of('/');
    const auto nameStart = slash == std::string::npos ? 0 : slash + 1;
    const auto dot = inputPath.find_last_of('.');
    // A leading dot (".wav", a hidden file) starts the name, not an extension.
    const bool hasExtension = dot != std::string::npos && dot > nameStart;
    return inputPath.substr(0, hasExtension ? dot : inputPath.size()) + ".acm";
}

void refuseUnsafeTarget(const std::string& target, FileIdentity input, bool force) {
    struct stat info {};
    if (::stat(target.c_str(), &info) != 0) return;  // nothing there yet, or reported at create
    if (input == FileIdentity{info.st_dev, info.st_ino}) {
        throw InputRefused("the output " + target + " is the input itself; not overwritten");
    }
    if (S_ISDIR(info.st_mode)) throw InputRefused("the output " + target + " is a directory");
    // The finished file is renamed over the target: a device or pipe of that name (-o
    // /dev/null) would be replaced by a regular file, not written to.
    if (!S_ISREG(info.st_mode)) {
        throw InputRefused("the output " + target + " is not a regular file; not replaced");
    }
    if (!force) throw InputRefused("the output " + target + " exists (-f replaces it)");
}

}  // namespace talveco
