// What the programs ask the file system about the names on their command lines
// and about their standard streams, in terms that do not depend on the
// operating system: the programs decide what is safe, this only reports.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/FileIdentity.h"
#include "platform/Interrupts.h"

namespace talveco {

enum class FileKind {
    Regular,
    Directory,
    NullDevice,  // the one device that takes any bytes and keeps none
    Device,
    Pipe,
    Socket,
    SymbolicLink,  // only from linkStatusOf
    Other,
};

struct FileStatus {
    FileKind kind = FileKind::Other;
    FileIdentity identity;
    std::uint64_t size = 0;  // meaningful for a regular file only
};

// The file `path` leads to, through any links; nothing when there is none
// (also for a link that leads nowhere).
std::optional<FileStatus> statusOf(const std::string& path);

// The name `path` itself: a symbolic link is reported as one, even when it
// leads nowhere.
std::optional<FileStatus> linkStatusOf(const std::string& path);

// Orders identities, so that they can be kept in maps and sets.
struct IdentityOrder {
    bool operator()(const FileIdentity& a, const FileIdentity& b) const noexcept;
};

enum class StandardStream { Input, Output };

std::optional<FileStatus> statusOf(StandardStream stream);
bool isTerminal(StandardStream stream);

// Where standard output stands, when it is a regular file that can be written
// again at a known place later (a header completed at the end); nothing for a
// pipe, a terminal or a file opened to append.
std::optional<std::uint64_t> rewritableStandardOutputStart();

// Writes all of `bytes` to standard output, at `offset` from the file's start
// when one is given. Failures are raised as for any file (platform/Failure.h).
void writeStandardOutput(std::span<const std::uint8_t> bytes,
                         std::optional<std::uint64_t> offset = std::nullopt);

// Whether a failure raised by a write means the reader of the pipe or
// socket has gone.
bool isReaderGone(int errorNumber) noexcept;

// An existing file that is written in place, without a temporary file (the
// null device: nothing there to protect, and nothing to rename over it).
class DeviceOutput {
  public:
    explicit DeviceOutput(const std::string& path);
    ~DeviceOutput();
    DeviceOutput(const DeviceOutput&) = delete;
    DeviceOutput& operator=(const DeviceOutput&) = delete;

    void write(std::span<const std::uint8_t> bytes);
    void writeAt(std::uint64_t offset, std::span<const std::uint8_t> bytes);
    // For writers that take a descriptor (libsndfile); it stays owned here.
    int descriptor() const noexcept { return fd_; }

  private:
    int fd_ = -1;
};

// The folders a run made for its outputs. Each is removed again if the run is
// interrupted while the folder is still empty, so that a run stopped before
// it wrote anything leaves nothing behind; folders that were there before are
// never touched.
class MadeFolders {
  public:
    MadeFolders() = default;
    ~MadeFolders();
    MadeFolders(MadeFolders&&) noexcept = default;
    MadeFolders& operator=(MadeFolders&&) noexcept = default;

    // Makes `path` and its missing parents. Raises std::system_error, whose
    // code says why, when one cannot be made or is no folder.
    void make(const std::string& path);

  private:
    struct Made {
        int parentFd = -1;
        PendingRemoval pending;
    };
    void remember(const std::string& folder);

    std::vector<Made> made_;
};

}  // namespace talveco
