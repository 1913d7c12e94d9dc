#include <fcntl.h>
#include <io.h>

#include <cerrno>

#include "platform/Failure.h"
#include "platform/PathErrors.h"
#include "platform/windows/Win32.h"

namespace talveco::win32 {

std::optional<int> errnoFor(DWORD code) noexcept {
    switch (code) {
        case ERROR_FILE_NOT_FOUND:
            return ENOENT;
        // A folder on the way that is missing, or a name Windows cannot hold.
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_NAME:
        case ERROR_BAD_PATHNAME:
        case ERROR_DIRECTORY:
        case ERROR_INVALID_DRIVE:
            return ENOTDIR;
        case ERROR_FILENAME_EXCED_RANGE:
            return ENAMETOOLONG;
        case ERROR_TOO_MANY_OPEN_FILES:
            return EMFILE;
        // Another program holding the file open is, to the user, a file they
        // may not use now.
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
        case ERROR_WRITE_PROTECT:
        case ERROR_PRIVILEGE_NOT_HELD:
            return EACCES;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
        case ERROR_FILE_TOO_LARGE:
            return ENOSPC;
        case ERROR_NOT_ENOUGH_MEMORY:
        case ERROR_OUTOFMEMORY:
            return ENOMEM;
        case ERROR_ALREADY_EXISTS:
        case ERROR_FILE_EXISTS:
            return EEXIST;
        case ERROR_DIR_NOT_EMPTY:
            return ENOTEMPTY;
        // The reader of a pipe has gone.
        case ERROR_BROKEN_PIPE:
        case ERROR_NO_DATA:
            return EPIPE;
        default:
            return std::nullopt;
    }
}

int errorNumberFor(DWORD code) noexcept {
    return errnoFor(code).value_or(static_cast<int>(code));
}

// A code without an errno is never read as one: code 23 (a CRC error) is
// ENFILE's number, and would tell of too many open files.
void throwSystemError(DWORD code) {
    if (const auto number = errnoFor(code)) throwErrno(*number);
    throw Failure(FailureKind::IoError, static_cast<int>(code));
}

void throwPathFailure(const std::string& path, DWORD code) {
    if (const auto number = errnoFor(code)) throwPathError(path, *number);
    throw Failure(FailureKind::IoError, static_cast<int>(code));
}

std::error_code errorCodeFor(DWORD code) noexcept {
    if (const auto number = errnoFor(code)) return {*number, std::generic_category()};
    return {static_cast<int>(code), std::system_category()};
}

HANDLE handleOf(int fd) noexcept {
    return reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
}

int descriptorFor(HANDLE handle, int flags) {
    const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(handle), flags | _O_BINARY);
    if (fd < 0) {
        ::CloseHandle(handle);
        throw Failure(FailureKind::TooManyOpenFiles, EMFILE);
    }
    return fd;
}

namespace {

OVERLAPPED at(std::uint64_t offset) {
    OVERLAPPED where{};
    where.Offset = static_cast<DWORD>(offset);
    where.OffsetHigh = static_cast<DWORD>(offset >> 32);
    return where;
}

// A positioned ReadFile or WriteFile on a handle opened for synchronous
// access still leaves the file position after the bytes it moved; it is put
// back, so that the stream reads and writes go on where they were.
template <typename Transfer>
DWORD keepingPosition(HANDLE handle, Transfer transfer) noexcept {
    LARGE_INTEGER position{};
    const bool known = ::SetFilePointerEx(handle, LARGE_INTEGER{}, &position, FILE_CURRENT) != 0;
    const DWORD error = transfer() ? ERROR_SUCCESS : ::GetLastError();
    if (known) ::SetFilePointerEx(handle, position, nullptr, FILE_BEGIN);
    return error;
}

}  // namespace

DWORD readAt(HANDLE handle, std::uint64_t offset, void* data, DWORD size, DWORD& got) noexcept {
    got = 0;
    const DWORD error = keepingPosition(handle, [&] {
        OVERLAPPED where = at(offset);
        return ::ReadFile(handle, data, size, &got, &where) != 0;
    });
    return error == ERROR_HANDLE_EOF ? ERROR_SUCCESS : error;
}

DWORD writeAt(HANDLE handle, std::uint64_t offset, const void* data, DWORD size,
              DWORD& put) noexcept {
    put = 0;
    return keepingPosition(handle, [&] {
        OVERLAPPED where = at(offset);
        return ::WriteFile(handle, data, size, &put, &where) != 0;
    });
}

}  // namespace talveco::win32
