#include "platform/ScratchFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

#include "platform/Failure.h"
#include "platform/OutputFile.h"

namespace talveco {
namespace {

// A nameless file in `directory`: O_TMPFILE where the file system has it,
// else a named one removed at once.
int openNameless(const std::string& directory) {
    const int fd = ::open(directory.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd >= 0 || errno == ENOENT || errno == ENOTDIR || errno == EACCES) return fd;
    std::string pattern = directory + "/.talveco-scratch-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    const int named = ::mkostemp(name.data(), O_CLOEXEC);
    if (named >= 0) ::unlink(name.data());
    return named;
}

std::string temporaryDirectory() {
    const char* dir = std::getenv("TMPDIR");
    return dir && *dir ? dir : "/tmp";
}

}  // namespace

ScratchFile::ScratchFile(const std::string& directory) {
    if (!directory.empty()) fd_ = openNameless(directory);
    if (fd_ < 0) fd_ = openNameless(temporaryDirectory());
    if (fd_ < 0) throwErrno(errno);
}

ScratchFile::~ScratchFile() { ::close(fd_); }

void ScratchFile::append(std::span<const std::byte> bytes) {
    writeAllAt(fd_, size_, {reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()});
    size_ += bytes.size();
}

void ScratchFile::read(std::uint64_t offset, std::span<std::byte> out) const {
    if (offset + out.size() > size_) throw Failure(FailureKind::IoError, EINVAL);
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
