#include "encoder/RateControl.h"

#include <algorithm>

namespace talveco {

QualityControl::QualityControl(double quality) {
    // A uniform quantiser's noise is step / sqrt(12).
    const double snrDb = qualityAimSnrDb(quality);
    noiseShare_ = std::sqrt(12.0) * std::pow(10.0, -snrDb / 20.0);
    // Two bits at quality 5, and the 4 dB a point asks for (2/3 bit) more
    // or less on either side; half a bit at least.
    quietBits_ = std::max(0.5, 2.0 + (2.0 / 3.0) * (std::clamp(quality, 0.0, 10.0) - 5.0));
}

void QualityControl::observe(std::span<const double> segmentValues, std::size_t blockSize) {
    double energy = 0.0;
    blockEnergy_.clear();
    for (std::size_t first = 0; first < segmentValues.size(); first += blockSize) {
        double block = 0.0;
        for (const double v : segmentValues.subspan(first, blockSize))
            block += v * v;
        energy += block;
        blockEnergy_.push_back(block / double(blockSize));
    }
    energy /= double(std::max<std::size_t>(1, segmentValues.size()));
    // Half of it from this segment, half carried on from the ones before.
    levelEnergy_ = levelEnergy_ < 0 ? energy : (levelEnergy_ + energy) / 2;
}

namespace {
double onGrid(double step) {
    // On the grid, so that a decoded file coded again finds the same steps.
    if (!(step > finestStep)) return finestStep;
    return gridStep(gridIndexOf(step));
}
}  // namespace

double QualityControl::levelStep() const {
    return onGrid(noiseShare_ * std::sqrt(std::max(0.0, levelEnergy_)));
}

double QualityControl::stepFor(double energy) const {
    return onGrid(noiseShare_ * std::sqrt(std::max(0.0, std::min(levelEnergy_, energy))));
}

double QualityControl::step(std::size_t index) const {
    const auto [before, after] = loudestNear(index);
    return stepFor(std::max(before, after));
}

double QualityControl::openStep(std::size_t index) const {
    // The last block of a segment cannot see what follows it: it keeps the
    // masked step, as it would between loud neighbours.
    if (index + 1 >= blockEnergy_.size()) return step(index);
    return stepFor(loudestNear(index).second);
}

double QualityControl::noiseBitsPerValue(std::size_t index, double step) const {
    constexpr double gaussianBits = 2.05;  // log2(sqrt(2 pi e))
    return std::max(0.0, 0.5 * std::log2(blockEnergy_[index] / (step * step)) + gaussianBits);
}

std::pair<double, double> QualityControl::loudestNear(std::size_t index) const {
    const auto at = blockEnergy_.begin() + std::ptrdiff_t(index);
    const auto first = at - std::ptrdiff_t(std::min(index, nearBlocks));
    const auto end = at + std::ptrdiff_t(std::min(blockEnergy_.size() - index, nearBlocks + 1));
    return {*std::max_element(first, at + 1), *std::max_element(at, end)};
}

}  // namespace talveco
