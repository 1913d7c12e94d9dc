// How the channels of an input are made into the mono or stereo an ACM file usually carries.
#pragma once

#include <span>
#include <vector>

namespace talveco {

// How each output channel is made of the input's: weights[out * inputs + in].
struct ChannelFold {
    unsigned inputs = 0;
    unsigned outputs = 0;
    std::vector<double> weights;

    // Mono is the average of the channels heard (all but 5.1's LFE), so it never clips;
    // stereo of mono is mono on both sides; stereo of 4 channels (L R Ls Rs) and 5.1 (L R C
    // LFE Ls Rs, as WAV and FLAC order them) takes the centre and surrounds at -3 dB and
    // drops the LFE. Raises InputRefused for folds with no standard answer, and for outputs
    // other than mono or stereo.
    static ChannelFold between(unsigned inputs, unsigned outputs);

    // Folds whole frames of `in` into `out` (resized to hold them).
    void apply(std::span<const double> in, std::vector<double>& out) const;
};

}  // namespace talveco
