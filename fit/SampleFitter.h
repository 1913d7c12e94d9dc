// Full-scale samples of one channel count and rate made into those of another, in pieces as
// they come: NaN silenced, channels folded, then resampled. The one fitting of talveco-encode's
// files and of the C interface's samples, so that both give the same stream of the same input.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "fit/ChannelFold.h"
#include "fit/Resampler.h"

namespace talveco {

class SampleFitter {
  public:
    // Raises InputRefused for a fold or a resampling there is no answer for.
    SampleFitter(unsigned inputChannels, unsigned inputRate, unsigned outputChannels,
                 unsigned outputRate);

    unsigned inputChannels() const noexcept { return inputChannels_; }
    unsigned outputChannels() const noexcept { return fold_ ? fold_->outputs : inputChannels_; }
    // False when the input is the stream already: its samples may go as they are.
    bool changesAnything() const noexcept { return fold_ || resampler_; }
    bool resamples() const noexcept { return resampler_ != nullptr; }

    // Appends to `out` the fitted samples of whole frames of `input` that are ready. A NaN
    // is made 0 first (in `input`), so that it silences its own sample and no more.
    void fit(std::span<double> input, std::vector<double>& out);
    // Appends what the resampler still holds; the input has ended. Once only: later calls
    // append nothing.
    void finish(std::vector<double>& out);
    bool finished() const noexcept { return finished_; }

    // Input samples that were no number.
    std::uint64_t notNumbers() const noexcept { return notNumbers_; }

  private:
    void dropNotNumbers(std::span<double> samples);

    unsigned inputChannels_;
    std::optional<ChannelFold> fold_;       // none: the input's channels are kept
    std::unique_ptr<Resampler> resampler_;  // none: the input's rate is kept
    std::vector<double> folded_;            // a piece folded
    std::uint64_t notNumbers_ = 0;
    bool finished_ = false;
};

}  // namespace talveco
