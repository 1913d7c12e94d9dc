#include "fit/SampleFitter.h"

#include <cmath>

namespace talveco {

SampleFitter::SampleFitter(unsigned inputChannels, unsigned inputRate, unsigned outputChannels,
                           unsigned outputRate)
    : inputChannels_(inputChannels) {
    if (outputChannels != inputChannels)
        fold_ = ChannelFold::between(inputChannels, outputChannels);
    // Channels are folded before resampling: fewer channels to resample.
    if (outputRate != inputRate)
        resampler_ = std::make_unique<Resampler>(inputRate, outputRate, this->outputChannels());
}

// A NaN would spread into every output channel it is folded into, and through the resampler's
// filter into its neighbours.
void SampleFitter::dropNotNumbers(std::span<double> samples) {
    for (double& sample : samples) {
        if (!std::isnan(sample)) continue;
        sample = 0;
        ++notNumbers_;
    }
}

void SampleFitter::fit(std::span<double> input, std::vector<double>& out) {
    dropNotNumbers(input);
    std::span<const double> folded = input;
    if (fold_) {
        fold_->apply(input, folded_);
        folded = folded_;
    }
    if (resampler_) {
        resampler_->process(folded, out);
    } else {
        out.insert(out.end(), folded.begin(), folded.end());
    }
}

void SampleFitter::finish(std::vector<double>& out) {
    if (finished_) return;
    finished_ = true;
    if (resampler_) resampler_->finish(out);
}

}  // namespace talveco
