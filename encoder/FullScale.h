// Floating-point samples, full scale being -1 to 1, rounded to the 16-bit
// samples the encoder takes: the one rounding of every input path (sound
// files, the C interface, the Python module), so that they code alike.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace talveco {

// Rounds to nearest; a value beyond full scale is clipped and counted in
// `clipped`, NaN becomes 0 and is counted in `notNumbers`.
inline std::int16_t sixteenBitsFromFullScale(double value, std::uint64_t& clipped,
                                             std::uint64_t& notNumbers) {
    if (std::isnan(value)) {
        ++notNumbers;
        return 0;
    }
    const double scaled = value * 32768.0;
    if (scaled >= 32767.5 || scaled < -32768.5) ++clipped;
    return static_cast<std::int16_t>(std::lround(std::clamp(scaled, -32768.0, 32767.0)));
}

}  // namespace talveco
