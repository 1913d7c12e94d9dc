#include "acm/InverseTransform.h"

#include <gtest/gtest.h>

#include <random>

namespace talveco {
namespace {

using Values = std::vector<std::int32_t>;
using Carries = std::vector<std::uint32_t>;

using Pairs = std::vector<StageCarry>;

// Every view column's carry pair, stage after stage.
Pairs carryPairs(const BlockGeometry& geometry, const Carries& wrap) {
    Pairs pairs;
    for (unsigned stage = 1; stage <= geometry.levels; ++stage) {
        for (std::size_t column = 0; column < geometry.columns >> stage; ++column)
            pairs.push_back(stageCarry(geometry, wrap, stage, column));
    }
    return pairs;
}

TEST(InverseTransform, OneLevelCarriesIntoTheNextBlock) {
    const BlockGeometry geometry = blockGeometry(1, 2);
    Carries wrap(geometry.carryCount, 0);
    Values block = {4, 2, 6, 0};
    inverseTransform(geometry, block, wrap);
    EXPECT_EQ(block, (Values{5, 7, 15, 11}));
    EXPECT_EQ(carryPairs(geometry, wrap), (Pairs{{6, 0}}));

    block = {1, 1, 1, 1};
    inverseTransform(geometry, block, wrap);
    EXPECT_EQ(block, (Values{8, 2, 5, 1}));
    EXPECT_EQ(carryPairs(geometry, wrap), (Pairs{{1, 1}}));
}

TEST(InverseTransform, TwoLevelsStageByStage) {
    // Carries of one stage: the a values of its view columns, then the b values.
    Carries firstCarries(4, 0);
    Values stripe = {4, 2, 6, 0, 1, 3, 5, 7};
    transformFirstStage(firstCarries, 2, 4, stripe);
    EXPECT_EQ(stripe, (Values{4, 2, 2, 4, 17, 5, -9, -1}));
    EXPECT_EQ(firstCarries, (Carries{1, 3, 5, 7}));

    Carries secondCarries(2, 0);
    stripe = {5, 2, 3, 4, 18, 5, -8, -1};
    transformStage(secondCarries, 1, 8, stripe);
    EXPECT_EQ(stripe, (Values{5, 8, 12, 0, 29, 27, 20, -20}));
    EXPECT_EQ(secondCarries,
              (Carries{static_cast<std::uint32_t>(-8), static_cast<std::uint32_t>(-1)}));
}

TEST(InverseTransform, TwoLevelsWholeBlock) {
    const BlockGeometry geometry = blockGeometry(2, 2);
    Carries wrap(geometry.carryCount, 0);
    Values block = {4, 2, 6, 0, 1, 3, 5, 7};
    inverseTransform(geometry, block, wrap);
    EXPECT_EQ(block, (Values{5, 8, 12, 0, 29, 27, 20, -20}));
    EXPECT_EQ(carryPairs(geometry, wrap), (Pairs{{1, 5}, {3, 7}, {-8, -1}}));
}

TEST(InverseTransform, TwoLevelsZeroRow) {
    const BlockGeometry geometry = blockGeometry(2, 1);
    Carries wrap(geometry.carryCount, 0);
    Values block = {0, 0, 0, 0};
    inverseTransform(geometry, block, wrap);
    EXPECT_EQ(block, (Values{1, 2, 2, 2}));
    EXPECT_EQ(carryPairs(geometry, wrap), (Pairs{{0, 0}, {0, 0}, {1, 0}}));
}

TEST(InverseTransform, NegativeStageOneCarriesComeBackSignExtended) {
    const BlockGeometry geometry = blockGeometry(1, 1);
    Carries wrap(geometry.carryCount, 0);
    Values block = {-32768, 32767};
    inverseTransform(geometry, block, wrap);
    EXPECT_EQ(carryPairs(geometry, wrap), (Pairs{{-32768, 32767}}));
    block = {0, 0};
    inverseTransform(geometry, block, wrap);
    // a + 2b + 0 and 0 - b - 0 from the carry (-32768, 32767), plus one.
    EXPECT_EQ(block, (Values{32767, -32767 + 1}));
}

TEST(InverseTransform, ZeroStreamRampsUpToHalfTheColumns) {
    for (unsigned levels = 1; levels <= 9; ++levels) {
        const BlockGeometry geometry = blockGeometry(levels, 3);
        Carries wrap(geometry.carryCount, 0);
        const std::int32_t plateau = 1 << (levels - 1);
        std::size_t position = 0;
        for (int blockNumber = 0; blockNumber < 3; ++blockNumber) {
            Values block(geometry.blockSize, 0);
            inverseTransform(geometry, block, wrap);
            for (const std::int32_t value : block) {
                ++position;
                const auto expected = static_cast<std::int32_t>(
                    std::min<std::size_t>(position, static_cast<std::size_t>(plateau)));
                ASSERT_EQ(value, expected) << "levels " << levels << ", value " << position;
            }
        }
    }
}

Values randomAmplitudes(std::size_t count, std::mt19937& random) {
    // Mostly small values, with the ends of the 16-bit range mixed in so that
    // stored carries and the wrapping arithmetic are exercised.
    std::uniform_int_distribution<int> small(-300, 300);
    std::uniform_int_distribution<int> pick(0, 9);
    Values values(count);
    for (std::int32_t& v : values) {
        const int kind = pick(random);
        v = kind == 0 ? -32768 : kind == 1 ? 32767 : kind == 2 ? -32767 : small(random);
    }
    return values;
}

BlockGeometry withStripeRows(BlockGeometry geometry, std::size_t stripeRows) {
    geometry.stripeRows = stripeRows;
    geometry.stripeSize = stripeRows * geometry.columns;
    return geometry;
}

struct Transformed {
    Values values;
    Carries carries;
};

// Transforms consecutive blocks of the given row counts, cut from `input`,
// one after another with shared carries, in stripes of `stripeRows` rows.
Transformed transformInBlocks(unsigned levels, const Values& input, std::vector<unsigned> blockRows,
                              std::size_t stripeRows) {
    Transformed result{{}, Carries(blockGeometry(levels, 1).carryCount, 0)};
    std::size_t start = 0;
    for (const unsigned rows : blockRows) {
        const BlockGeometry geometry = withStripeRows(blockGeometry(levels, rows), stripeRows);
        Values block(input.begin() + static_cast<std::ptrdiff_t>(start),
                     input.begin() + static_cast<std::ptrdiff_t>(start + geometry.blockSize));
        inverseTransform(geometry, block, result.carries);
        result.values.insert(result.values.end(), block.begin(), block.end());
        start += geometry.blockSize;
    }
    return result;
}

TEST(InverseTransform, ResultDoesNotDependOnStripesOrBlocks) {
    std::mt19937 random(77);
    struct Case {
        unsigned levels;
        unsigned rows;
    };
    for (const Case c : {Case{1, 40}, Case{2, 33}, Case{4, 300}, Case{7, 31}, Case{10, 5}}) {
        const Values input = randomAmplitudes((std::size_t{1} << c.levels) * c.rows, random);
        const Transformed natural = transformInBlocks(c.levels, input, {c.rows},
                                                      blockGeometry(c.levels, c.rows).stripeRows);
        const Transformed oneStripe = transformInBlocks(c.levels, input, {c.rows}, c.rows);
        const Transformed rowByRow = transformInBlocks(c.levels, input, {c.rows}, 1);
        const Transformed sevens = transformInBlocks(c.levels, input, {c.rows}, 7);
        const unsigned split = c.rows / 3;
        const Transformed twoBlocks =
            transformInBlocks(c.levels, input, {split, c.rows - split}, 3);
        for (const Transformed* other : {&natural, &rowByRow, &sevens, &twoBlocks}) {
            EXPECT_EQ(other->values, oneStripe.values) << "levels " << c.levels;
            EXPECT_EQ(other->carries, oneStripe.carries) << "levels " << c.levels;
        }
    }
}

TEST(InverseTransform, ShortLastStripeMatchesOneStripe) {
    // 16 columns make passes of 512 rows: 512 and 88 for a block of 600 rows.
    const BlockGeometry geometry = blockGeometry(4, 600);
    ASSERT_EQ(geometry.stripeRows, 512u);
    std::mt19937 random(5);
    const Values input = randomAmplitudes(geometry.blockSize * 2, random);
    EXPECT_EQ(transformInBlocks(4, input, {600, 600}, 512).values,
              transformInBlocks(4, input, {1200}, 1200).values);
}

}  // namespace
}  // namespace talveco
