// How the encoder's settings become quantiser steps.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <span>
#include <utility>
#include <vector>

namespace talveco {

// The signal-to-noise ratio constant quality aims at: the quantisation noise
// 10 dB below the level at quality 0, and 4 dB further each point.
constexpr double qualityAimSnrDb(double quality) noexcept {
    constexpr double lowestSnrDb = 10.0;
    constexpr double dbPerPoint = 4.0;
    return lowestSnrDb + dbPerPoint * std::clamp(quality, 0.0, 10.0);
}

// Constant quality, 0 (coarsest) to 10: quantisation noise a fixed distance
// below the level of the material around it. One step for all blocks spends
// the bits best (see stepsForBudget), so the level is a slow one, taken over
// segments of a second or more and carried on from one to the next, rather
// than each block's own.
class QualityControl {
  public:
    explicit QualityControl(double quality);

    // Takes in the analysis values of the next segment, in blocks of
    // `blockSize` values.
    void observe(std::span<const double> segmentValues, std::size_t blockSize);
    // The step for block `index` of the segment observed last: that of the
    // slow level, but never so coarse that the level around the block is
    // left below the quality asked, so that quiet passages and fades after
    // loud ones keep their sound. The level around is the loudest block
    // within `nearBlocks`, so the quiet moments inside speech, which its
    // loud neighbours mask, keep the slow level's step. Steps are taken from
    // the grid of gridStep.
    double step(std::size_t index) const;
    // The step for block `index` where only the sound after it masks it: a
    // quiet passage right after loud sound is heard on its own, while one
    // right before loud sound is masked still. As fine as step() or finer.
    double openStep(std::size_t index) const;
    // The step of the slow level alone, the coarsest step() gives.
    double levelStep() const;
    // The bits a value that a quiet block may spend to keep the finer step
    // of its own level, where nothing louder has been coded yet to say what
    // the sound costs.
    double mostQuietBitsPerValue() const { return quietBits_; }
    // The bits a value that white noise as loud as block `index` costs at
    // this step (a Gaussian's entropy quantised, log2(rms / step) + 2.05).
    double noiseBitsPerValue(std::size_t index, double step) const;

  private:
    double stepFor(double energy) const;
    // The mean square of the loudest block within nearBlocks before the
    // block, and after it (the block itself in both).
    std::pair<double, double> loudestNear(std::size_t index) const;

    static constexpr std::size_t nearBlocks = 4;
    double noiseShare_;                // step over level
    double quietBits_;                 // see mostQuietBitsPerValue
    double levelEnergy_ = -1;          // mean square of the level; below 0 before the first segment
    std::vector<double> blockEnergy_;  // mean square of each block of the segment
};

// The finest and the coarsest step the block coder uses. Steps are whole
// numbers in the stream and apply to the values the transform starts from,
// which it carries to the samples at about their own size in the lowest
// band, not shrunk by its output shift: rounding them to the finest step
// leaves noise of about 0.35 of a sample at one level and 0.5 to 0.6 at two
// to five (measured on a quiet tone). A quiet passage keeps no more than its
// level over that, however fine the quality asked: a -60 dBFS tone about
// 32 dB, a -50 dBFS one about 41 dB.
inline constexpr double finestStep = 1.0;
inline constexpr double coarsestStep = 32767.0;

// Steps come from a fixed grid, a quarter octave apart: grid step number k
// is 2^(k / stepsPerOctave), rounded to a whole step.
inline constexpr int stepsPerOctave = 4;
inline int gridIndexOf(double step) {
    return int(std::lround(std::log2(step) * stepsPerOctave));
}
inline double gridStep(int k) {
    return std::clamp(std::round(std::exp2(double(k) / stepsPerOctave)), finestStep, coarsestStep);
}

// What coding one block at a step costs: its bits, and its squared error.
struct BlockCost {
    double bits = 0;
    double distortion = 0;
};

// The step of every block for a budget of bits. One step for all blocks
// spends the least bits on the least total noise, so each block takes,
// among a few neighbouring grid steps, the one of least distortion +
// lambda * bits, with one lambda for all blocks, the least that keeps to the
// budget. A block whose values lie on the grid of one of the steps (a file
// decoded and coded again at the same rate) loses nearly nothing at that
// step and keeps it, so generations add little noise.
//   blockBits(block, step): an estimate of one block's bits, to find the steps;
//   blockCost(block, step): its BlockCost;
//   codedBits(steps): the bits of all blocks coded in turn with these steps,
//     as the stream will have them, or a negative number where counting each
//     block alone is exact enough.
template <typename BlockBits, typename Cost, typename CodedBits>
std::vector<double> stepsForBudget(std::size_t blocks, double budgetBits, BlockBits blockBits,
                                   Cost blockCost, CodedBits codedBits);

namespace detail {

template <typename BlockBits>
double bitsAt(std::size_t blocks, double step, std::size_t stride, BlockBits& blockBits) {
    double total = 0.0;
    std::size_t counted = 0;
    for (std::size_t b = 0; b < blocks; b += stride, ++counted)
        total += static_cast<double>(blockBits(b, step));
    return counted > 0 ? total * double(blocks) / double(counted) : 0.0;
}

// The candidates of every block: grid steps firstK .. firstK + count - 1.
struct StepTable {
    int firstK = 0;
    int count = 0;
    std::vector<BlockCost> costs;  // block * count + candidate

