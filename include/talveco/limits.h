// talveco: what an ACM stream can hold, and what the encoder accepts. The one
// table of these limits: the decoder, the encoder and both programs check
// against it, and their messages quote it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace talveco::limits {

// The header's sample count (16-bit values, all channels together) is a
// 32-bit field, but twice it is the decoded byte size, which has to fit a
// signed 32-bit length: decoders refuse 2^30 values or more.
inline constexpr std::uint32_t maxSamples = (std::uint32_t{1} << 30) - 1;

// Channels and rate are 16-bit header fields; 0 describes no audio.
inline constexpr unsigned minChannels = 1;
inline constexpr unsigned maxChannels = 65535;
inline constexpr unsigned minSampleRate = 1;
inline constexpr unsigned maxSampleRate = 65535;
// The rates of samples the C interface resamples to the stream's: any that
// studio equipment records at, up to 16 times 48 kHz.
inline constexpr unsigned maxInputSampleRate = 768000;

// The block geometry: 4 bits of levels (2^levels columns), 12 bits of rows.
// A stream with samples needs at least one row.
inline constexpr unsigned maxLevels = 15;
inline constexpr unsigned minRows = 1;
inline constexpr unsigned maxRows = 4095;

// The largest block (2^levels x rows values) the encoder makes. The format
// allows 2^15 x 4095 (134 M values, 537 MB to decode), but the encoder's
// analysis and trials grow with the block and such blocks code no better
// than small ones: 2^15 x 32 is the largest it accepts.
inline constexpr std::size_t maxEncoderBlockValues = std::size_t{1} << 20;

// The rows the encoder accepts with `levels`: those that keep a block within
// maxEncoderBlockValues (and the header's field).
constexpr unsigned maxEncoderRows(unsigned levels) noexcept {
    const std::size_t rows = maxEncoderBlockValues >> (levels > maxLevels ? maxLevels : levels);
    return rows < maxRows ? static_cast<unsigned>(rows) : maxRows;
}

// Constant-quality settings, 0 (smallest) to 10 (best), fractions allowed.
inline constexpr double minQuality = 0.0;
inline constexpr double maxQuality = 10.0;

// Average bitrates in kbit/s, all channels together. Below 1 kbit/s nothing
// recognisable is left; above 16 bits per value the stream would be larger
// than the samples themselves, which the finest step never needs.
inline constexpr double minBitrateKbps = 1.0;
inline constexpr unsigned maxBitsPerValue = 16;

constexpr double maxBitrateKbps(unsigned channels, unsigned sampleRate) noexcept {
    return double(maxBitsPerValue) * double(channels) * double(sampleRate) / 1000.0;
}

}  // namespace talveco::limits
