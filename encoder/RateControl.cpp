#include "encoder/RateControl.h"

#include <algorithm>

namespace talveco {

QualityControl::QualityControl(double quality) {
    // A uniform quantiser's noise is step / sqrt(12); quality 0 puts it
    // `lowestSnrDb` below the level, and each quality point 4 dB further.
    constexpr double lowestSnrDb = 10.0;
    constexpr double dbPerPoint = 4.0;
    const double snrDb = lowestSnrDb + dbPerPoint * std::clamp(quality, 0.0, 10.0);
    noiseShare_ = std::sqrt(12.0) * std::pow(10.0, -snrDb / 20.0);
}

void QualityControl::observe(std::span<const double> segmentValues) {
    double energy = 0.0;
    for (const double v : segmentValues)
        energy += v * v;
    energy /= double(std::max<std::size_t>(1, segmentValues.size()));
    // Half of it from this segment, half carried on from the ones before.
    levelEnergy_ = levelEnergy_ < 0 ? energy : (levelEnergy_ + energy) / 2;
}

double QualityControl::step() const {
    return std::max(finestStep, noiseShare_ * std::sqrt(std::max(0.0, levelEnergy_)));
}

}  // namespace talveco
