// A file for data too large to hold in memory: nameless from the start, so
// that nothing is left behind however the process ends, and gone when
// the object is destroyed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace talveco {

class ScratchFile {
  public:
    // Created in `directory` (a file system with room, unlike a /tmp held in
    // memory); where it cannot be made there, or `directory` is empty, in
    // $TMPDIR or /tmp.
    explicit ScratchFile(const std::string& directory);
    ~ScratchFile();
    ScratchFile(const ScratchFile&) = delete;
    ScratchFile& operator=(const ScratchFile&) = delete;

    // Appends all of `bytes` ("Disk full" when they do not fit).
    void append(std::span<const std::byte> bytes);
    // Fills `out` with the bytes from `offset` on, which must have been written.
    void read(std::uint64_t offset, std::span<std::byte> out) const;

  private:
    int fd_ = -1;
    std::uint64_t size_ = 0;
};

}  // namespace talveco
