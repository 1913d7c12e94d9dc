#include "fit/Resampler.h"

#include <soxr.h>

#include <algorithm>
#include <string>

#include "fit/InputRefused.h"

namespace talveco {
namespace {

// Room for the output of one call beyond the input's share, so that a call that could give
// more is called again rather than cut.
constexpr std::size_t kSpareFrames = 256;

void raiseOn(soxr_error_t error) {
    if (error != nullptr) throw InputRefused(std::string("resampling: ") + error);
}

}  // namespace

Resampler::Resampler(unsigned inputRate, unsigned outputRate, unsigned channels)
    : inputRate_(inputRate), outputRate_(outputRate), channels_(channels) {
    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT64_I, SOXR_FLOAT64_I);
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
    // One thread: the encoder that follows keeps the others busy.
    const soxr_runtime_spec_t runtime = soxr_runtime_spec(1);
    soxr_error_t error = nullptr;
    soxr_ = soxr_create(inputRate, outputRate, channels, &error, &io, &quality, &runtime);
    if (error != nullptr) soxr_delete(soxr_);
    raiseOn(error);
}

Resampler::~Resampler() {
    soxr_delete(soxr_);
}

std::uint64_t Resampler::outputFrames(std::uint64_t inputFrames, unsigned inputRate,
                                      unsigned outputRate) {
    // No overflow: fewer than 2^34 frames (an 8 GiB input) times a rate below 2^17, twice.
    return (2 * inputFrames * outputRate + inputRate) / (2 * std::uint64_t{inputRate});
}

// Feeds `frames` frames (none, with a null `in`: the end of the input) and collects the
// output until libsoxr has taken them all and has no more ready.
void Resampler::run(const double* in, std::size_t frames, std::vector<double>& out) {
    const std::size_t room = frames * outputRate_ / inputRate_ + kSpareFrames;
    std::size_t taken = 0;
    for (;;) {
        const std::size_t start = out.size();
        out.resize(start + room * channels_);
        std::size_t used = 0;
        std::size_t made = 0;
        raiseOn(soxr_process(soxr_, in == nullptr ? nullptr : in + taken * channels_,
                             frames - taken, &used, out.data() + start, room, &made));
        out.resize(start + made * channels_);
        taken += used;
        framesOut_ += made;
        if (taken == frames && made < room && (in != nullptr || made == 0)) return;
    }
}

void Resampler::process(std::span<const double> in, std::vector<double>& out) {
    const std::size_t frames = in.size() / channels_;
    if (frames == 0) return;
    framesIn_ += frames;
    run(in.data(), frames, out);
}

void Resampler::finish(std::vector<double>& out) {
    const std::size_t start = out.size();
    run(nullptr, 0, out);
    const std::uint64_t wanted = outputFrames(framesIn_, inputRate_, outputRate_);
    if (framesOut_ > wanted) {
        const auto excess = static_cast<std::size_t>(
            std::min<std::uint64_t>(framesOut_ - wanted, (out.size() - start) / channels_));
        out.resize(out.size() - excess * channels_);
        framesOut_ -= excess;
    }
    out.resize(out.size() + static_cast<std::size_t>(wanted - framesOut_) * channels_, 0.0);
    framesOut_ = wanted;
}

}  // namespace talveco
