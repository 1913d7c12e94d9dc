// The operations through which the conversion job pulls audio from a source.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "platform/FileIdentity.h"

namespace talveco {

class SoundSource {
  public:
    virtual ~SoundSource() = default;

    // Opens the named source and makes it ready for size() and read(). Raises
    // a Failure with the message for the user; prints nothing.
    virtual void open(const std::string& path) = 0;

    // The total number of bytes the source will deliver (even, never negative).
    virtual std::int32_t size() const = 0;

    // Stores between 0 and buffer.size() bytes at the start of buffer, 16-bit
    // little-endian samples, and returns their number. 0 ends the data.
    virtual std::size_t read(std::span<std::uint8_t> buffer) = 0;

    // The file the source reads from, if any, so that the output never
    // replaces it.
    virtual std::optional<FileIdentity> inputIdentity() const { return std::nullopt; }

    // Bytes delivered so far that the input did not hold (a truncated file
    // decoded on from zero bits).
    virtual std::uint64_t bytesPastInputEnd() const { return 0; }

    // Blocks met so far that could not be decoded (their audio is missing
    // from what read() delivered).
    virtual std::uint64_t damagedBlocks() const { return 0; }
};

}  // namespace talveco
