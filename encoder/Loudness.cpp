#include "encoder/Loudness.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace talveco {

Loudness loudnessOfBySamples(std::span<const std::int16_t> samples) {
    Loudness out;
    for (const std::int16_t s : samples) {
        const double v = s;
        out.peak = std::max(out.peak, std::abs(v));
        out.energy += v * v;
    }
    return out;
}

// The level check scans every sample of a long input at each level it
// tries; in floating point each sum waits for the one before. Squares of
// 16-bit samples are whole numbers below 2^30, so that integer sums in
// vector lanes give the same energy as long as every partial sum stays
// below 2^53, where the floating-point one is exact too. Longer runs are
// summed in pieces of 2^23 samples.
Loudness loudnessOf(std::span<const std::int16_t> samples) {
    constexpr std::size_t piece = std::size_t{1} << 23;
    Loudness out;
    int peak = 0;
    for (std::size_t first = 0; first < samples.size(); first += piece) {
        const std::size_t end = std::min(samples.size(), first + piece);
        std::int64_t energy = 0;
        for (std::size_t i = first; i < end; ++i) {
            const int v = samples[i];
            peak = std::max(peak, std::abs(v));
            energy += std::int64_t{v * v};
        }
        out.energy += double(energy);
    }
    out.peak = peak;
    return out;
}

}  // namespace talveco
