#include "platform/OutputFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <utility>

#include "platform/Console.h"
#include "platform/Failure.h"
#include "platform/Interrupts.h"
#include "platform/PathErrors.h"

namespace talveco {
namespace {

void refuseUnsafeTarget(const std::string& target, std::optional<FileIdentity> input) {
    struct stat info {};
    if (::stat(target.c_str(), &info) != 0) return;  // nothing there yet, or reported at create
    if (input && *input == FileIdentity{info.st_dev, info.st_ino}) {
        throw Failure(FailureKind::IoError, OutputFile::kSharingViolation);
    }
    if (S_ISDIR(info.st_mode)) throw Failure(FailureKind::AccessDenied, EISDIR);
    // A device, FIFO or socket of that name would be replaced by a plain
    // file rather than written to.
    if (!S_ISREG(info.st_mode)) throw Failure(FailureKind::AccessDenied, EPERM);
    // The rename would replace a file this user may not write, and give the
    // new one other permissions: refuse, as opening it for writing would.
    if (::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0 &&
        (errno == EACCES || errno == EPERM || errno == EROFS)) {
        throw Failure(FailureKind::AccessDenied, errno);
    }
}

// A name the file system cannot hold would only be refused by the final
// rename, after the whole conversion; refuse it before any work is done.
void refuseOverlongName(const std::string& target) {
    const auto slash = target.find_last_of('/');
    const std::size_t nameLength =
        slash == std::string::npos ? target.size() : target.size() - slash - 1;
    const long limit = ::pathconf(directoryOf(target).c_str(), _PC_NAME_MAX);
    if (limit > 0 && nameLength > static_cast<std::size_t>(limit)) {
        throw Failure(FailureKind::IoError, ENAMETOOLONG);
    }
}

}  // namespace

OutputFile::OutputFile(std::string targetPath, std::optional<FileIdentity> input)
    : targetPath_(std::move(targetPath)) {
    refuseUnsafeTarget(targetPath_, input);
    refuseOverlongName(targetPath_);
    createTemporary();
}

OutputFile::~OutputFile() {
    if (!committed_) discard();
    if (directoryFd_ >= 0) ::close(directoryFd_);
}

void OutputFile::createTemporary() {
    const std::string directory = directoryOf(targetPath_);
    // The unfinished file is removed through a handle on its directory, so
    // that it goes even when the directory was moved away in the meantime.
    directoryFd_ = ::open(directory.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (directoryFd_ < 0) throwPathError(targetPath_, errno);
    const std::string stem = ".talveco-" + std::to_string(::getpid());
    // 0666 lets the umask and any default ACL of the directory decide the
    // permissions, exactly as for a file created under its final name.
    for (unsigned attempt = 0;; ++attempt) {
        temporaryName_ = stem + "-" + std::to_string(attempt) + ".tmp";
        temporaryPath_ = directory + "/" + temporaryName_;
        // Registered before it is made, so that no interrupt finds the file
        // made but not yet registered. Should the name be taken, it is by one
        // of this process's own unfinished files (the name holds its pid) or
        // by one left behind by a process long gone, which an interrupt may
        // as well remove.
        PendingRemoval pending(directoryFd_, temporaryName_);
        if (!pending.armed()) refuseUnregistered();
        fd_ = ::openat(directoryFd_, temporaryName_.c_str(),
                       O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd_ >= 0) {
            pendingRemoval_ = std::move(pending);
            return;
        }
        if (errno != EEXIST || attempt == 999) {
            const int error = errno;
            temporaryName_.clear();
            temporaryPath_.clear();
            ::close(directoryFd_);  // no destructor runs for a failed constructor
            directoryFd_ = -1;
            throwPathError(targetPath_, error);
        }
    }
}

// A file the interrupt handler does not know of would outlive an interrupt:
// it is not made at all.
void OutputFile::refuseUnregistered() {
    ::close(directoryFd_);  // no destructor runs for a failed constructor
    directoryFd_ = -1;
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
    while (!bytes.empty()) {
        const ssize_t put = ::pwrite(fd, bytes.data(), bytes.size(), static_cast<off_t>(offset));
        if (put < 0 && errno == EINTR) continue;
        if (put < 0) throwErrno(errno);
        if (put == 0) throw Failure(FailureKind::DiskFull, ENOSPC);
        bytes = bytes.subspan(static_cast<std::size_t>(put));
        offset += static_cast<std::uint64_t>(put);
    }
}

// A file replaced keeps its permissions, as when it is written over in place
// (cp, an editor): a private 0600 file must not become readable by all. The
// owner and group are kept where this process may set them; where it may not,
// set-user-ID and set-group-ID are dropped rather than given to another owner.
// A new file keeps what the umask and the directory's default ACL gave it. A
// file system without Unix permissions (FAT) refuses the change and decides
// them itself, so its refusal does not fail the output.
void OutputFile::takeTargetsPermissions() noexcept {
    struct stat target {};
    if (::stat(targetPath_.c_str(), &target) != 0 || !S_ISREG(target.st_mode)) return;
    struct stat own {};
    if (::fstat(fd_, &own) != 0) return;
    mode_t mode = target.st_mode & 07777;
    if (own.st_uid != target.st_uid || own.st_gid != target.st_gid) {
        if (::fchown(fd_, target.st_uid, target.st_gid) != 0) mode &= ~mode_t{S_ISUID | S_ISGID};
    }
    ::fchmod(fd_, mode);
}

DescriptorCopy::DescriptorCopy(int descriptor) : fd_(::fcntl(descriptor, F_DUPFD_CLOEXEC, 0)) {
    if (fd_ < 0) throwErrno(errno);
}

DescriptorCopy::~DescriptorCopy() {
    if (fd_ >= 0) ::close(fd_);
}

void DescriptorCopy::close() {
    const int fd = std::exchange(fd_, -1);
    if (fd >= 0 && ::close(fd) != 0 && errno != EINTR) throwErrno(errno);
}

bool isPipeOrSocket(int fd) noexcept {
    struct stat info {};
    return ::fstat(fd, &info) == 0 && (S_ISFIFO(info.st_mode) || S_ISSOCK(info.st_mode));
}

void OutputFile::commit() {
    takeTargetsPermissions();
    // close() is where some file systems report that the data could not be
    // stored; the file is only put in place when it succeeded.
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0 && errno != EINTR) throwErrno(errno);
    if (::rename(temporaryPath_.c_str(), targetPath_.c_str()) != 0) {
        throwPathError(targetPath_, errno);
    }
    pendingRemoval_.release();
    committed_ = true;
}

void OutputFile::discard() noexcept {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    if (!temporaryName_.empty()) ::unlinkat(directoryFd_, temporaryName_.c_str(), 0);
    pendingRemoval_.release();
}

}  // namespace talveco
