#include "encoder/RateControl.h"

#include <algorithm>

namespace talveco {

double qualityStep(std::span<const double> blockValues, double quality) {
    double energy = 0.0;
    for (const double v : blockValues)
        energy += v * v;
    const double rms =
        std::sqrt(energy / static_cast<double>(std::max<std::size_t>(1, blockValues.size())));
    // A uniform quantiser's noise is step / sqrt(12): the step that puts the
    // noise `snrDb` below the block's level.
    const double snrDb = 6.0 + 5.0 * std::clamp(quality, 0.0, 10.0);
    return std::max(1.0, std::sqrt(12.0) * rms * std::pow(10.0, -snrDb / 20.0));
}

}  // namespace talveco
