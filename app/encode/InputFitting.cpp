#include "app/encode/InputFitting.h"

#include <algorithm>
#include <cmath>

#include "encoder/FullScale.h"
#include "talveco/limits.h"

namespace talveco {
namespace {

// Frames of the input read at a time when fitting it.
constexpr std::size_t kPieceFrames = 8192;

}  // namespace

FittedInput::FittedInput(const std::string& path, const FitRequest& request)
    : reader_(path),
      sampleRate_(request.sampleRate.value_or(reader_.sampleRate())),
      fitter_(reader_.channels(), reader_.sampleRate(),
              request.channels.value_or(reader_.channels()), sampleRate_) {
    // After the fitting is set up: the length that counts is the fitted one.
    refuseUnfitting(request);
}

std::optional<std::uint64_t> FittedInput::frames() const noexcept {
    const std::optional<std::uint64_t> input = reader_.frames();
    if (!input || !fitter_.resamples()) return input;
    return Resampler::outputFrames(*input, reader_.sampleRate(), sampleRate_);
}

void FittedInput::refuseUnfitting(const FitRequest& request) const {
    if (reader_.channels() > 2 && !request.channels) {
        throw InputRefused(std::to_string(reader_.channels()) +
                           " channels: an ACM file carries mono or stereo; --channels 1 or 2 "
                           "folds them");
    }
    if (sampleRate() > limits::maxSampleRate) {
        throw InputRefused(std::to_string(sampleRate()) +
                           " Hz: an ACM file states rates from 1 to 65535 Hz; --resample HZ "
                           "resamples it");
    }
    // A length the file does not state is known only at its end; the encoder refuses the
    // sample too many.
    if (frames() && *frames() > limits::maxSamples / channels()) {
        throw InputRefused(
            "too long: an ACM file holds fewer than 2^30 samples (all channels "
            "together), this one has " +
            std::to_string(*frames()) + " frames of " + std::to_string(channels()) + " channels" +
            (fitter_.resamples() ? " at " + std::to_string(sampleRate_) + " Hz" : ""));
    }
}

// Reads and fits the next piece of the input; false once the input has ended and all of it
// has been fitted.
bool FittedInput::fillPending() {
    if (inputEnded_) return false;
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(pendingStart_));
    pendingStart_ = 0;
    input_.resize(kPieceFrames * reader_.channels());
    const std::size_t got = reader_.read(std::span(input_));
    if (got == 0) {
        inputEnded_ = true;
        fitter_.finish(pending_);
        return true;
    }
    input_.resize(got);
    fitter_.fit(input_, pending_);
    return true;
}

std::size_t FittedInput::read(std::span<std::int16_t> out) {
    if (!fitter_.changesAnything()) return reader_.read(out);
    while (pending_.size() == pendingStart_ && fillPending()) {
    }
    const std::size_t count =
        std::min(pending_.size() - pendingStart_, out.size() / channels() * channels());
    for (std::size_t i = 0; i < count; ++i) {
        out[i] = sixteenBitsFromFullScale(pending_[pendingStart_ + i], clipped_, notNumbers_);
    }
    pendingStart_ += count;
    return count;
}

}  // namespace talveco
