#include "platform/PathErrors.h"

#include <sys/stat.h>

#include <cerrno>

#include "platform/Failure.h"

namespace talveco {

std::string directoryOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::size_t fileNameStart(std::string_view path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string_view::npos ? 0 : slash + 1;
}

void throwPathError(const std::string& path, int errorNumber) {
    if (errorNumber == ENOENT) {
        struct stat info {};
        const std::string directory = directoryOf(path);
        if (::stat(directory.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
            throw Failure(FailureKind::InvalidFilename, errorNumber);
        }
    }
    throwErrno(errorNumber);
}

}  // namespace talveco
