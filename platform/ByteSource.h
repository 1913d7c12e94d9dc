// Where the decoder's bytes come from: a file, or bytes already in memory.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>

namespace talveco {

class ByteSource {
  public:
    virtual ~ByteSource() = default;

    // Stores up to buffer.size() bytes at the start of buffer and returns how
    // many; 0 means the end of the data. Raises a Failure on a read error.
    virtual std::size_t readSome(std::span<std::uint8_t> buffer) = 0;
};

// Bytes already in memory, which must outlive the source, read from the start.
class BytesInView final : public ByteSource {
  public:
    explicit BytesInView(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

    std::size_t readSome(std::span<std::uint8_t> buffer) override {
        const std::size_t count = std::min(buffer.size(), bytes_.size() - position_);
        std::copy_n(bytes_.begin() + static_cast<std::ptrdiff_t>(position_), count, buffer.begin());
        position_ += count;
        return count;
    }

  private:
    std::span<const std::uint8_t> bytes_;
    std::size_t position_ = 0;
};

}  // namespace talveco
