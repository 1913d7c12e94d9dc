#include "platform/InputFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/Failure.h"
#include "platform/PathErrors.h"

namespace talveco {

InputFile::InputFile(const std::string& path) {
    // O_NONBLOCK keeps a FIFO without a writer from hanging the open; it is
    // cleared again once the file is known.
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd_ < 0) throwPathError(path, errno);

    struct stat info {};
    if (::fstat(fd_, &info) != 0) {
        const int error = errno;
        ::close(fd_);
        throwErrno(error);
    }
    if (S_ISDIR(info.st_mode)) {
        ::close(fd_);
        throw Failure(FailureKind::AccessDenied, EISDIR);
    }
    const int flags = ::fcntl(fd_, F_GETFL);
    if (flags >= 0) ::fcntl(fd_, F_SETFL, flags & ~O_NONBLOCK);
    identity_ = FileIdentity{info.st_dev, info.st_ino};
}

InputFile::~InputFile() {
    if (fd_ >= 0) ::close(fd_);
}

std::size_t InputFile::readSome(std::span<std::uint8_t> buffer) {
    for (;;) {
        const ssize_t got = ::read(fd_, buffer.data(), buffer.size());
        if (got >= 0) return static_cast<std::size_t>(got);
        if (errno == EINTR) continue;
        // A read that fails is reported with its number, whatever it is: the
        // input is there, so no path-related message would be true.
        throw Failure(FailureKind::IoError, errno);
    }
}

}  // namespace talveco
