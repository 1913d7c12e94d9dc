#include "platform/Files.h"

#include <fcntl.h>
#include <io.h>

#include <cerrno>
#include <system_error>

#include "platform/Console.h"
#include "platform/Failure.h"
#include "platform/OutputFile.h"
#include "platform/PathErrors.h"
#include "platform/windows/Win32.h"

namespace talveco {
namespace {

// Closes a handle when it goes.
struct HandleCloser {
    HANDLE handle;
    ~HandleCloser() {
        if (handle != INVALID_HANDLE_VALUE) ::CloseHandle(handle);
    }
};

// A device name such as CON or COM1 is never opened to be looked at: that
// could block or reach hardware. All of them count as devices, which no
// output may be; NUL too, since a file named after it that the user thinks
// is written would vanish into it.
FileStatus deviceStatus() {
    return FileStatus{FileKind::Device, FileIdentity{}, 0};
}

FileStatus statusOfHandle(HANDLE handle) {
    const DWORD type = ::GetFileType(handle);
    BY_HANDLE_FILE_INFORMATION info{};
    if (type == FILE_TYPE_DISK && ::GetFileInformationByHandle(handle, &info)) {
        const FileIdentity identity = win32::identityOf(handle);
        if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            return FileStatus{FileKind::Directory, identity, 0};
        }
        return FileStatus{FileKind::Regular, identity,
                          (std::uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow};
    }
    if (type == FILE_TYPE_PIPE) return FileStatus{FileKind::Pipe, win32::identityOf(handle), 0};
    if (type == FILE_TYPE_CHAR) {
        // A standard stream that is a character device but no console is
        // NUL in practice (`> NUL`).
        DWORD mode = 0;
        return FileStatus{::GetConsoleMode(handle, &mode) ? FileKind::Device : FileKind::NullDevice,
                          win32::identityOf(handle), 0};
    }
    return FileStatus{FileKind::Other, win32::identityOf(handle), 0};
}

std::optional<FileStatus> statusOpening(const std::string& path, DWORD flags) {
    if (win32::isReservedDeviceName(win32::lastPart(path))) return deviceStatus();
    // No access asked for, only the right to look: this works on files other
    // programs hold open, and FILE_FLAG_BACKUP_SEMANTICS opens folders too.
    const HandleCloser file{::CreateFileW(
        win32::wide(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | flags, nullptr)};
    if (file.handle == INVALID_HANDLE_VALUE) return std::nullopt;
    return statusOfHandle(file.handle);
}

bool isSymbolicLink(const std::string& path) {
    WIN32_FIND_DATAW found{};
    const HANDLE search = ::FindFirstFileW(win32::wide(path).c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return false;
    ::FindClose(search);
    return (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
           found.dwReserved0 == IO_REPARSE_TAG_SYMLINK;
}

int descriptorOf(StandardStream stream) {
    return stream == StandardStream::Input ? 0 : 1;
}

}  // namespace

namespace win32 {

FileIdentity identityOf(HANDLE handle) noexcept {
    BY_HANDLE_FILE_INFORMATION info{};
    if (::GetFileType(handle) == FILE_TYPE_DISK && ::GetFileInformationByHandle(handle, &info)) {
        return FileIdentity{info.dwVolumeSerialNumber,
                            (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow};
    }
    // No volume has this serial number (theirs are 32 bits).
    constexpr std::uint64_t kNotOnAVolume = ~std::uint64_t{0};
    return FileIdentity{kNotOnAVolume, reinterpret_cast<std::uintptr_t>(handle)};
}

}  // namespace win32

std::optional<FileStatus> statusOf(const std::string& path) {
    return statusOpening(path, 0);
}

std::optional<FileStatus> linkStatusOf(const std::string& path) {
    if (!win32::isReservedDeviceName(win32::lastPart(path)) && isSymbolicLink(path)) {
        return FileStatus{FileKind::SymbolicLink, FileIdentity{}, 0};
    }
    return statusOpening(path, FILE_FLAG_OPEN_REPARSE_POINT);
}

std::optional<FileStatus> statusOf(StandardStream stream) {
    const HANDLE handle = win32::handleOf(descriptorOf(stream));
    if (handle == INVALID_HANDLE_VALUE) return std::nullopt;
    return statusOfHandle(handle);
}

bool isTerminal(StandardStream stream) {
    // _isatty() is true for NUL as well; only a console is a terminal.
    DWORD mode = 0;
    return ::GetConsoleMode(win32::handleOf(descriptorOf(stream)), &mode) != 0;
}

std::optional<std::uint64_t> rewritableStandardOutputStart() {
    const HANDLE handle = win32::handleOf(1);
    if (handle == INVALID_HANDLE_VALUE || ::GetFileType(handle) != FILE_TYPE_DISK) {
        return std::nullopt;
    }
    LARGE_INTEGER position{};
    if (!::SetFilePointerEx(handle, LARGE_INTEGER{}, &position, FILE_CURRENT)) return std::nullopt;
    return static_cast<std::uint64_t>(position.QuadPart);
}

DeviceOutput::DeviceOutput(const std::string& path) {
    const HANDLE handle =
        ::CreateFileW(win32::wide(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) win32::throwPathFailure(path, ::GetLastError());
    fd_ = win32::descriptorFor(handle, _O_WRONLY);
}

DeviceOutput::~DeviceOutput() {
    if (fd_ >= 0) ::_close(fd_);
}

void DeviceOutput::write(std::span<const std::uint8_t> bytes) {
    writeAll(fd_, bytes);
}

void DeviceOutput::writeAt(std::uint64_t offset, std::span<const std::uint8_t> bytes) {
    writeAllAt(fd_, offset, bytes);
}

MadeFolders::~MadeFolders() {
    for (Made& folder : made_)
        folder.pending.release();
}

namespace {

// Where the folders of a path begin: after "C:\", "\\server\share\" or a
// leading separator, which are never made.
std::size_t firstFolderStart(const std::string& path) {
    if (path.size() >= 2 && path[1] == ':') return path.size() > 2 ? 3 : 2;
    if (path.starts_with("\\\\") || path.starts_with("//")) {
        std::size_t end = path.find_first_of("/\\", 2);
        if (end != std::string::npos) end = path.find_first_of("/\\", end + 1);
        return end == std::string::npos ? path.size() : end + 1;
    }
    return path.empty() || (path[0] != '/' && path[0] != '\\') ? 0 : 1;
}

}  // namespace

void MadeFolders::make(const std::string& path) {
    // Each folder on the way, from the first: "a\b\c" is "a", "a\b", "a\b\c".
    for (std::size_t end = path.find_first_of("/\\", firstFolderStart(path));;
         end = path.find_first_of("/\\", end + 1)) {
        const std::string folder = path.substr(0, end);
        if (folder.size() > firstFolderStart(path) && folder.back() != '/' &&
            folder.back() != '\\') {
            if (::CreateDirectoryW(win32::wide(folder).c_str(), nullptr)) {
                remember(folder);
            } else if (const DWORD error = ::GetLastError(); error != ERROR_ALREADY_EXISTS) {
                throw std::system_error(win32::errorCodeFor(error), folder);
            } else if (const DWORD attributes = ::GetFileAttributesW(win32::wide(folder).c_str());
                       attributes == INVALID_FILE_ATTRIBUTES ||
                       !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
                throw std::system_error(ENOTDIR, std::generic_category(), folder);
            }
        }
        if (end == std::string::npos) return;
    }
}

// Registered only once it exists: an interrupt just before would leave an
// empty folder, which is harmless, while one registered before it was made
// could remove a folder someone else had just made.
void MadeFolders::remember(const std::string& folder) {
    const std::string name(win32::lastPart(folder));
    made_.push_back(Made{-1, PendingRemoval(directoryOf(folder), name, Removal::EmptyFolder)});
}

}  // namespace talveco
