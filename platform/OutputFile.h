// The output file, written safely: the data goes to a new temporary file in
// the target's directory, which replaces the target only when commit() is
// called after the last byte. Until then an existing file of the target's name
// stays as it was, and a run that fails removes the temporary file again.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "platform/FileIdentity.h"
#include "platform/Interrupts.h"

namespace talveco {

class OutputFile {
  public:
    // The number reported when the target is the very file being read: it
    // would be destroyed by the replacement, so the run is refused.
    static constexpr int kSharingViolation = 32;

    // Refuses a target that is the file `input` (or a link to it) with
    // "I/O error 32", and one that is a directory, a device, FIFO or socket,
    // or an existing file this user may not write with "File access denied";
    // then creates the temporary file, failing when the interrupt registry
    // has no room for it (see PendingRemoval).
    OutputFile(std::string targetPath, std::optional<FileIdentity> input);
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Appends all of `bytes`; a write that cannot store them all is "Disk full".
    void write(std::span<const std::uint8_t> bytes);
    // Overwrites bytes already written, at `offset` from the start.
    void writeAt(std::uint64_t offset, std::span<const std::uint8_t> bytes);
    // Closes the file and moves it to the target's name. A file it replaces
    // passes on its permission bits (and its owner and group where this
    // process may set them).
    void commit();

    const std::string& temporaryPath() const noexcept { return temporaryPath_; }
    // For writers that take a descriptor (libsndfile); it stays owned here.
    int descriptor() const noexcept { return fd_; }

  private:
    void createTemporary();
    [[noreturn]] void refuseUnregistered();
    void takeTargetsPermissions() noexcept;
    void discard() noexcept;

    std::string targetPath_;
    std::string temporaryPath_;
    std::string temporaryName_;      // temporaryPath_ within the directory
    int directoryFd_ = -1;           // the target's directory, as it was at creation
    PendingRemoval pendingRemoval_;  // the temporary file, for an interrupt
    int fd_ = -1;
    bool committed_ = false;
};

// A second descriptor for an open file, for a library that may close the one it is given:
// libsndfile closes a descriptor it failed to open a sound on, even when told to leave it
// open. Closed when it goes, unless released to the one that closed it.
class DescriptorCopy {
  public:
    explicit DescriptorCopy(int descriptor);  // raises a Failure when none can be had
    ~DescriptorCopy();
    DescriptorCopy(const DescriptorCopy&) = delete;
    DescriptorCopy& operator=(const DescriptorCopy&) = delete;

    int get() const noexcept { return fd_; }
    void release() noexcept { fd_ = -1; }
    // Closes it now, raising a Failure when the system reports that data written through
    // it could not be stored (some file systems say so only here).
    void close();

  private:
    int fd_ = -1;
};

// Whether the descriptor is a pipe or a socket: an output that only goes
// forward, and one libsndfile recognises as such.
bool isPipeOrSocket(int fd) noexcept;

// Writes all of `bytes` to the descriptor at `offset` from the file's start,
// failing as writeAll does (platform/Console.h).
void writeAllAt(int fd, std::uint64_t offset, std::span<const std::uint8_t> bytes);

}  // namespace talveco
