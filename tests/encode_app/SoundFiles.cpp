#include "tests/encode_app/SoundFiles.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>
#include <stdexcept>
#include <string>

#include "tests/support/Noise.h"
#include "tests/support/TempDir.h"

namespace talveco::testing {
namespace {

// Opens `path` for writing in `format`; the caller writes and closes.
SNDFILE* openForWriting(const std::filesystem::path& path, int format, int channels, int rate) {
    SF_INFO info{};
    info.format = format;
    info.channels = channels;
    info.samplerate = rate;
    SNDFILE* file = ::sf_open(path.c_str(), SFM_WRITE, &info);
    if (file == nullptr) throw std::runtime_error(std::string("sf_open: ") + sf_strerror(nullptr));
    return file;
}

void finishWriting(SNDFILE* file, sf_count_t written, sf_count_t wanted) {
    const int closed = ::sf_close(file);
    if (written != wanted || closed != 0) throw std::runtime_error("writing a sound file failed");
}

std::uint32_t readLe(std::span<const std::uint8_t> bytes, std::size_t at) {
    return bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 |
           static_cast<std::uint32_t>(bytes[at + 3]) << 24;
}

}  // namespace

void writeSoundFile(const std::filesystem::path& path, int format, int channels, int rate,
                    std::span<const std::int32_t> samples) {
    SNDFILE* file = openForWriting(path, format, channels, rate);
    const auto frames = static_cast<sf_count_t>(samples.size()) / channels;
    finishWriting(file, ::sf_writef_int(file, samples.data(), frames), frames);
}

void writeSoundFile(const std::filesystem::path& path, int format, int channels, int rate,
                    std::span<const float> samples) {
    SNDFILE* file = openForWriting(path, format, channels, rate);
    const auto frames = static_cast<sf_count_t>(samples.size()) / channels;
    finishWriting(file, ::sf_writef_float(file, samples.data(), frames), frames);
}

void writeWav16(const std::filesystem::path& path, int channels, int rate,
                std::span<const std::int16_t> samples) {
    writeSoundFile(path, SF_FORMAT_WAV | SF_FORMAT_PCM_16, channels, rate, samples);
}

void writeSoundFile(const std::filesystem::path& path, int format, int channels, int rate,
                    std::span<const std::int16_t> samples) {
    SNDFILE* file = openForWriting(path, format, channels, rate);
    const auto frames = static_cast<sf_count_t>(samples.size()) / channels;
    finishWriting(file, ::sf_writef_short(file, samples.data(), frames), frames);
}

std::vector<std::int16_t> testSignal(std::size_t frames, unsigned channels, std::uint32_t seed) {
    Noise noise(seed);
    std::vector<std::int16_t> samples(frames * channels);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const double t = static_cast<double>(i / channels) / 22050.0;
        const double tones = 5000 * std::sin(2 * std::numbers::pi * 440 * t) +
                             2500 * std::sin(2 * std::numbers::pi *
                                             static_cast<double>(1250 + 300 * (i % channels)) * t);
        const double hiss = static_cast<double>(noise.next() % 2001) - 1000;
        // A fade-in: a sound that starts loud cannot be reproduced at its first samples.
        const double fade = std::min(1.0, static_cast<double>(i / channels) / 1024.0);
        samples[i] = static_cast<std::int16_t>(std::lround(fade * (tones + hiss)));
    }
    return samples;
}

LibraryEncoding encodeWithLibrary(std::span<const std::int16_t> samples, unsigned channels,
                                  unsigned rate, const EncoderSettings& settings) {
    LibraryEncoding result;
    AcmEncoder encoder = AcmEncoder::toMemory(channels, rate, settings);
    encoder.onDecoded([&result](std::span<const std::int16_t> piece) {
        result.decoded.insert(result.decoded.end(), piece.begin(), piece.end());
    });
    encoder.write(samples);
    encoder.finish();
    result.bytes = encoder.bytes();
    return result;
}

std::vector<std::int16_t> wavDataSamples(const std::filesystem::path& path) {
    const std::vector<std::uint8_t> bytes = readFileBytes(path);
    for (std::size_t at = 12; at + 8 <= bytes.size();) {
        const std::uint32_t size = readLe(bytes, at + 4);
        if (std::memcmp(&bytes[at], "data", 4) == 0) {
            std::vector<std::int16_t> samples(std::min<std::size_t>(size, bytes.size() - at - 8) /
                                              2);
            std::memcpy(samples.data(), &bytes[at + 8], samples.size() * 2);
            return samples;
        }
        at += 8 + size + (size & 1);
    }
    throw std::runtime_error(path.string() + " has no data chunk");
}

}  // namespace talveco::testing
