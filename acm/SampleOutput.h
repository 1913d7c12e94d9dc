// How a transformed value becomes an output sample. Internal to the decoder.
#pragma once

#include <cstdint>

namespace talveco {

// Bits levels to levels + 15 of the value's two's-complement form: the value
// shifted down by the transform's gain, wrapped rather than saturated.
inline std::int16_t outputSample(std::int32_t value, unsigned levels) {
    return static_cast<std::int16_t>(
        static_cast<std::uint16_t>(static_cast<std::uint32_t>(value) >> levels));
}

}  // namespace talveco
