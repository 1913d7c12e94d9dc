// The causal search against the decoder's own transform: values made by the search must decode
// to the samples asked for, and where the answer is unique it must be the values that made
// them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "acm/AcmDecoder.h"
#include "acm/InverseTransform.h"
#include "acm/SampleOutput.h"
#include "encoder/CausalSearch.h"

namespace talveco {
namespace {

// What the decoder makes of `values` from `carries` (which it moves on).
std::vector<std::int16_t> decodeBlock(const BlockGeometry& geometry,
                                      std::vector<std::int32_t> values,
                                      std::vector<std::uint32_t>& carries) {
    inverseTransform(geometry, values, carries);
    std::vector<std::int16_t> samples(geometry.blockSize);
    storeSamples(values, geometry.levels, samples.data());
    return samples;
}

// `count` random multiples of `step`, no larger than `most` and inside the 16-bit range.
std::vector<std::int32_t> randomMultiples(std::size_t count, std::uint16_t step, std::int32_t most,
                                          std::mt19937& random) {
    const std::int32_t reach = std::min<std::int32_t>(most, 32767) / step;
    std::uniform_int_distribution<std::int32_t> index(-reach, reach);
    std::vector<std::int32_t> values(count);
    for (std::int32_t& v : values)
        v = index(random) * step;
    return values;
}

struct RoundTripCase {
    const char* label;
    unsigned levels;
    unsigned rows;
    std::uint16_t step;
    std::int32_t most;  // the largest value drawn
};

class CausalRoundTrip : public ::testing::TestWithParam<RoundTripCase> {};

// Random multiples of the step through the inverse transform, after a block that left carries
// of its own, give samples that the search from the same carries gives back: with the values
// as reference it finds those very values (they are among the candidates, and the nearest),
// and where the step is at least 2^levels it finds them without any reference, there being no
// other choice.
TEST_P(CausalRoundTrip, FindsTheValuesThatMadeTheSamples) {
    const RoundTripCase& c = GetParam();
    const BlockGeometry geometry = blockGeometry(c.levels, c.rows);
    std::mt19937 random(c.levels * 1000 + c.rows + c.step);
    std::vector<std::uint32_t> carries(geometry.carryCount, 0);
    decodeBlock(geometry, randomMultiples(geometry.blockSize, 1, 3000, random), carries);
    for (int trial = 0; trial < 4; ++trial) {
        SCOPED_TRACE("trial " + std::to_string(trial));
        const std::vector<std::int32_t> values =
            randomMultiples(geometry.blockSize, c.step, c.most, random);
        const std::vector<std::uint32_t> before = carries;
        const std::vector<std::int16_t> wanted = decodeBlock(geometry, values, carries);

        CausalSearch search(geometry);
        const std::vector<double> reference(values.begin(), values.end());
        std::vector<std::int32_t> found(geometry.blockSize, 7);
        ASSERT_TRUE(search.search(before, wanted, reference, c.step, found));
        EXPECT_EQ(found, values);

        // Without a reference, a coarse step leaves each sample one multiple at most; a fine
        // one leaves a choice, after which the values may grow out of range.
        if (c.step < (1u << c.levels)) continue;
        std::vector<std::int32_t> blind(geometry.blockSize, 7);
        ASSERT_TRUE(search.search(before, wanted, {}, c.step, blind));
        EXPECT_EQ(blind, values);
    }
}

INSTANTIATE_TEST_SUITE_P(Geometries, CausalRoundTrip,
                         ::testing::Values(RoundTripCase{"NoLevelsStepOne", 0, 16, 1, 32767},
                                           RoundTripCase{"NoLevelsCoarse", 0, 16, 97, 32767},
                                           RoundTripCase{"OneLevel", 1, 8, 2, 2000},
                                           RoundTripCase{"ThreeLevelsFineStep", 3, 6, 3, 400},
                                           RoundTripCase{"ThreeLevels", 3, 6, 8, 400},
                                           RoundTripCase{"FiveLevels", 5, 4, 37, 1500},
                                           RoundTripCase{"SevenLevels", 7, 3, 200, 3000},
                                           RoundTripCase{"SevenLevelsOneRow", 7, 1, 128, 3000}),
                         [](const auto& test) { return std::string(test.param.label); });

// Without levels a sample is its value: the ends of the 16-bit range are reached at step 1,
// -32768 included, and values after the wanted samples are the reference's, rounded to the
// step and held in the range.
TEST(CausalSearch, ReachesTheEndsOfTheRangeWithoutLevels) {
    const BlockGeometry geometry = blockGeometry(0, 6);
    CausalSearch search(geometry);
    const std::vector<std::int16_t> wanted = {-32768, 32767, 0, -1};
    const std::vector<double> reference = {0, 0, 0, 0, 7.4, -1e9};
    std::vector<std::int32_t> found(geometry.blockSize, 5);
    ASSERT_TRUE(search.search({}, wanted, reference, 1, found));
    EXPECT_EQ(found, (std::vector<std::int32_t>{-32768, 32767, 0, -1, 7, -32768}));

    std::vector<std::int32_t> coarse(geometry.blockSize, 5);
    ASSERT_TRUE(search.search({}, std::vector<std::int16_t>{-32766, 32766}, reference, 3, coarse));
    EXPECT_EQ(coarse, (std::vector<std::int32_t>{-32766, 32766, 0, 0, 6, -32766}));
}

// A sample that no multiple of the step gives ends the search there: false, and the values
// from that sample on are left as they were, those before it set.
TEST(CausalSearch, StopsAtTheFirstSampleNoMultipleGives) {
    const BlockGeometry geometry = blockGeometry(0, 4);
    CausalSearch search(geometry);
    std::vector<std::int32_t> found(geometry.blockSize, 5);
    EXPECT_FALSE(search.search({}, std::vector<std::int16_t>{200, 301, 400}, {}, 100, found));
    EXPECT_EQ(found, (std::vector<std::int32_t>{200, 5, 5, 5}));
    // 32767 is odd, and so is every value that wraps to it.
    EXPECT_FALSE(search.search({}, std::vector<std::int16_t>{32767}, {}, 2, found));
}

}  // namespace
}  // namespace talveco
