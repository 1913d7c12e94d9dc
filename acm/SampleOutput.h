// How a transformed value becomes an output sample. Internal to the decoder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "acm/TransformKernels.h"

namespace talveco {

// Bits levels to levels + 15 of the value's two's-complement form: the value
// shifted down by the transform's gain, wrapped rather than saturated.
inline std::int16_t outputSample(std::int32_t value, unsigned levels) {
    return static_cast<std::int16_t>(
        static_cast<std::uint16_t>(static_cast<std::uint32_t>(value) >> levels));
}

// outputSample of every value, stored one after another from `out` on: as
// 16-bit samples, or as their little-endian bytes (2 per value), by the
// given kernels (by default the fastest this processor runs).
void storeSamples(std::span<const std::int32_t> values, unsigned levels, std::int16_t* out,
                  const TransformKernels& kernels = bestKernels());
void storeSampleBytes(std::span<const std::int32_t> values, unsigned levels, std::uint8_t* out,
                      const TransformKernels& kernels = bestKernels());

}  // namespace talveco
