#include "app/common/OutputPaths.h"

#include <sys/stat.h>

#include <filesystem>
#include <system_error>

namespace talveco {

std::string withExtension(const std::string& path, std::string_view extension) {
    const auto slash = path.find_last_of('/');
    const auto nameStart = slash == std::string::npos ? 0 : slash + 1;
    const auto dot = path.find_last_of('.');
    const bool hasExtension = dot != std::string::npos && dot > nameStart;
    return path.substr(0, hasExtension ? dot : path.size()) + std::string(extension);
}

void refuseUnsafeOutput(const std::string& target, std::optional<FileIdentity> input, bool force) {
    struct stat info {};
    if (::stat(target.c_str(), &info) != 0) return;  // nothing there yet, or reported at create
    if (input && *input == FileIdentity{info.st_dev, info.st_ino}) {
        throw FileRefused("the output " + target + " is the input itself; not overwritten");
    }
    if (S_ISDIR(info.st_mode)) throw FileRefused("the output " + target + " is a directory");
    // The finished file is renamed over the target: a device or pipe of that
    // name (-o /dev/null) would be replaced by a regular file, not written to.
    if (!S_ISREG(info.st_mode)) {
        throw FileRefused("the output " + target + " is not a regular file; not replaced");
    }
    if (!force) throw FileRefused("the output " + target + " exists (-f replaces it)");
}

void makeOutputFolder(const std::string& folder) {
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error) throw FileRefused("cannot create the folder " + folder + ": " + error.message());
}

std::optional<FileIdentity> identityOf(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return std::nullopt;
    return FileIdentity{info.st_dev, info.st_ino};
}

}  // namespace talveco
