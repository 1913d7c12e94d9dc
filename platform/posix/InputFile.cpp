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
    try {
        learnWhatItIs();
    } catch (...) {
        ::close(fd_);
        throw;
    }
    const int flags = ::fcntl(fd_, F_GETFL);
    if (flags >= 0) ::fcntl(fd_, F_SETFL, flags & ~O_NONBLOCK);
}

std::unique_ptr<InputFile> InputFile::standardInput() {
    std::unique_ptr<InputFile> input(new InputFile());
    input->fd_ = STDIN_FILENO;
    input->owned_ = false;
    input->learnWhatItIs();
    return input;
}

// A directory is refused here, where its open succeeded: reading it would
// fail later with a less telling error.
void InputFile::learnWhatItIs() {
    struct stat info {};
    if (::fstat(fd_, &info) != 0) throwErrno(errno);
    if (S_ISDIR(info.st_mode)) throw Failure(FailureKind::AccessDenied, EISDIR);
    seekable_ = ::lseek(fd_, 0, SEEK_CUR) >= 0;
    identity_ = FileIdentity{info.st_dev, info.st_ino};
}

std::uint64_t InputFile::size() const {
    struct stat info {};
    if (::fstat(fd_, &info) != 0) throw Failure(FailureKind::IoError, errno);
    return S_ISREG(info.st_mode) ? static_cast<std::uint64_t>(info.st_size) : 0;
}

InputFile::~InputFile() {
    if (owned_ && fd_ >= 0) ::close(fd_);
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

std::size_t InputFile::readAt(std::uint64_t offset, std::span<std::uint8_t> buffer) const {
    std::size_t filled = 0;
    while (filled < buffer.size()) {
        const ssize_t got = ::pread(fd_, buffer.data() + filled, buffer.size() - filled,
                                    static_cast<off_t>(offset + filled));
        if (got == 0) break;
        if (got > 0) {
            filled += static_cast<std::size_t>(got);
        } else if (errno != EINTR) {
            throw Failure(FailureKind::IoError, errno);
        }
    }
    return filled;
}

}  // namespace talveco
