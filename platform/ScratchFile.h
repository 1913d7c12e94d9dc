// Room for data too large to hold in memory: the first kHeldInMemory bytes
// stay in memory (a short input, the encoder's trials of a piece of one),
// the rest goes to a file, nameless from the start, so that nothing is left
// behind however the process ends, and gone when the object is destroyed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace talveco {

// Where scratch files go unless told otherwise: $TMPDIR, or /tmp when it is unset or empty.
std::string temporaryDirectory();
// The environment variable that names that folder, for messages that suggest setting it.
const char* temporaryDirectoryVariable();

class ScratchFile {
  public:
    static constexpr std::size_t kHeldInMemory = std::size_t{1} << 20;

    // The file, once needed, is made in `directory` (a file system with
    // room, unlike a /tmp held in memory); where it cannot be made there, or
    // `directory` is empty, in $TMPDIR or /tmp.
    explicit ScratchFile(std::string directory);
    ~ScratchFile();
    ScratchFile(const ScratchFile&) = delete;
    ScratchFile& operator=(const ScratchFile&) = delete;

    // Appends all of `bytes` ("Disk full" when they do not fit; an I/O error
    // that names the directories tried when no file can be made).
    void append(std::span<const std::byte> bytes);
    // Fills `out` with the bytes from `offset` on, which must have been written.
    void read(std::uint64_t offset, std::span<std::byte> out) const;

  private:
    void moveToFile();

    std::string directory_;
    std::vector<std::byte> held_;  // all bytes while there is no file
    int fd_ = -1;
    std::uint64_t size_ = 0;
};

}  // namespace talveco
