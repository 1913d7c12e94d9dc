#include "platform/OutputFile.h"

#include <fcntl.h>
#include <io.h>

#include <cerrno>
#include <utility>

#include "platform/Console.h"
#include "platform/Failure.h"
#include "platform/Files.h"
#include "platform/Interrupts.h"
#include "platform/PathErrors.h"
#include "platform/windows/Win32.h"

namespace talveco {
namespace {

// Every folder holds the device names on Windows: an output named so would
// go to the device (or vanish into NUL) instead of becoming a file.
void refuseDeviceName(const std::string& target) {
    const std::string_view name = win32::lastPart(target);
    if (win32::isReservedDeviceName(name)) {
        throw Failure(FailureKind::InvalidFilename, "Invalid filename (" + std::string(name) +
                                                        " is the name of a device on Windows)");
    }
}

void refuseUnsafeTarget(const std::string& target, std::optional<FileIdentity> input) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!::GetFileAttributesExW(win32::wide(target).c_str(), GetFileExInfoStandard, &data)) {
        return;  // nothing there yet, or reported at create
    }
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        throw Failure(FailureKind::AccessDenied, EISDIR);
    }
    const std::optional<FileStatus> status = statusOf(target);
    if (input && status && status->identity == *input) {
        throw Failure(FailureKind::IoError, OutputFile::kSharingViolation);
    }
    // Read-only is Windows' "not writable by anyone": the file is kept, as
    // Linux keeps one this user may not write.
    if (data.dwFileAttributes & FILE_ATTRIBUTE_READONLY) {
        throw Failure(FailureKind::AccessDenied, EACCES);
    }
}

// A name longer than a folder can hold (255 UTF-16 units) would only be
// refused by the final rename, after the whole conversion.
void refuseOverlongName(const std::string& target) {
    if (win32::wide(win32::lastPart(target)).size() > 255) {
        throw Failure(FailureKind::IoError, ENAMETOOLONG);
    }
}

std::string joined(const std::string& directory, const std::string& name) {
    const char last = directory.back();
    return last == '/' || last == '\\' || last == ':' ? directory + name : directory + "\\" + name;
}

}  // namespace

OutputFile::OutputFile(std::string targetPath, std::optional<FileIdentity> input)
    : targetPath_(std::move(targetPath)) {
    refuseDeviceName(targetPath_);
    refuseUnsafeTarget(targetPath_, input);
    refuseOverlongName(targetPath_);
    createTemporary();
}

OutputFile::~OutputFile() {
    if (!committed_) discard();
}

void OutputFile::createTemporary() {
    const std::string directory = directoryOf(targetPath_);
    const std::string stem = ".talveco-" + std::to_string(::GetCurrentProcessId());
    for (unsigned attempt = 0;; ++attempt) {
        temporaryName_ = stem + "-" + std::to_string(attempt) + ".tmp";
        temporaryPath_ = directory == "." ? temporaryName_ : joined(directory, temporaryName_);
        // Registered before it is made, so that no interrupt finds the file
        // made but not yet registered (see the POSIX implementation).
        PendingRemoval pending(directory, temporaryName_);
        if (!pending.armed()) refuseUnregistered();
        // FILE_SHARE_DELETE lets the interrupt clean-up remove it while this
        // handle is still open in a writing thread.
        const HANDLE handle =
            ::CreateFileW(win32::wide(temporaryPath_).c_str(), GENERIC_READ | GENERIC_WRITE,
                          FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                          FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle != INVALID_HANDLE_VALUE) {
            fd_ = win32::descriptorFor(handle, _O_RDWR);
            pendingRemoval_ = std::move(pending);
            return;
        }
        const DWORD error = ::GetLastError();
        if ((error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) || attempt == 999) {
            temporaryName_.clear();
            temporaryPath_.clear();
            win32::throwPathFailure(targetPath_, error);
        }
    }
}

void OutputFile::refuseUnregistered() {
    temporaryName_.clear();
    temporaryPath_.clear();
    throw Failure(FailureKind::TooManyOpenFiles,
                  "more than " + std::to_string(PendingRemoval::kCapacity) +
                      " unfinished files at once; they could not all be removed on an interrupt");
}

void OutputFile::write(std::span<const std::uint8_t> bytes) {
    writeAll(fd_, bytes);
}

void OutputFile::writeAt(std::uint64_t offset, std::span<const std::uint8_t> bytes) {
    writeAllAt(fd_, offset, bytes);
}

void writeAllAt(int fd, std::uint64_t offset, std::span<const std::uint8_t> bytes) {
    const HANDLE handle = win32::handleOf(fd);
    while (!bytes.empty()) {
        const auto size = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 30));
        DWORD put = 0;
        const DWORD error = win32::writeAt(handle, offset, bytes.data(), size, put);
        if (error != ERROR_SUCCESS) win32::throwSystemError(error);
        if (put == 0) throw Failure(FailureKind::DiskFull, ENOSPC);
        bytes = bytes.subspan(put);
        offset += put;
    }
}

// A replaced file's security comes from the folder on Windows, as for any
// new file there; there are no permission bits to carry over.
void OutputFile::takeTargetsPermissions() noexcept {}

DescriptorCopy::DescriptorCopy(int descriptor) : fd_(::_dup(descriptor)) {
    if (fd_ < 0) throwErrno(errno);
}

DescriptorCopy::~DescriptorCopy() {
    if (fd_ >= 0) ::_close(fd_);
}

void DescriptorCopy::close() {
    const int fd = std::exchange(fd_, -1);
    if (fd >= 0 && ::_close(fd) != 0) throwErrno(errno);
}

bool isPipeOrSocket(int fd) noexcept {
    return ::GetFileType(win32::handleOf(fd)) == FILE_TYPE_PIPE;
}

void OutputFile::commit() {
    // Closing is where some file systems report that the data could not be
    // stored; the file is only put in place when it succeeded.
    const int fd = fd_;
    fd_ = -1;
    if (::_close(fd) != 0) throwErrno(errno);
    if (!::MoveFileExW(win32::wide(temporaryPath_).c_str(), win32::wide(targetPath_).c_str(),
                       MOVEFILE_REPLACE_EXISTING)) {
        win32::throwPathFailure(targetPath_, ::GetLastError());
    }
    pendingRemoval_.release();
    committed_ = true;
}

void OutputFile::discard() noexcept {
    if (fd_ >= 0) ::_close(fd_);
    fd_ = -1;
    if (!temporaryPath_.empty()) ::DeleteFileW(win32::wide(temporaryPath_).c_str());
    pendingRemoval_.release();
}

}  // namespace talveco
