// An input fitted to the stream an ACM file is to carry: its channels folded to mono or
// stereo (or mono copied to both sides), then resampled to the rate asked for. Fitting works on the
// samples at full scale and rounds to 16 bits last, so that a fold of loud channels is rounded once
// and clipped only where the result itself lies beyond full scale.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "app/encode/SoundFileReader.h"
#include "fit/SampleFitter.h"

namespace talveco {

// What the stream is to hold; what is not given is taken from the input.
struct FitRequest {
    std::optional<unsigned> channels;    // 1 or 2
    std::optional<unsigned> sampleRate;  // 1 to 65535 Hz
};

class FittedInput {
  public:
    // Opens `path` as SoundFileReader does. Raises InputRefused, naming the option that would
    // help, when the input does not fit an ACM file and the request does not fit it.
    FittedInput(const std::string& path, const FitRequest& request);

    unsigned channels() const noexcept { return fitter_.outputChannels(); }
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
    std::uint64_t notNumbers() const noexcept {
        return reader_.notNumbers() + fitter_.notNumbers() + notNumbers_;
    }
    const std::vector<std::string>& notes() const noexcept { return reader_.notes(); }

  private:
    void refuseUnfitting(const FitRequest& request) const;
    bool fillPending();

    SoundFileReader reader_;
    unsigned sampleRate_ = 0;
    SampleFitter fitter_;
    std::vector<double> input_;    // a piece of the input, at full scale
    std::vector<double> pending_;  // fitted samples not yet delivered
    std::size_t pendingStart_ = 0;
    bool inputEnded_ = false;
    std::uint64_t clipped_ = 0;
    std::uint64_t notNumbers_ = 0;
};

}  // namespace talveco
