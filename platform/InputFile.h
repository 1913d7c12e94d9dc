// An existing file opened for reading only. The converter never writes to its
// input, so a read-only file or medium converts like any other.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/ByteSource.h"
#include "platform/FileIdentity.h"
#include "talveco/talveco.h"

namespace talveco {

class InputFile final : public ByteSource {
  public:
    // Raises "File not found", "Invalid filename", "File access denied" (also
    // for a directory) or another mapped Failure.
    explicit InputFile(const std::string& path);
    // The process's standard input, whatever it is (a file, a pipe); it stays
    // open when the object goes. An I/O error when there is none.
    static std::unique_ptr<InputFile> standardInput();
    ~InputFile() override;
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    std::size_t readSome(std::span<std::uint8_t> buffer) override;
    // Fills `buffer` from `offset` on, leaving the position readSome reads
    // from alone; returns fewer bytes only at the end of the file. Only a
    // seekable file can be read so.
    std::size_t readAt(std::uint64_t offset, std::span<std::uint8_t> buffer) const;
    // The bytes a seekable file holds now (none for a device such as /dev/zero).
    std::uint64_t size() const;
    FileIdentity identity() const noexcept { return identity_; }
    // Whether the bytes can be read in any order and again: a regular file
    // or a device such as /dev/zero, not a pipe, socket or terminal.
    bool seekable() const noexcept { return seekable_; }
    // For readers that take a descriptor (libsndfile); it stays owned here.
    int descriptor() const noexcept { return fd_; }

  private:
    InputFile() = default;
    void learnWhatItIs();

    int fd_ = -1;
    bool owned_ = true;
    bool seekable_ = false;
    FileIdentity identity_;
};

// The reason of a failed open as the user should read it: the failure's text,
// and that the path is a directory where that is why.
std::string openFailureReason(const Failure& failure);

}  // namespace talveco
