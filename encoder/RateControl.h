// How the encoder's settings become quantiser steps.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace talveco {

// Constant quality, 0 (coarsest) to 10: quantisation noise a fixed distance
// below the level of the material around it. One step for all blocks spends
// the bits best (see stepsForBudget), so the level is a slow one, taken over
// segments of a second or more and carried on from one to the next, rather
// than each block's own.
class QualityControl {
  public:
    explicit QualityControl(double quality);

    // Takes in the analysis values of the next segment.
    void observe(std::span<const double> segmentValues);
    // The step for the blocks of the segment observed last.
    double step() const;

  private:
    double noiseShare_;        // step over level
    double levelEnergy_ = -1;  // mean square of the level; below 0 before the first segment
};

// The finest and the coarsest step the block coder uses.
inline constexpr double finestStep = 1.0;
inline constexpr double coarsestStep = 16384.0;

// One step for all blocks spends the least bits on the least total noise;
// bits come in jumps as the step changes, so the budget is met by giving
// some blocks the next finer step. `blockBits(block, step)` estimates the
// bits of one block at a step; `allBlockBits(step)` gives those of every
// block as the stream will have them. Returns the step of every block.
template <typename BlockBits, typename AllBlockBits>
std::vector<double> stepsForBudget(std::size_t blocks, double budgetBits, BlockBits blockBits,
                                   AllBlockBits allBlockBits);

namespace detail {

// The bits of the stream at one step: of every block, or estimated from
// every `stride`th block.
struct StepTrial {
    double step = 0;
    double total = 0;
    std::vector<std::uint32_t> blockBits;
};

template <typename BlockBits>
StepTrial trialAt(std::size_t blocks, double step, std::size_t stride, BlockBits& blockBits) {
    StepTrial trial{step, 0.0, {}};
    std::size_t counted = 0;
    for (std::size_t b = 0; b < blocks; b += stride, ++counted)
        trial.total += static_cast<double>(blockBits(b, step));
    if (counted > 0) trial.total *= double(blocks) / double(counted);
    return trial;
}

template <typename AllBlockBits>
StepTrial fullTrialAt(double step, AllBlockBits& allBlockBits) {
    StepTrial trial{step, 0.0, allBlockBits(step)};
    for (const std::uint32_t bits : trial.blockBits)
        trial.total += bits;
    return trial;
}

// log2 of the step at which the bits meet the budget, from a sample of the
// blocks: bisection on log2(step) steered by the secant, since the bits fall
// about linearly with it.
template <typename BlockBits>
double estimateLogStep(std::size_t blocks, double budget, BlockBits& blockBits) {
    const std::size_t stride = blocks >= 64 ? 4 : 1;
    double fine = 0.0;
    double coarse = std::log2(coarsestStep);
    double fineExcess = trialAt(blocks, finestStep, stride, blockBits).total - budget;
    if (fineExcess <= 0) return fine;
    double coarseExcess = trialAt(blocks, coarsestStep, stride, blockBits).total - budget;
    if (coarseExcess >= 0) return coarse;
    for (int i = 0; i < 12 && coarse - fine > 0.01; ++i) {
        double x = fine + (coarse - fine) * fineExcess / (fineExcess - coarseExcess);
        // Keep away from the ends, where a secant step gains little.
        x = std::clamp(x, fine + 0.1 * (coarse - fine), coarse - 0.1 * (coarse - fine));
        const double excess = trialAt(blocks, std::exp2(x), stride, blockBits).total - budget;
        if (std::abs(excess) < 0.005 * budget) return x;
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

}  // namespace detail

template <typename BlockBits, typename AllBlockBits>
std::vector<double> stepsForBudget(std::size_t blocks, double budgetBits, BlockBits blockBits,
                                   AllBlockBits allBlockBits) {
    using detail::fullTrialAt;
    const double estimate = detail::estimateLogStep(blocks, budgetBits, blockBits);
    // Bracket the budget with all blocks counted: `over` spends at least
    // the budget, `under` at most. Where blocks are coded again to keep
    // them from wrapping, bits need not fall as the step grows; without a
    // bracket near the estimate, the estimate stands.
    constexpr double nudge = 0.03;
    constexpr int mostNudges = 12;
    detail::StepTrial first = fullTrialAt(std::exp2(estimate), allBlockBits);
    detail::StepTrial over = first;
    detail::StepTrial under = first;
    double x = estimate;
    for (int i = 0; i < mostNudges && under.total > budgetBits && under.step < coarsestStep; ++i) {
        x += nudge;
        over = std::move(under);
        under = fullTrialAt(std::min(coarsestStep, std::exp2(x)), allBlockBits);
    }
    x = estimate;
    for (int i = 0; i < mostNudges && over.total < budgetBits && over.step > finestStep; ++i) {
        x -= nudge;
        under = std::move(over);
        over = fullTrialAt(std::max(finestStep, std::exp2(x)), allBlockBits);
    }
    if (under.total > budgetBits && over.total > budgetBits && under.step < coarsestStep) {
        return std::vector<double>(blocks, std::exp2(estimate));
    }
    std::vector<double> steps(blocks, under.step);
    const double spread = over.total - under.total;
    if (under.total > budgetBits || over.total < budgetBits || spread <= 0) {
        if (over.total <= budgetBits) std::fill(steps.begin(), steps.end(), over.step);
        return steps;
    }
    // The finer step for a share of the blocks, spread evenly through the
    // stream: a block takes it while the extra bits so far stay behind
    // that share of the extra bits so far.
    const double share = (budgetBits - under.total) / spread;
    double wanted = 0.0;
    double taken = 0.0;
    for (std::size_t b = 0; b < blocks; ++b) {
        const double extra = double(over.blockBits[b]) - double(under.blockBits[b]);
        wanted += share * extra;
        if (taken + extra / 2 <= wanted) {
            steps[b] = over.step;
            taken += extra;
        }
    }
    return steps;
}

}  // namespace talveco
