// The resampler of the WebAssembly build, which has no libsoxr: every rate
// conversion is refused, in the way libsoxr's refusals are reported, and the
// channel folding of the fitting works as everywhere.
#include <string>
#include <vector>

#include "fit/InputRefused.h"

// The state of the libsoxr resampler goes unused here.
#pragma clang diagnostic ignored "-Wunused-private-field"
#include "fit/Resampler.h"

namespace talveco {

Resampler::Resampler(unsigned inputRate, unsigned outputRate, unsigned channels)
    : inputRate_(inputRate), outputRate_(outputRate), channels_(channels) {
    throw InputRefused("resampling: from " + std::to_string(inputRate) + " Hz to " +
                       std::to_string(outputRate) + " Hz is not supported in this build");
}

Resampler::~Resampler() = default;

std::uint64_t Resampler::outputFrames(std::uint64_t inputFrames, unsigned inputRate,
                                      unsigned outputRate) {
    return (2 * inputFrames * outputRate + inputRate) / (2 * std::uint64_t{inputRate});
}

// Never reached: no Resampler is ever constructed.
void Resampler::process(std::span<const double>, std::vector<double>&) {}
void Resampler::finish(std::vector<double>&) {}
void Resampler::run(const double*, std::size_t, std::vector<double>&) {}

}  // namespace talveco
