// The earlier stream an edit is coded like: read block by block as far as its bytes go, its
// blocks found again wherever the new input holds them, and the guide for blocks that hold
// only some of its samples, at offsets in or out of step with the transform's rows.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "encoder/ColumnCoder.h"
#include "encoder/PreviousStream.h"
#include "talveco/encoder.h"
#include "talveco/limits.h"
#include "tests/support/AcmStreamBuilder.h"
#include "tests/support/EncoderRuns.h"

namespace talveco {
namespace {

using Samples = std::vector<std::int16_t>;

constexpr unsigned kLevels = 2;  // 4 columns
constexpr unsigned kRows = 16;   // blocks of 64 values
constexpr std::size_t kColumns = std::size_t{1} << kLevels;
constexpr std::size_t kBlockSize = kColumns * kRows;
// The block steps: every other one shares a factor with the next, so that the steps of values
// taken from two blocks have a common divisor below both.
constexpr std::uint16_t kSteps[] = {12, 18, 12, 18, 30, 12};
constexpr std::size_t kBlocks = std::size(kSteps);
constexpr std::size_t kLastReal = 20;  // samples of the last block the header counts
constexpr std::size_t kSampleCount = (kBlocks - 1) * kBlockSize + kLastReal;

// A mono stream of random values, each column in its cheapest code.
std::vector<std::uint8_t> randomStream(std::uint32_t sampleCount, unsigned levels, unsigned rows,
                                       std::span<const std::uint16_t> steps, unsigned seed) {
    testing::AcmStreamBuilder builder(sampleCount, levels, rows, 1);
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> index(-20, 20);
    std::vector<int> column(rows);
    for (const std::uint16_t step : steps) {
        builder.blockHeader(6, step);
        for (unsigned c = 0; c < builder.columns(); ++c) {
            for (int& i : column)
                i = index(random);
            builder.column(cheapestColumnCode(column).code, column);
        }
    }
    return builder.bytes();
}

class PreviousStreamTest : public ::testing::Test {
  protected:
    PreviousStreamTest()
        : bytes_(randomStream(kSampleCount, kLevels, kRows, kSteps, 11)), old_(bytes_) {
        for (std::size_t b = 0; b < old_.blocks(); ++b)
            decoded_.insert(decoded_.end(), old_.samples(b).begin(), old_.samples(b).end());
    }
    // The earlier stream's samples from `first` on.
    Samples run(std::size_t first, std::size_t count) const {
        return Samples(decoded_.begin() + std::ptrdiff_t(first),
                       decoded_.begin() + std::ptrdiff_t(first + count));
    }
    // The earlier stream's values from `first` on.
    std::vector<double> values(std::size_t first, std::size_t count) const {
        std::vector<double> out;
        for (std::size_t i = first; i < first + count; ++i)
            out.push_back(old_.unpacked(i / kBlockSize)[i % kBlockSize]);
        return out;
    }

