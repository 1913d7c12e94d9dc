// Generated 16-bit signals for encoder tests: tones, noise and hand-made
// edge cases, all deterministic.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "tests/support/Noise.h"

namespace talveco::testing {

inline std::int16_t clampedSample(double value) {
    return static_cast<std::int16_t>(std::lround(std::fmax(-32768.0, std::fmin(32767.0, value))));
}

// Sines of the given frequencies (Hz, at `rate`), each at `peak` (0 to 1 of
// full scale), added up.
inline std::vector<std::int16_t> tones(std::size_t count, double rate,
                                       std::initializer_list<double> frequencies, double peak) {
    std::vector<std::int16_t> out(count);
    const double twoPi = 2 * std::acos(-1.0);
    for (std::size_t i = 0; i < count; ++i) {
        double v = 0;
        for (const double f : frequencies)
            v += std::sin(twoPi * f * double(i) / rate);
        out[i] = clampedSample(32767.0 * peak * v);
    }
    return out;
}

// White noise, uniform over +-peak of full scale.
inline std::vector<std::int16_t> whiteNoise(std::size_t count, double peak, std::uint32_t seed) {
    Noise noise(seed);
    std::vector<std::int16_t> out(count);
    for (auto& s : out)
        s = clampedSample(peak * (double(noise.next() % 65536) - 32768.0));
    return out;
}

// `count` samples of `level`, with `value` at each of `positions`.
inline std::vector<std::int16_t> impulses(std::size_t count,
                                          std::initializer_list<std::size_t> positions,
                                          std::int16_t value, std::int16_t level = 0) {
    std::vector<std::int16_t> out(count, level);
    for (const std::size_t p : positions)
        if (p < count) out[p] = value;
    return out;
}

// A square wave swinging between the two extremes of the 16-bit range.
inline std::vector<std::int16_t> fullScaleSquare(std::size_t count, std::size_t halfPeriod) {
    std::vector<std::int16_t> out(count);
    for (std::size_t i = 0; i < count; ++i)
        out[i] = (i / halfPeriod) % 2 == 0 ? std::int16_t{32767} : std::int16_t{-32768};
    return out;
}

}  // namespace talveco::testing
