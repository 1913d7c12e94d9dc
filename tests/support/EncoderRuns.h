// Encoding generated samples in memory, and measuring what comes back, for
// the encoder's tests.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>
#include <vector>

#include "talveco/encoder.h"

namespace talveco::testing {

struct Encoded {
    std::vector<std::uint8_t> bytes;
    std::vector<std::int16_t> predicted;  // what the encoder says the stream decodes to
    EncoderReport report;
};

// Encodes at 22050 Hz in pieces of `piece` samples (all at once when 0).
inline Encoded encodeInMemory(std::span<const std::int16_t> samples, unsigned channels,
                              const EncoderSettings& settings, std::size_t piece = 0) {
    Encoded out;
    AcmEncoder encoder = AcmEncoder::toMemory(channels, 22050, settings);
    encoder.onDecoded([&out](std::span<const std::int16_t> decoded) {
        out.predicted.insert(out.predicted.end(), decoded.begin(), decoded.end());
    });
    const std::size_t step = piece == 0 ? std::max<std::size_t>(1, samples.size()) : piece;
    for (std::size_t i = 0; i < samples.size(); i += step)
        encoder.write(samples.subspan(i, std::min(step, samples.size() - i)));
    out.report = encoder.finish();
    out.bytes = encoder.bytes();
    return out;
}

// The SNR of `decoded` against `input` over samples first .. last - 1;
// +infinity when they are equal.
inline double snrDb(std::span<const std::int16_t> input, std::span<const std::int16_t> decoded,
                    std::size_t first = 0, std::size_t last = SIZE_MAX) {
    double signal = 0;
    double error = 0;
    for (std::size_t i = first; i < std::min({input.size(), decoded.size(), last}); ++i) {
        const double e = double(decoded[i]) - input[i];
        signal += double(input[i]) * input[i];
        error += e * e;
    }
    return error == 0 ? std::numeric_limits<double>::infinity() : 10 * std::log10(signal / error);
}

inline EncoderSettings atQuality(double quality) {
    EncoderSettings settings;
    settings.quality = quality;
    return settings;
}

inline EncoderSettings atBitrate(double kbps) {
    EncoderSettings settings;
    settings.bitrateKbps = kbps;
    return settings;
}

}  // namespace talveco::testing
