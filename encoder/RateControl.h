// How the encoder's settings become quantiser steps.
#pragma once

#include <cmath>
#include <span>

namespace talveco {

// The step for a block of analysis values in constant-quality mode, quality
// 0 (coarsest) to 10: quantisation noise a fixed distance below the block's
// own level, never finer than one unit.
double qualityStep(std::span<const double> blockValues, double quality);

// The coarsest step, to within a fraction of a percent, at which the stream
// still fills `budgetBits`; `bitsAt(step)` counts the stream's bits at a
// step, and fewer bits come with coarser steps.
template <typename BitsAt>
double stepForBudget(double budgetBits, BitsAt bitsAt) {
    double fine = 0.0;     // log2 of a step that needs more bits than the budget
    double coarse = 14.0;  // log2 of a step that needs no more
    if (static_cast<double>(bitsAt(1.0)) <= budgetBits) return 1.0;
    while (coarse - fine > 0.002) {
        const double middle = (fine + coarse) / 2;
        if (static_cast<double>(bitsAt(std::exp2(middle))) <= budgetBits) {
            coarse = middle;
        } else {
            fine = middle;
        }
    }
    return std::exp2(coarse);
}

}  // namespace talveco
