#include "platform/InputFile.h"

#include <fcntl.h>
#include <io.h>

#include <cerrno>

#include "platform/Failure.h"
#include "platform/PathErrors.h"
#include "platform/windows/Win32.h"

namespace talveco {

InputFile::InputFile(const std::string& path) {
    if (win32::isReservedDeviceName(win32::lastPart(path))) {
        throw Failure(FailureKind::AccessDenied, EACCES);  // a device, never a sound file
    }
    // Others may read, write, rename or remove the file meanwhile, as on
    // Linux; a folder opens too, to be refused below with the reason.
    const HANDLE handle = ::CreateFileW(
        win32::wide(path).c_str(), GENERIC_READ,
        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
        FILE_ATTRIBUTE_NORMAL | FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (handle == INVALID_HANDLE_VALUE) win32::throwPathFailure(path, ::GetLastError());
    fd_ = win32::descriptorFor(handle, _O_RDONLY);
    try {
        learnWhatItIs();
    } catch (...) {
        ::_close(fd_);
        throw;
    }
}

std::unique_ptr<InputFile> InputFile::standardInput() {
    std::unique_ptr<InputFile> input(new InputFile());
    input->fd_ = 0;
    input->owned_ = false;
    input->learnWhatItIs();
    return input;
}

void InputFile::learnWhatItIs() {
    const HANDLE handle = win32::handleOf(fd_);
    if (handle == INVALID_HANDLE_VALUE) throw Failure(FailureKind::IoError, EBADF);
    BY_HANDLE_FILE_INFORMATION info{};
    seekable_ = ::GetFileType(handle) == FILE_TYPE_DISK;
    if (seekable_ && ::GetFileInformationByHandle(handle, &info) &&
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        throw Failure(FailureKind::AccessDenied, EISDIR);
    }
    identity_ = win32::identityOf(handle);
}

std::uint64_t InputFile::size() const {
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(win32::handleOf(fd_), &size))
        throw Failure(FailureKind::IoError, win32::errorNumberFor(::GetLastError()));
    return static_cast<std::uint64_t>(size.QuadPart);
}

InputFile::~InputFile() {
    if (owned_ && fd_ >= 0) ::_close(fd_);
}

std::size_t InputFile::readSome(std::span<std::uint8_t> buffer) {
    const auto size = static_cast<DWORD>(std::min<std::size_t>(buffer.size(), 1u << 30));
    DWORD got = 0;
    if (::ReadFile(win32::handleOf(fd_), buffer.data(), size, &got, nullptr)) return got;
    const DWORD error = ::GetLastError();
    // The writer of a pipe has closed it: the end of the data, as on Linux.
    if (error == ERROR_BROKEN_PIPE || error == ERROR_HANDLE_EOF) return 0;
    throw Failure(FailureKind::IoError, win32::errorNumberFor(error));
}

std::size_t InputFile::readAt(std::uint64_t offset, std::span<std::uint8_t> buffer) const {
    std::size_t filled = 0;
    while (filled < buffer.size()) {
        const auto size =
            static_cast<DWORD>(std::min<std::size_t>(buffer.size() - filled, 1u << 30));
        DWORD got = 0;
        const DWORD error =
            win32::readAt(win32::handleOf(fd_), offset + filled, buffer.data() + filled, size, got);
        if (error != ERROR_SUCCESS)
            throw Failure(FailureKind::IoError, win32::errorNumberFor(error));
        if (got == 0) break;
        filled += got;
    }
    return filled;
}

}  // namespace talveco
