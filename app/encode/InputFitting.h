// An input fitted to the stream an ACM file is to carry: its channels folded to mono or
// stereo (or mono copied to both sides), then resampled to the rate asked for. Fitting works on the
// samples at full scale and rounds to 16 bits last, so that a fold of loud channels is rounded once
// and clipped only where the result itself lies beyond full scale.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "app/encode/Resampler.h"
#include "app/encode/SoundFileReader.h"

namespace talveco {

// What the stream is to hold; what is not given is taken from the input.
struct FitRequest {
    std::optional<unsigned> channels;    // 1 or 2
    std::optional<unsigned> sampleRate;  // 1 to 65535 Hz
};

// How each output channel is made of the input's: weights[out * inputs + in].
struct ChannelFold {
    unsigned inputs = 0;
    unsigned outputs = 0;
    std::vector<double> weights;

    // Mono is the average of the channels heard (all but 5.1's LFE), so it never clips;
    // stereo of mono is mono on both sides; stereo of 4 channels (L R Ls Rs) and 5.1 (L R C
    // LFE Ls Rs, as WAV and FLAC order them) takes the centre and surrounds at -3 dB and
    // drops the LFE. Raises InputRefused for folds with no standard answer.
    static ChannelFold between(unsigned inputs, unsigned outputs);

    // Folds whole frames of `in` into `out` (resized to hold them).
    void apply(std::span<const double> in, std::vector<double>& out) const;
};

class FittedInput {
  public:
    // Opens `path` as SoundFileReader does. Raises InputRefused, naming the option that would
    // help, when the input does not fit an ACM file and the request does not fit it.
    FittedInput(const std::string& path, const FitRequest& request);

    unsigned channels() const noexcept { return fold_ ? fold_->outputs : reader_.channels(); }
    unsigned sampleRate() const noexcept { return sampleRate_; }
    unsigned inputChannels() const noexcept { return reader_.channels(); }
    unsigned inputRate() const noexcept { return reader_.sampleRate(); }
    // The frames the stream will hold, as far as the input states its length.
    std::optional<std::uint64_t> frames() const noexcept;
    FileIdentity identity() const noexcept { return reader_.identity(); }

    // Fills `out` with whole frames and returns how many samples it stored; 0 at the end.
    std::size_t read(std::span<std::int16_t> out);

    // Samples beyond full scale once fitted, clipped, and input samples that were no number
    // (made 0 before fitting, so that they silence one sample and no more).
    std::uint64_t clippedSamples() const noexcept { return reader_.clippedSamples() + clipped_; }
    std::uint64_t notNumbers() const noexcept { return reader_.notNumbers() + notNumbers_; }
    const std::vector<std::string>& notes() const noexcept { return reader_.notes(); }

  private:
    void refuseUnfitting(const FitRequest& request) const;
    bool fitting() const noexcept { return fold_ || resampler_; }
    bool fillPending();
    void fit(std::span<const double> input);
    void dropNotNumbers(std::span<double> samples);

    SoundFileReader reader_;
    std::optional<ChannelFold> fold_;       // none: the input's channels are kept
    std::unique_ptr<Resampler> resampler_;  // none: the input's rate is kept
    unsigned sampleRate_ = 0;
    std::vector<double> input_;    // a piece of the input, at full scale
    std::vector<double> folded_;   // that piece folded
    std::vector<double> pending_;  // fitted samples not yet delivered
    std::size_t pendingStart_ = 0;
    bool inputEnded_ = false;
    std::uint64_t clipped_ = 0;
    std::uint64_t notNumbers_ = 0;
};

}  // namespace talveco
