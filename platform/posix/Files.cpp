#include "platform/Files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>
#include <tuple>

#include "platform/Console.h"
#include "platform/Failure.h"
#include "platform/OutputFile.h"
#include "platform/PathErrors.h"

namespace talveco {
namespace {

// The null device by its device number rather than its name: any name or
// link that leads to it is the same harmless sink.
bool isNullDevice(const struct stat& info) {
    struct stat null {};
    return S_ISCHR(info.st_mode) && ::stat("/dev/null", &null) == 0 && S_ISCHR(null.st_mode) &&
           info.st_rdev == null.st_rdev;
}

FileKind kindOf(const struct stat& info) {
    if (S_ISREG(info.st_mode)) return FileKind::Regular;
    if (S_ISDIR(info.st_mode)) return FileKind::Directory;
    if (S_ISLNK(info.st_mode)) return FileKind::SymbolicLink;
    if (S_ISFIFO(info.st_mode)) return FileKind::Pipe;
    if (S_ISSOCK(info.st_mode)) return FileKind::Socket;
    if (isNullDevice(info)) return FileKind::NullDevice;
    if (S_ISCHR(info.st_mode) || S_ISBLK(info.st_mode)) return FileKind::Device;
    return FileKind::Other;
}

FileStatus statusFrom(const struct stat& info) {
    return FileStatus{kindOf(info), FileIdentity{info.st_dev, info.st_ino},
                      S_ISREG(info.st_mode) ? static_cast<std::uint64_t>(info.st_size) : 0};
}

int descriptorOf(StandardStream stream) {
    return stream == StandardStream::Input ? 0 : 1;
}

}  // namespace

std::optional<FileStatus> statusOf(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return std::nullopt;
    return statusFrom(info);
}

std::optional<FileStatus> linkStatusOf(const std::string& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) return std::nullopt;
    return statusFrom(info);
}

std::optional<FileStatus> statusOf(StandardStream stream) {
    struct stat info {};
    if (::fstat(descriptorOf(stream), &info) != 0) return std::nullopt;
    return statusFrom(info);
}

bool isTerminal(StandardStream stream) {
    return ::isatty(descriptorOf(stream)) == 1;
}

std::optional<std::uint64_t> rewritableStandardOutputStart() {
    struct stat info {};
    const int flags = ::fcntl(1, F_GETFL);
    if (::fstat(1, &info) != 0 || !S_ISREG(info.st_mode) || flags < 0 || (flags & O_APPEND)) {
        return std::nullopt;
    }
    const off_t position = ::lseek(1, 0, SEEK_CUR);
    if (position < 0) return std::nullopt;
    return static_cast<std::uint64_t>(position);
}

DeviceOutput::DeviceOutput(const std::string& path) {
    fd_ = ::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
    if (fd_ < 0) throwPathError(path, errno);
}

DeviceOutput::~DeviceOutput() {
    if (fd_ >= 0) ::close(fd_);
}

void DeviceOutput::write(std::span<const std::uint8_t> bytes) {
    writeAll(fd_, bytes);
}

void DeviceOutput::writeAt(std::uint64_t offset, std::span<const std::uint8_t> bytes) {
    writeAllAt(fd_, offset, bytes);
}

MadeFolders::~MadeFolders() {
    for (Made& folder : made_) {
        folder.pending.release();
        ::close(folder.parentFd);
    }
}

void MadeFolders::make(const std::string& path) {
    // Each folder on the way, from the first: "a/b/c" is "a", "a/b", "a/b/c".
    for (std::size_t end = path.find('/', 1);; end = path.find('/', end + 1)) {
        const std::string folder = path.substr(0, end);
        if (!folder.empty() && folder.back() != '/') {
            if (::mkdir(folder.c_str(), 0777) == 0) {
                remember(folder);
            } else if (errno != EEXIST) {
                throw std::system_error(errno, std::generic_category(), folder);
            } else if (struct stat info{};
                       ::stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
                throw std::system_error(ENOTDIR, std::generic_category(), folder);
            }
        }
        if (end == std::string::npos) return;
    }
}

// Registered only once it exists: an interrupt just before would leave an
// empty folder, which is harmless, while one registered before mkdir could
// remove a folder someone else had just made.
void MadeFolders::remember(const std::string& folder) {
    const auto slash = folder.find_last_of('/');
    const std::string name = slash == std::string::npos ? folder : folder.substr(slash + 1);
    const int parentFd = ::open(directoryOf(folder).c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (parentFd < 0) return;  // it stays, as it would have without the clean-up
    made_.push_back(Made{parentFd, PendingRemoval(parentFd, name, Removal::EmptyFolder)});
}

}  // namespace talveco
