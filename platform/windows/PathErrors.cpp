#include "platform/PathErrors.h"

#include <cerrno>

#include "platform/Failure.h"
#include "platform/windows/Win32.h"

namespace talveco {

// Windows takes '/' and '\' alike, and "C:name" is "name" in drive C's
// current folder.
std::string directoryOf(const std::string& path) {
    const auto separator = path.find_last_of("/\\");
    if (separator == std::string::npos) {
        return path.size() >= 2 && path[1] == ':' ? path.substr(0, 2) : ".";
    }
    if (separator == 0) return path.substr(0, 1);
    if (separator == 2 && path[1] == ':') return path.substr(0, 3);  // "C:\"
    return path.substr(0, separator);
}

std::size_t fileNameStart(std::string_view path) {
    const auto separator = path.find_last_of("/\\:");
    return separator == std::string_view::npos ? 0 : separator + 1;
}

void throwPathError(const std::string& path, int errorNumber) {
    if (errorNumber == ENOENT) {
        const DWORD attributes = ::GetFileAttributesW(win32::wide(directoryOf(path)).c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
            throw Failure(FailureKind::InvalidFilename, errorNumber);
        }
    }
    throwErrno(errorNumber);
}

}  // namespace talveco
