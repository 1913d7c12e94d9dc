// The error a narrower column code adds by holding indices inside a bound:
// the form that skips the unheld rows against the plain walk of every row;
// the largest magnitude of a block, found in lanes.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <iostream>
#include <numbers>
#include <vector>

#include "encoder/AnalysisBank.h"
#include "encoder/BlockCoder.h"
#include "tests/support/Noise.h"
#include "tests/support/TestSignals.h"

namespace talveco {
namespace {

TEST(AddedError, CountsOnlyTheHeldRows) {
    const std::vector<double> scaled{2.6, -0.2, -4.4, 1.9};
    const std::vector<int> indices{3, 0, -4, 2};
    // Rows 0 and 2 are held at 2 and -2: (0.6^2 - 0.4^2) + (2.4^2 - 0.4^2).
    EXPECT_NEAR(addedError(scaled, indices, 2), 0.2 + 5.6, 1e-12);
    EXPECT_NEAR(addedErrorByRows(scaled, indices, 2), 0.2 + 5.6, 1e-12);
    // At 0 every nonzero row is held.
    EXPECT_NEAR(addedError(scaled, indices, 0), (6.76 - 0.16) + (19.36 - 0.16) + (3.61 - 0.01),
                1e-12);
    EXPECT_EQ(addedError(scaled, indices, 4), 0.0);
}

// Columns of every length around the 64-row masks, values spread over
// several bounds, every bound the coder tries: the two forms must agree to
// the last bit, or the streams would change.
TEST(AddedError, SkippingUnheldRowsGivesTheSameSumBitForBit) {
    const std::uint32_t seed = 0xadde5u;
    std::cout << "random columns from seed " << seed << "\n";
    testing::Noise noise(seed);
    for (const std::size_t rows : {1u, 2u, 7u, 16u, 63u, 64u, 65u, 127u, 128u, 129u, 256u, 300u}) {
        for (const int largest : {1, 3, 6, 20}) {
            std::vector<double> scaled(rows);
            std::vector<int> indices(rows);
            for (std::size_t r = 0; r < rows; ++r) {
                const double unit = double(noise.next() % 100000) / 100000.0;
                scaled[r] = (2 * unit - 1) * (largest + 0.49);
                indices[r] = int(std::lround(scaled[r]));
            }
            for (const int bound : {0, 1, 2, 3, 4, 5, 7, 15}) {
                const double fast = addedError(scaled, indices, bound);
                const double plain = addedErrorByRows(scaled, indices, bound);
                EXPECT_EQ(std::bit_cast<std::uint64_t>(fast), std::bit_cast<std::uint64_t>(plain))
                    << rows << " rows, largest " << largest << ", bound " << bound << ": " << fast
                    << " against " << plain;
            }
        }
    }
}

// The largest magnitude, wherever it stands among up to a few lanes' worth
// of values and their remainder, of either sign.
TEST(LargestMagnitude, FindsTheLargestAtEveryPlace) {
    EXPECT_EQ(largestMagnitude({}), 0.0);
    for (std::size_t size = 1; size <= 11; ++size) {
        for (std::size_t at = 0; at < size; ++at) {
            for (const double sign : {1.0, -1.0}) {
                std::vector<double> values(size);
                for (std::size_t i = 0; i < size; ++i)
                    values[i] = (i % 2 == 0 ? 1.0 : -1.0) * (0.25 + double(i) / 64);
                values[at] = sign * 7.5;
                EXPECT_EQ(largestMagnitude(values), 7.5) << size << " values, largest at " << at;
            }
        }
    }
}

// What the rate control counts for a block is what the coder writes for it:
// blocks with silent columns, quiet ones and loud ones, at several steps and
// geometries (values kept well inside the range, so that no block wraps and
// coding takes the step given).
TEST(BlockCoder, CountsTheBitsItWrites) {
    const std::uint32_t seed = 0xb10c5u;
    std::cout << "random blocks from seed " << seed << "\n";
    testing::Noise noise(seed);
    struct Geometry {
        unsigned levels;
        unsigned rows;
    };
    for (const Geometry g : {Geometry{1, 256}, Geometry{3, 16}, Geometry{4, 32}, Geometry{6, 8}}) {
        BlockCoder coder(g.levels, g.rows);
        const std::size_t columns = std::size_t{1} << g.levels;
        const std::size_t blockSize = columns * g.rows;
        for (const double amplitude : {3.0, 40.0, 900.0}) {
            for (const double step : {2.0, 8.0, 45.0}) {
                std::vector<double> values(blockSize, 0.0);
                // The lower half of the columns carries sound, the upper half is silent.
                for (std::size_t r = 0; r < g.rows; ++r) {
                    for (std::size_t c = 0; c < columns / 2 + (columns == 2 ? 1 : 0); ++c) {
                        const double unit = double(noise.next() % 2001) / 1000.0 - 1.0;
                        values[r * columns + c] = amplitude * unit;
                    }
                }
                const std::uint64_t counted = coder.countBits(values, step);
                EXPECT_EQ(coder.countBitsAndError(values, step).first, counted);
                BitWriter bits;
                std::vector<std::int16_t> decoded(blockSize);
                coder.code(values, step, bits, decoded);
                EXPECT_EQ(bits.bitCount(), counted)
                    << "levels " << g.levels << ", amplitude " << amplitude << ", step " << step;
            }
        }
    }
}

// The squared error of the decoded samples of a block coded without a
// transform, whose values are the samples themselves, by a new coder at
// `step`.
double errorAtStep(const std::vector<double>& values, double step) {
    BlockCoder coder(0, static_cast<unsigned>(values.size()));
    BitWriter bits;
    std::vector<std::int16_t> decoded(values.size());
    coder.code(values, step, bits, decoded);
    double error = 0;
    for (std::size_t i = 0; i < values.size(); ++i)
        error += (decoded[i] - values[i]) * (decoded[i] - values[i]);
    return error;
}

// The grid steps (a quarter octave apart) number coarseK down to fineK.
std::vector<double> gridStepsDown(int coarseK, int fineK) {
    std::vector<double> out;
    for (int k = coarseK; k >= fineK; --k)
        out.push_back(std::round(std::exp2(double(k) / 4)));
    return out;
}

// Full-scale waveforms on a coarse lattice come back with less error at
// every finer step asked down to a middle one, and from there on within a
// few units (finer steps that fit the lattice less well may give a little
// more, within the same bound): +32767 and -32768 are no whole multiples of
// one step, but among the steps that reach them in a power of two
// multiples one misses each by little. A square comes back within a unit
// (in the mean square), a square whose edges are ramps of multiples of 8192
// within four, and the latter decoded at a step of 4095 (its plateaus at
// +-32760) exactly.
TEST(BlockCoder, FullScaleLatticesComeBackCloseAtEveryStep) {
    struct Lattice {
        const char* name;
        int (*sample)(std::size_t phase);  // phase 0 to 219 of a 100 Hz period
        double mostError;                  // root mean square, from the middle step on
    };
    const Lattice lattices[] = {
        {"square", [](std::size_t p) { return p < 110 ? 32767 : -32768; }, 1},
        {"ramped square",
         [](std::size_t p) {
             const int v = p < 110 ? -32768 + 8192 * int(p) : 32767 - 8192 * (int(p) - 110);
             return std::clamp(v, -32768, 32767);
         },
         4},
        {"ramped square decoded",
         [](std::size_t p) {
             const int v = p < 110 ? -8 + 2 * int(p) : 8 - 2 * (int(p) - 110);
             return 4095 * std::clamp(v, -8, 8);
         },
         0},
    };
    constexpr std::size_t rows = 1024;
    constexpr double middleStep = 4096;
    for (const Lattice& lattice : lattices) {
        std::vector<double> values(rows);
        for (std::size_t i = 0; i < rows; ++i)
            values[i] = lattice.sample((i + 37) % 220);
        double previous = -1;
        for (const double step : gridStepsDown(52, 16)) {
            const double error = errorAtStep(values, step);
            if (step >= middleStep && previous >= 0) {
                EXPECT_LE(error, previous) << lattice.name << ", step " << step;
            }
            if (step <= middleStep) {
                EXPECT_LE(error, double(rows) * lattice.mostError * lattice.mostError)
                    << lattice.name << ", step " << step;
            }
            previous = error;
        }
    }
}

// Loud waveforms whose samples reach full scale, coded as constant quality
// codes them at one level in blocks of 256 rows (as a clipped sawtooth at a
// middle quality is): the mean square error of the decoded samples of the
// blocks after the first, at this step.
struct NearFullScale {
    const char* name;
    double (*sample)(double t);  // at t seconds
};

double meanSquareError(const NearFullScale& signal, double step) {
    constexpr unsigned levels = 1;
    constexpr unsigned rows = 256;
    constexpr std::size_t blockSize = 2 * rows;
    constexpr std::size_t blocks = 6;
    const std::size_t margin = analysisMargin(levels);
    std::vector<std::int16_t> samples(blocks * blockSize + margin);
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = testing::clampedSample(signal.sample(double(i) / 22050));
    // The values before the output shift that decode to the samples (see fillTargets).
    std::vector<double> values(samples.size());
    for (std::size_t i = 0; i < samples.size(); ++i)
        values[i] = samples[i] * 2.0 + 1.0;
    analyse(values, levels);
    BlockCoder coder(levels, rows);
    coder.allowCoarserOnWrap(true);
    coder.allowEasedWraps(true);
    double error = 0;
    std::vector<std::int16_t> decoded(blockSize);
    for (std::size_t b = 0; b < blocks; ++b) {
        BitWriter bits;
        coder.code(std::span<const double>(values).subspan(b * blockSize, blockSize), step, bits,
                   decoded);
        for (std::size_t i = 0; b > 0 && i < blockSize; ++i) {
            const double e = double(decoded[i]) - samples[b * blockSize + i];
            error += e * e;
        }
    }
    return error / double((blocks - 1) * blockSize);
}

// Where quantisation noise would push a few samples past full scale, the
// coder keeps the step asked for and moves the values under them: at every
// finer step from a middle one down the error falls, or rises by a tenth or
// so at most (the coder weighs the values' error, which follows the
// samples' closely but not exactly). Taking a few per cent of level from the whole block instead
// (what a rate does) held a clipped sine and a clipped chord at errors a
// hundred times those of the steps that did not wrap.
TEST(BlockCoder, SamplesThatWouldWrapCostLittleNoiseAtEveryStep) {
    const NearFullScale signals[] = {
        {"sine at full scale",
         [](double t) { return 32767.0 * std::sin(2 * std::numbers::pi * 441 * t); }},
        {"clipped sine",
         [](double t) { return 1.3 * 32767.0 * std::sin(2 * std::numbers::pi * 300 * t); }},
        {"clipped chord",
         [](double t) {
             double v = 0;
             for (const double f : {220.0, 277.18, 329.63})
                 v += std::sin(2 * std::numbers::pi * f * t);
             return 0.85 * 32767.0 * v;
         }},
        {"sawtooth",
         [](double t) {
             double v = 0;
             for (int k = 1; 220 * k < 11025; ++k)
                 v += std::sin(2 * std::numbers::pi * 220 * k * t) / k;
             return -2 / std::numbers::pi * 29000.0 * v;
         }},
    };
    constexpr double mostRise = 1.15;
    for (const NearFullScale& signal : signals) {
        double least = HUGE_VAL;
        for (const double step : gridStepsDown(40, 20)) {
            const double error = meanSquareError(signal, step);
            EXPECT_LE(error, mostRise * least) << signal.name << ", step " << step;
            least = std::min(least, error);
        }
    }
}
}  // namespace
}  // namespace talveco
