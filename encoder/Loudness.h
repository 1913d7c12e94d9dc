// How loud a run of samples is, for the check of the transform's levels.
#pragma once

#include <cstdint>
#include <span>

namespace talveco {

// Its peak magnitude and its energy (the sum of the squared samples).
struct Loudness {
    double peak = 0;
    double energy = 0;
};

// Exact for runs of up to 2^23 samples (the level check measures segments
// of 2^16), where every partial sum of squares is a whole number below 2^53.
Loudness loudnessOf(std::span<const std::int16_t> samples);

// The same, summed in floating point sample after sample: the plain form
// loudnessOf() must agree with.
Loudness loudnessOfBySamples(std::span<const std::int16_t> samples);

}  // namespace talveco
