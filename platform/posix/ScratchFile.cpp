#include "platform/ScratchFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>

#include "platform/Failure.h"
#include "platform/Interrupts.h"
#include "platform/OutputFile.h"

namespace talveco {
namespace {

// A file made under a name in the directory open as `directoryFd` and
// removed at once. The name is registered for removal on an interrupt
// before the file is made, so that no interrupt between the two steps
// leaves it behind; a name taken is one of this process's own (it holds the
// pid) or one left by a process long gone.
int openNamedAndRemoved(int directoryFd) {
    const std::string stem = ".talveco-scratch-" + std::to_string(::getpid()) + "-";
    for (unsigned attempt = 0; attempt < 1000; ++attempt) {
        const std::string name = stem + std::to_string(attempt);
        const PendingRemoval pending(directoryFd, name);
        if (!pending.armed()) {
            errno = EMFILE;  // a file no interrupt would remove is not made
            return -1;
        }
        const int fd =
            ::openat(directoryFd, name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd >= 0) {
            ::unlinkat(directoryFd, name.c_str(), 0);
            return fd;
        }
        if (errno != EEXIST) return -1;
    }
    return -1;
}

// A nameless file in `directory`: O_TMPFILE where the file system has it,
// else a named one removed at once.
int openNameless(const std::string& directory) {
    const int fd = ::open(directory.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd >= 0 || errno == ENOENT || errno == ENOTDIR || errno == EACCES) return fd;
    const int directoryFd = ::open(directory.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (directoryFd < 0) return -1;
    const int named = openNamedAndRemoved(directoryFd);
    const int error = errno;
    ::close(directoryFd);
    errno = error;
    return named;
}

}  // namespace

std::string temporaryDirectory() {
    const char* dir = std::getenv("TMPDIR");
    return dir && *dir ? dir : "/tmp";
}

const char* temporaryDirectoryVariable() {
    return "TMPDIR";
}

ScratchFile::ScratchFile(std::string directory) : directory_(std::move(directory)) {}

ScratchFile::~ScratchFile() {
    if (fd_ >= 0) ::close(fd_);
}

// Makes the file and moves the bytes held so far into it.
void ScratchFile::moveToFile() {
    if (!directory_.empty()) fd_ = openNameless(directory_);
    if (fd_ < 0) fd_ = openNameless(temporaryDirectory());
    if (fd_ < 0) {
        const int error = errno;
        throw Failure(FailureKind::IoError,
                      "no scratch file could be made in " +
                          (directory_.empty() ? "" : directory_ + " or ") + temporaryDirectory() +
                          " (" + std::strerror(error) + "); set " +
                          std::string(temporaryDirectoryVariable()) + " to a folder with room");
    }
    writeAllAt(fd_, 0, {reinterpret_cast<const std::uint8_t*>(held_.data()), held_.size()});
    std::vector<std::byte>().swap(held_);
}

void ScratchFile::read(std::uint64_t offset, std::span<std::byte> out) const {
    if (offset + out.size() > size_) throw Failure(FailureKind::IoError, EINVAL);
    if (fd_ < 0) {
        std::copy_n(held_.begin() + static_cast<std::ptrdiff_t>(offset), out.size(), out.begin());
        return;
    }
    while (!out.empty()) {
        const ssize_t got = ::pread(fd_, out.data(), out.size(), static_cast<off_t>(offset));
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) throwErrno(errno);
        if (got == 0) throw Failure(FailureKind::IoError, EIO);
        out = out.subspan(static_cast<std::size_t>(got));
        offset += static_cast<std::uint64_t>(got);
    }
}

}  // namespace talveco
