#include "fit/ChannelFold.h"

#include <cmath>
#include <initializer_list>
#include <string>
#include <utility>

#include "fit/InputRefused.h"

namespace talveco {
namespace {

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
    if (outputs != 1 && outputs != 2) {
        throw InputRefused(std::to_string(inputs) + " channels to " + std::to_string(outputs) +
                           ": channels are folded to mono or stereo only");
    }
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

}  // namespace talveco