    std::vector<std::uint8_t> bytes_;
    PreviousStream old_;
    Samples decoded_;
};

TEST_F(PreviousStreamTest, ReadsEveryBlockWithItsStep) {
    EXPECT_EQ(old_.levels(), kLevels);
    EXPECT_EQ(old_.rows(), kRows);
    ASSERT_EQ(old_.blocks(), kBlocks);
    for (std::size_t b = 0; b < kBlocks; ++b)
        EXPECT_EQ(old_.step(b), kSteps[b]) << b;
    // The samples are those the library's decoder gives.
    AcmStream stream = AcmStream::openMemory(bytes_);
    Samples fromDecoder(kSampleCount);
    ASSERT_EQ(stream.read(fromDecoder), kSampleCount);
    EXPECT_EQ(run(0, kSampleCount), fromDecoder);
}

// A block is found at its own place, moved by whole blocks or by any other amount; the end of
// the sound (the real part of the last block) wherever it went; a block with one sample
// changed, or a short run that is not the end, nowhere.
TEST_F(PreviousStreamTest, FindsABlockAgainWhereverItMoved) {
    struct Case {
        const char* label;
        Samples samples;
        std::size_t position;
        std::optional<std::size_t> block;
    };
    Samples changed = run(3 * kBlockSize, kBlockSize);
    changed[40] ^= 1;
    const Case cases[] = {
        {"in place", run(2 * kBlockSize, kBlockSize), 2 * kBlockSize, 2},
        {"moved by whole blocks", run(3 * kBlockSize, kBlockSize), 1 * kBlockSize, 3},
        {"moved back", run(1 * kBlockSize, kBlockSize), 4 * kBlockSize, 1},
        {"moved by part of a block", run(3 * kBlockSize, kBlockSize), 37, 3},
        {"one sample changed", changed, 3 * kBlockSize, std::nullopt},
        {"the end, moved", run(5 * kBlockSize, kLastReal), 2 * kBlockSize + 9, 5},
        {"a start that is not the end", run(2 * kBlockSize, kLastReal), 7, std::nullopt},
        {"the end, cut shorter", run(5 * kBlockSize, kLastReal - 1), 3 * kBlockSize, std::nullopt},
    };
    for (const Case& c : cases)
        EXPECT_EQ(old_.blockDecodingTo(c.samples, c.position), c.block) << c.label;
}

// Samples of the earlier stream moved by a multiple of the row width (here 80: a block and a
// quarter) line up with its rows: the guide keeps them all, stays near the earlier values, and
// tries first the step that all of those values are multiples of (the gcd of 18 and 12), then
// each step, the most used (18, for 48 of the 64 values) first, and last the gcd with 2^levels.
TEST_F(PreviousStreamTest, GuideAtAWholeRowOffsetTakesTheEarlierValuesAndTheirCommonStep) {
    const std::size_t offset = kBlockSize + 4 * kColumns;
    const std::vector<double> analysis(kBlockSize, 0.5);
    const auto guide = old_.guide(run(offset, kBlockSize), 0, analysis);
    ASSERT_TRUE(guide);
    EXPECT_EQ(guide->kept, std::vector<std::uint8_t>(kBlockSize, 1));
    EXPECT_TRUE(guide->earlierValues);
    EXPECT_EQ(guide->reference, values(offset, kBlockSize));
    EXPECT_EQ(guide->steps, (std::vector<std::uint16_t>{6, 18, 12, 2}));
}

// Moved by other than whole rows, the samples are kept but the earlier values mean nothing
// there: the guide stays near the analysis and tries only a step of at most the values of one
// sample (2^levels), which fits every sample. Samples past the earlier stream's are not kept.
TEST_F(PreviousStreamTest, GuideOutOfStepWithTheRowsKeepsTheSamplesButNotTheValues) {
    const std::size_t offset = kBlockSize + 4 * kColumns + 1;
    std::vector<double> analysis(kBlockSize);
    for (std::size_t i = 0; i < kBlockSize; ++i)
        analysis[i] = double(i) - 30.25;
    Samples samples = run(offset, kBlockSize);
    std::fill(samples.begin() + 48, samples.end(), std::int16_t{30000});  // never in the stream
    const auto guide = old_.guide(samples, 3, analysis);
    ASSERT_TRUE(guide);
    std::vector<std::uint8_t> kept(kBlockSize, 1);
    std::fill(kept.begin() + 48, kept.end(), 0);
    EXPECT_EQ(guide->kept, kept);
    EXPECT_FALSE(guide->earlierValues);
    EXPECT_EQ(guide->reference, analysis);
    EXPECT_EQ(guide->steps, std::vector<std::uint16_t>{4});
}

// A guide needs a row's worth of the earlier samples (here 4); fewer, found at the end of a
// block where no longer run can begin, are not worth the trials.
TEST_F(PreviousStreamTest, GuideNeedsARowsWorthOfSamples) {
    for (const std::size_t found : {kColumns - 1, kColumns}) {
        Samples samples(kBlockSize, 30000);
        const std::size_t first = kBlockSize - found;
        std::copy_n(decoded_.begin() + std::ptrdiff_t(first), found,
                    samples.begin() + std::ptrdiff_t(first));
        const auto guide = old_.guide(samples, 0, std::vector<double>(kBlockSize, 0.0));
        EXPECT_EQ(guide.has_value(), found == kColumns) << found;
        if (!guide) continue;
        std::vector<std::uint8_t> kept(kBlockSize, 0);
        std::fill(kept.begin() + std::ptrdiff_t(first), kept.end(), 1);
        EXPECT_EQ(guide->kept, kept);
        EXPECT_EQ(guide->steps, (std::vector<std::uint16_t>{12, 4}));
    }
}

// A stream cut short anywhere keeps exactly the blocks whose bits are all there, each as the
// whole stream has it, also when its header promises far more samples than the bytes hold.
TEST_F(PreviousStreamTest, StreamCutShortKeepsTheBlocksItHoldsWhole) {
    std::size_t lastBlocks = 0;
    std::vector<bool> seen(kBlocks + 1, false);
    for (std::size_t length = 14; length <= bytes_.size(); ++length) {
        std::vector<std::uint8_t> cut(bytes_.begin(), bytes_.begin() + std::ptrdiff_t(length));
        for (const bool promiseMore : {false, true}) {
            if (promiseMore) {
                cut[4] = cut[5] = cut[6] = 0xFF;  // 2^30 - 1 samples
                cut[7] = 0x3F;
            }
            const PreviousStream partial(cut);
            SCOPED_TRACE(std::to_string(length) +
                         (promiseMore ? " bytes, promising more" : " bytes"));
            ASSERT_LE(partial.blocks(), kBlocks);
            ASSERT_GE(partial.blocks(), lastBlocks);
            for (std::size_t b = 0; b < partial.blocks(); ++b) {
                ASSERT_EQ(partial.step(b), kSteps[b]);
                ASSERT_TRUE(std::ranges::equal(partial.samples(b), old_.samples(b))) << b;
                ASSERT_TRUE(std::ranges::equal(partial.unpacked(b), old_.unpacked(b))) << b;
            }
            if (!promiseMore) lastBlocks = partial.blocks();
            seen[partial.blocks()] = true;
        }
    }
    EXPECT_EQ(lastBlocks, kBlocks);
    EXPECT_EQ(std::count(seen.begin(), seen.end(), true), std::ptrdiff_t(kBlocks + 1));
}

// The largest blocks the encoder makes, at the most levels: 15 levels of 32 rows (2^20
// values). An earlier stream of them is taken as it is, and its samples come back exactly.
TEST(PreviousStreamLargest, FifteenLevelsOfThirtyTwoRowsComeBackExactly) {
    constexpr unsigned levels = 15;
    const unsigned rows = limits::maxEncoderRows(levels);
    ASSERT_EQ(rows, 32U);
    const std::size_t blockSize = (std::size_t{1} << levels) * rows;
    testing::AcmStreamBuilder builder(static_cast<std::uint32_t>(blockSize), levels, rows, 1);
    builder.blockHeader(6, 40);
    std::mt19937 random(5);
    std::uniform_int_distribution<int> index(-3, 3);
    std::vector<int> column(rows);
    for (unsigned c = 0; c < builder.columns(); ++c) {
        if (c % 512 != 0) {
            builder.zeroColumn();
            continue;
        }
        for (int& i : column)
            i = index(random);
        builder.column(cheapestColumnCode(column).code, column);
    }
    const PreviousStream old(builder.bytes());
    EXPECT_EQ(old.levels(), levels);
    EXPECT_EQ(old.rows(), rows);
    ASSERT_EQ(old.blocks(), 1U);
    const Samples samples(old.samples(0).begin(), old.samples(0).end());
    ASSERT_TRUE(std::any_of(samples.begin(), samples.end(), [](std::int16_t s) { return s != 0; }));
    EncoderSettings like;
    like.likeStream = builder.bytes();
    const testing::Encoded again = testing::encodeInMemory(samples, 1, like);
    EXPECT_EQ(again.report.levels, levels);
    EXPECT_EQ(again.report.rows, rows);
    EXPECT_EQ(again.report.exactSamples, blockSize);
    EXPECT_TRUE(again.predicted == samples);
}

}  // namespace
}  // namespace talveco
