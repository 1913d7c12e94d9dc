#include "encoder/AnalysisBank.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace talveco {
namespace {

// The root of 1 + 6z + z^2 inside the unit circle, -(3 - 2*sqrt(2)).
const double innerRoot = -(3.0 - 2.0 * std::sqrt(2.0));

// Pairs after which innerRoot^n is far below double precision of the values.
constexpr std::size_t settlingPairs = 24;

// Undoes one synthesis stage in place. The stage pairs values (2i, 2i+1) of
// each of its `width` polyphase components into (e, o) = (x' + 2y' + x,
// 2x - y' - y), where (x', y') is the previous pair. Solving for (x, y):
//   x = (e + e' + 2o') / D,   y = (2e - o - o') / D,   D = 1 + 6z^-1 + z^-2,
// and 1/D = -r z / ((1 - r z^-1)(1 - r z)) with r = innerRoot: a causal pass,
// then an anti-causal one, then a shift by one pair.
template <std::size_t fixedWidth>
void undoStage(std::span<double> values, std::size_t givenWidth) {
    // A width known when compiling lets the loops over it unroll.
    const std::size_t width = fixedWidth == 0 ? givenWidth : fixedWidth;
    const std::size_t pairs = values.size() / (2 * width);
    std::vector<double> state(4 * width, 0.0);
    double* __restrict previousE = state.data();
    double* __restrict previousO = previousE + width;
    double* __restrict laterX = previousO + width;  // causal, then anti-causal
    double* __restrict laterY = laterX + width;
    const double r = innerRoot;
    for (std::size_t i = 0; i < pairs; ++i) {
        double* __restrict upper = values.data() + 2 * i * width;
        double* __restrict lower = upper + width;
        for (std::size_t j = 0; j < width; ++j) {
            const double e = upper[j];
            const double o = lower[j];
            laterX[j] = e + previousE[j] + 2 * previousO[j] + r * laterX[j];
            laterY[j] = 2 * e - o - previousO[j] + r * laterY[j];
            previousE[j] = e;
            previousO[j] = o;
            upper[j] = laterX[j];
            lower[j] = laterY[j];
        }
    }
    // Backwards: the anti-causal pass, with the result one pair later.
    std::fill(laterX, laterX + 2 * width, 0.0);
    for (std::size_t i = pairs; i-- > 0;) {
        double* __restrict upper = values.data() + 2 * i * width;
        double* __restrict lower = upper + width;
        for (std::size_t j = 0; j < width; ++j) {
            const double x = -r * laterX[j];
            const double y = -r * laterY[j];
            laterX[j] = upper[j] + r * laterX[j];
            laterY[j] = lower[j] + r * laterY[j];
            upper[j] = x;
            lower[j] = y;
        }
    }
}

void undoStageOfWidth(std::span<double> values, std::size_t width) {
    switch (width) {
        case 1:
            return undoStage<1>(values, width);
        case 2:
            return undoStage<2>(values, width);
        case 4:
            return undoStage<4>(values, width);
        case 8:
            return undoStage<8>(values, width);
        case 16:
            return undoStage<16>(values, width);
        default:
            return undoStage<0>(values, width);
    }
}

}  // namespace

void analyse(std::span<double> values, unsigned levels) {
    if (levels == 0) return;
    const std::size_t columns = std::size_t{1} << levels;
    for (unsigned stage = levels; stage >= 1; --stage) {
        const std::size_t width = columns >> stage;
        if (stage == 1) {
            // The decoder adds one to the first value of every stage-1 view
            // row after stage 1.
            for (std::size_t i = 0; i < values.size(); i += width)
                values[i] -= 1.0;
        }
        undoStageOfWidth(values, width);
    }
}

std::size_t analysisMargin(unsigned levels) {
    // A stage of width w reaches settlingPairs pairs of 2w values each way;
    // the widths of all stages add up to less than 2^levels.
    return 2 * settlingPairs * (std::size_t{1} << levels);
}

}  // namespace talveco
