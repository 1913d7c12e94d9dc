// An existing file opened for reading only. The converter never writes to its
// input, so a read-only file or medium converts like any other.
#pragma once

#include <string>

#include "platform/ByteSource.h"
#include "platform/FileIdentity.h"

namespace talveco {

class InputFile final : public ByteSource {
  public:
    // Raises "File not found", "Invalid filename", "File access denied" (also
    // for a directory) or another mapped Failure.
    explicit InputFile(const std::string& path);
    ~InputFile() override;
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    std::size_t readSome(std::span<std::uint8_t> buffer) override;
    FileIdentity identity() const noexcept { return identity_; }
    // For readers that take a descriptor (libsndfile); it stays owned here.
    int descriptor() const noexcept { return fd_; }

  private:
    int fd_ = -1;
    FileIdentity identity_;
};

}  // namespace talveco