    // Each block's candidate of least distortion + lambda * bits, into
    // `choice`; returns their bits.
    double choose(double lambda, std::vector<int>& choice) const {
        double total = 0.0;
        for (std::size_t b = 0; b < choice.size(); ++b) {
            const BlockCost* c = &costs[b * std::size_t(count)];
            int best = 0;
            for (int j = 1; j < count; ++j) {
                if (c[j].distortion + lambda * c[j].bits <
                    c[best].distortion + lambda * c[best].bits)
                    best = j;
            }
            choice[b] = best;
            total += c[best].bits;
        }
        return total;
    }
};

// log2 of the step at which the bits meet the budget, from a sample of the
// blocks: bisection on log2(step) steered by the secant, since the bits fall
// about linearly with it.
template <typename BlockBits>
double estimateLogStep(std::size_t blocks, double budget, BlockBits& blockBits) {
    const std::size_t stride = blocks >= 64 ? 4 : 1;
    double fine = 0.0;
    double coarse = std::log2(coarsestStep);
    double fineExcess = bitsAt(blocks, finestStep, stride, blockBits) - budget;
    if (fineExcess <= 0) return fine;
    double coarseExcess = bitsAt(blocks, coarsestStep, stride, blockBits) - budget;
    if (coarseExcess >= 0) return coarse;
    for (int i = 0; i < 12 && coarse - fine > 0.1; ++i) {
        double x = fine + (coarse - fine) * fineExcess / (fineExcess - coarseExcess);
        // Keep away from the ends, where a secant step gains little.
        x = std::clamp(x, fine + 0.1 * (coarse - fine), coarse - 0.1 * (coarse - fine));
        const double excess = bitsAt(blocks, std::exp2(x), stride, blockBits) - budget;
        if (std::abs(excess) < 0.02 * budget) return x;
        if (excess > 0) {
            fine = x;
            fineExcess = excess;
        } else {
            coarse = x;
            coarseExcess = excess;
        }
    }
    return (fine + coarse) / 2;
}

template <typename Cost>
StepTable stepTable(std::size_t blocks, int firstK, int count, Cost& blockCost) {
    StepTable table{firstK, count, std::vector<BlockCost>(blocks * std::size_t(count))};
    for (std::size_t b = 0; b < blocks; ++b) {
        for (int j = 0; j < count; ++j)
            table.costs[b * std::size_t(count) + std::size_t(j)] =
                blockCost(b, gridStep(firstK + j));
    }
    return table;
}

inline constexpr double leastLambda = 1.0 / 1024;

// The least lambda whose choices keep to the budget, by bisection on its
// logarithm; the largest tried when none does.
inline double lambdaForBudget(const StepTable& table, double budgetBits, std::vector<int>& choice) {
    double low = std::log2(leastLambda);  // spends too much, or nothing spends less
    double high = 60.0;
    for (int i = 0; i < 50; ++i) {
        const double middle = (low + high) / 2;
        (table.choose(std::exp2(middle), choice) > budgetBits ? low : high) = middle;
    }
    table.choose(std::exp2(high), choice);
    return std::exp2(high);
}

// After the choice for a lambda, blocks move to their next finer step while
// the budget allows, those that buy the most distortion per bit first:
// blocks alike (a steady tone) all switch at the same lambda.
inline void spendTheRest(const StepTable& table, double budgetBits, std::vector<int>& choice) {
    const std::size_t count = std::size_t(table.count);
    double spent = 0.0;
    std::vector<std::pair<double, std::size_t>> gains;
    for (std::size_t b = 0; b < choice.size(); ++b) {
        const BlockCost& now = table.costs[b * count + std::size_t(choice[b])];
        spent += now.bits;
        if (choice[b] == 0) continue;
        const BlockCost& finer = table.costs[b * count + std::size_t(choice[b] - 1)];
        const double extra = finer.bits - now.bits;
        if (extra > 0 && finer.distortion < now.distortion)
            gains.emplace_back((now.distortion - finer.distortion) / extra, b);
    }
    std::stable_sort(gains.begin(), gains.end(),
                     [](const auto& x, const auto& y) { return x.first > y.first; });
    for (const auto& [gain, b] : gains) {
        const double extra = table.costs[b * count + std::size_t(choice[b] - 1)].bits -
                             table.costs[b * count + std::size_t(choice[b])].bits;
        if (spent + extra > budgetBits) continue;
        --choice[b];
        spent += extra;
    }
}

}  // namespace detail

template <typename BlockBits, typename Cost, typename CodedBits>
std::vector<double> stepsForBudget(std::size_t blocks, double budgetBits, BlockBits blockBits,
                                   Cost blockCost, CodedBits codedBits) {
    const double estimate = detail::estimateLogStep(blocks, budgetBits, blockBits);
    const int lastK = int(std::ceil(std::log2(coarsestStep) * stepsPerOctave));
    // Grid steps from one finer than the estimate to one coarser (a fourth
    // gained 0.1 dB for a fifth more time); moved while the budget lies beyond
    // what they can spend.
    constexpr int candidates = 3;
    constexpr int mostMoves = 4;
    int firstK =
        std::clamp(int(std::floor(estimate * stepsPerOctave)) - 1, 0, lastK - candidates + 1);
    detail::StepTable table = detail::stepTable(blocks, firstK, candidates, blockCost);
    std::vector<int> choice(blocks);
    const auto stepsFor = [&](double target) {
        for (int move = 0;; ++move) {
            const double lambda = detail::lambdaForBudget(table, target, choice);
            const double spent = table.choose(lambda, choice);
            // The budget not binding: the least distortion fits it.
            const bool slack = lambda <= detail::leastLambda * 1.01;
            const int shift = spent > target ? candidates - 1 : (slack ? -(candidates - 1) : 0);
            const int nextK = std::clamp(firstK + shift, 0, lastK - candidates + 1);
            if (move == mostMoves || nextK == firstK) break;
            firstK = nextK;
            table = detail::stepTable(blocks, firstK, candidates, blockCost);
        }
        detail::spendTheRest(table, target, choice);
        std::vector<double> out(blocks);
        for (std::size_t b = 0; b < blocks; ++b)
            out[b] = gridStep(firstK + choice[b]);
        return out;
    };
    // Where blocks are coded again to keep them from wrapping, the stream's
    // own bits decide: the target moves, by steps on what they miss the
    // budget by until a bracket is found and then within it, until they are
    // within half a percent of it; failing that the closest stream within the
    // budget is kept (the smallest if none is).
    constexpr int mostTries = 10;
    double target = budgetBits;
    double lowTarget = -1.0;  // coded within the budget; and beyond it
    double lowCoded = 0.0;
    double highTarget = -1.0;
    double highCoded = 0.0;
    std::vector<double> steps = stepsFor(target);
    std::vector<double> kept = steps;
    double keptBits = -1.0;
    for (int i = 0; i < mostTries; ++i) {
        const double coded = codedBits(steps);
        if (coded < 0) return steps;
        const bool better =
            keptBits < 0 || (coded <= budgetBits ? keptBits > budgetBits || coded > keptBits
                                                 : keptBits > budgetBits && coded < keptBits);
        if (better) {
            kept = steps;
            keptBits = coded;
        }
        if (std::abs(coded - budgetBits) <= 0.005 * budgetBits) return steps;
        if (coded <= budgetBits) {
            lowTarget = target;
            lowCoded = coded;
        } else {
            highTarget = target;
            highCoded = coded;
        }
        if (lowTarget >= 0 && highTarget >= 0) {
            const double secant = lowTarget + (budgetBits - lowCoded) * (highTarget - lowTarget) /
                                                  (highCoded - lowCoded);
            const double inside =
                std::min(lowTarget, highTarget) + 0.1 * std::abs(highTarget - lowTarget);
            const double outside =
                std::max(lowTarget, highTarget) - 0.1 * std::abs(highTarget - lowTarget);
            target = std::clamp(secant, inside, outside);
        } else {
            target += budgetBits - coded;
        }
        if (target <= 0) break;
        steps = stepsFor(target);
    }
    return kept;
}

}  // namespace talveco
