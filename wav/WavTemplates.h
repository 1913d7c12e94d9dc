// The two fixed byte blocks of every output file: the 44-byte RIFF/WAVE header
// in front of the data and the 72-byte LIST/INFO trailer behind it. Both start
// from their fixed contents; only the format fields (for mono) and the length
// fields are ever changed.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace talveco {

class WavHeaderTemplate {
  public:
    static constexpr std::size_t kSize = 44;

    WavHeaderTemplate();

    // One channel instead of two: channel count, bytes per second and block
    // alignment change; rate and sample width stay.
    void applyMono();
    // Data length and RIFF length for `dataBytes` of samples followed by the
    // trailer and a name of `nameLength` bytes.
    void patchLengths(std::uint32_t dataBytes, std::uint32_t nameLength);

    std::span<const std::uint8_t, kSize> bytes() const noexcept { return bytes_; }

  private:
    std::array<std::uint8_t, kSize> bytes_;
};

class InfoChunkTemplate {
  public:
    static constexpr std::size_t kSize = 72;

    InfoChunkTemplate();

    void patchLengths(std::uint32_t nameLength);

    std::span<const std::uint8_t, kSize> bytes() const noexcept { return bytes_; }

  private:
    std::array<std::uint8_t, kSize> bytes_;
};

// The length a header states when it is written before the data's length is
// known and cannot be corrected later (standard output into a pipe): readers
// take the data to run to the end of the file.
inline constexpr std::uint32_t kUnknownWavLength = 0xFFFFFFFF;

// A plain 16-bit PCM header for `channels` at `rate` with nothing after the
// data: the RIFF length counts the header's remaining 36 bytes and the data.
// kUnknownWavLength as `dataBytes` states an unknown length in both fields.
std::array<std::uint8_t, WavHeaderTemplate::kSize> pcmWavHeader(unsigned channels,
                                                                std::uint32_t rate,
                                                                std::uint32_t dataBytes);

// Bytes that follow the data besides the name: the RIFF length counts the
// rest of the header (36 bytes), the trailer and the name.
inline constexpr std::uint32_t kRiffOverhead =
    WavHeaderTemplate::kSize - 8 + InfoChunkTemplate::kSize;

}  // namespace talveco
