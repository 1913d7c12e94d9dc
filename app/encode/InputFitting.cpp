#include "app/encode/InputFitting.h"

#include <algorithm>
#include <cmath>
#include <memory>

#include "encoder/FullScale.h"
#include "talveco/limits.h"

namespace talveco {
namespace {

// Frames of the input read at a time when fitting it.
constexpr std::size_t kPieceFrames = 8192;
// -3 dB, the weight of a centre or surround channel folded into a front one.
const double kMinus3Db = 1 / std::sqrt(2.0);
// Where 5.1's low-frequency channel lies in WAV's and FLAC's order.
constexpr unsigned kLfeOf6 = 3;

ChannelFold averageOf(unsigned inputs) {
    ChannelFold fold{inputs, 1, std::vector<double>(inputs, 0.0)};
    const unsigned heard = inputs == 6 ? inputs - 1 : inputs;
    for (unsigned in = 0; in < inputs; ++in)
        if (inputs != 6 || in != kLfeOf6) fold.weights[in] = 1.0 / heard;
    return fold;
}

// Left then right, each from the input channels listed with their weights.
ChannelFold stereoOf(unsigned inputs, std::initializer_list<std::pair<unsigned, double>> left,
                     std::initializer_list<std::pair<unsigned, double>> right) {
    ChannelFold fold{inputs, 2, std::vector<double>(2 * inputs, 0.0)};
    for (const auto& [in, weight] : left)
        fold.weights[in] = weight;
    for (const auto& [in, weight] : right)
        fold.weights[inputs + in] = weight;
    return fold;
}

}  // namespace

ChannelFold ChannelFold::between(unsigned inputs, unsigned outputs) {
    if (outputs == 1) return averageOf(inputs);
    switch (inputs) {
        case 1:
            return stereoOf(1, {{0, 1.0}}, {{0, 1.0}});
        case 2:
            return stereoOf(2, {{0, 1.0}}, {{1, 1.0}});
        case 4:
            return stereoOf(4, {{0, 1.0}, {2, kMinus3Db}}, {{1, 1.0}, {3, kMinus3Db}});
        case 6:
            return stereoOf(6, {{0, 1.0}, {2, kMinus3Db}, {4, kMinus3Db}},
                            {{1, 1.0}, {2, kMinus3Db}, {5, kMinus3Db}});
        default:
            throw InputRefused(std::to_string(inputs) +
                               " channels: there is no standard fold of them to stereo (only of "
                               "4 channels and 5.1); --channels 1 averages them");
    }
}

void ChannelFold::apply(std::span<const double> in, std::vector<double>& out) const {
    const std::size_t frames = in.size() / inputs;
    out.assign(frames * outputs, 0.0);
    for (std::size_t frame = 0; frame < frames; ++frame) {
        const double* from = &in[frame * inputs];
        for (unsigned o = 0; o < outputs; ++o) {
            const double* weight = &weights[o * inputs];
            double sum = 0;
            for (unsigned i = 0; i < inputs; ++i)
                sum += weight[i] * from[i];
            out[frame * outputs + o] = sum;
        }
    }
}

FittedInput::FittedInput(const std::string& path, const FitRequest& request)
    : reader_(path), sampleRate_(request.sampleRate.value_or(reader_.sampleRate())) {
    if (request.channels && *request.channels != reader_.channels()) {
        fold_ = ChannelFold::between(reader_.channels(), *request.channels);
    }
    if (sampleRate_ != reader_.sampleRate()) {
        resampler_ = std::make_unique<Resampler>(reader_.sampleRate(), sampleRate_, channels());
    }
    // After the fitting is set up: the length that counts is the fitted one.
    refuseUnfitting(request);
}

std::optional<std::uint64_t> FittedInput::frames() const noexcept {
    const std::optional<std::uint64_t> input = reader_.frames();
    if (!input || !resampler_) return input;
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
            (resampler_ ? " at " + std::to_string(sampleRate_) + " Hz" : ""));
    }
}

// A NaN would spread into every output channel it is folded into: it silences its own
// sample only, as when no fitting is asked for.
void FittedInput::dropNotNumbers(std::span<double> samples) {
    for (double& sample : samples) {
        if (!std::isnan(sample)) continue;
        sample = 0;
        ++notNumbers_;
    }
}

void FittedInput::fit(std::span<const double> input) {
    std::span<const double> folded = input;
    if (fold_) {
        fold_->apply(input, folded_);
        folded = folded_;
    }
    if (resampler_) {
        resampler_->process(folded, pending_);
    } else {
        pending_.insert(pending_.end(), folded.begin(), folded.end());
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
        if (resampler_) resampler_->finish(pending_);
        return true;
    }
    input_.resize(got);
    dropNotNumbers(input_);
    fit(input_);
    return true;
}

std::size_t FittedInput::read(std::span<std::int16_t> out) {
    if (!fitting()) return reader_.read(out);
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
