// Test inputs for talveco-encode: generated samples written with libsndfile in any of its
// formats, and the library's own encoding of samples, to compare the program against.
#pragma once

#include <sndfile.h>

#include <cstdint>
#include <filesystem>
#include <span>
#include <vector>

#include "talveco/encoder.h"

namespace talveco::testing {

// Writes interleaved samples; 32-bit integers are scaled to the format as libsndfile does
// (a 24-bit file keeps the top 24 bits), floats are stored as they are in float formats.
void writeSoundFile(const std::filesystem::path& path, int format, int channels, int rate,
                    std::span<const std::int32_t> samples);
void writeSoundFile(const std::filesystem::path& path, int format, int channels, int rate,
                    std::span<const float> samples);
void writeSoundFile(const std::filesystem::path& path, int format, int channels, int rate,
                    std::span<const std::int16_t> samples);
void writeWav16(const std::filesystem::path& path, int channels, int rate,
                std::span<const std::int16_t> samples);

// A few tones and some noise at about -10 dBFS after a fade-in, interleaved, the same on
// every run.
std::vector<std::int16_t> testSignal(std::size_t frames, unsigned channels, std::uint32_t seed);

struct LibraryEncoding {
    std::vector<std::uint8_t> bytes;    // the stream
    std::vector<std::int16_t> decoded;  // what the encoder predicts it decodes to
};
LibraryEncoding encodeWithLibrary(std::span<const std::int16_t> samples, unsigned channels,
                                  unsigned rate, const EncoderSettings& settings);

// The samples in the data chunk of a RIFF WAVE file.
std::vector<std::int16_t> wavDataSamples(const std::filesystem::path& path);

}  // namespace talveco::testing
