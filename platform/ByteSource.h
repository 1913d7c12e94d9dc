// Where the decoder's bytes come from: a file, or bytes already in memory.
#pragma once

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

}  // namespace talveco
