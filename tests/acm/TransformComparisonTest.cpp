// The vectorised transform against the plain reference, on random values and
// carries for every width and height the stages can meet, and for whole
// blocks of every level count.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "acm/InverseTransform.h"
#include "tests/acm/ReferenceComparison.h"
#include "tests/acm/ReferenceTransform.h"

namespace talveco {
namespace {

using Values = std::vector<std::int32_t>;
using Carries = std::vector<std::uint32_t>;

Values randomValues(std::size_t count, std::mt19937& random, bool sixteenBit) {
    std::uniform_int_distribution<std::int32_t> wide(INT32_MIN, INT32_MAX);
    std::uniform_int_distribution<std::int32_t> narrow(-32768, 32767);
    Values values(count);
    for (std::int32_t& v : values)
        v = sixteenBit ? narrow(random) : wide(random);
    return values;
}

Carries randomCarries(std::size_t count, std::mt19937& random) {
    std::uniform_int_distribution<std::uint32_t> any;
    Carries carries(count);
    for (std::uint32_t& c : carries)
        c = any(random);
    return carries;
}

using StageFunction = void (*)(std::span<std::uint32_t>, std::size_t, std::size_t,
                               std::span<std::int32_t>);

struct StageCase {
    const char* name;
    StageFunction fast;
    StageFunction reference;
    std::size_t carrySlotsPerColumn;
    bool sixteenBitInputs;
};

void PrintTo(const StageCase& c, std::ostream* out) {
    *out << c.name;
}

class StageComparison : public ::testing::TestWithParam<StageCase> {};

// Widths cover the narrow special cases (1, 2), vector groups with and
// without a remainder and odd widths; heights include stripes whose pair
// count is odd.
TEST_P(StageComparison, MatchesTheReferenceForEveryShape) {
    const StageCase& c = GetParam();
    const std::uint32_t seed = testing::comparisonSeed();
    SCOPED_TRACE(testing::seedTrace(seed));
    std::mt19937 random(seed);
    for (const std::size_t width :
         {1u, 2u, 3u, 4u, 5u, 7u, 8u, 12u, 16u, 17u, 20u, 32u, 35u, 64u}) {
        for (const std::size_t height : {2u, 4u, 6u, 8u, 10u, 12u, 34u, 64u}) {
            const Values input = randomValues(width * height + 5, random, c.sixteenBitInputs);
            const Carries carries = randomCarries(c.carrySlotsPerColumn * width + 3, random);
            Values fastValues = input;
            Values referenceValues = input;
            Carries fastCarries = carries;
            Carries referenceCarries = carries;
            c.fast(fastCarries, width, height, fastValues);
            c.reference(referenceCarries, width, height, referenceValues);
            ASSERT_EQ(fastValues, referenceValues) << "width " << width << ", height " << height;
            ASSERT_EQ(fastCarries, referenceCarries) << "width " << width << ", height " << height;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Stages, StageComparison,
                         ::testing::Values(StageCase{"FirstStage", transformFirstStage,
                                                     reference::transformFirstStage, 1, true},
                                           StageCase{"LaterStage", transformStage,
                                                     reference::transformStage, 2, false}),
                         [](const auto& testInfo) { return std::string(testInfo.param.name); });

// Several blocks in a row with shared carries, so that carries written by the
// fast code are read back by it, for every level count and for row counts
// that leave a short last stripe.
TEST(TransformComparison, WholeBlocksMatchTheReferenceAtEveryLevelCount) {
    const std::uint32_t seed = testing::comparisonSeed();
    SCOPED_TRACE(testing::seedTrace(seed));
    std::mt19937 random(seed);
    for (unsigned levels = 0; levels <= 15; ++levels) {
        const unsigned rows = levels >= 13 ? 3 : levels >= 9 ? 7 : 130;
        const BlockGeometry geometry = blockGeometry(levels, rows);
        Carries fastCarries(geometry.carryCount, 0);
        Carries referenceCarries(geometry.carryCount, 0);
        for (int block = 0; block < 3; ++block) {
            const Values input = randomValues(geometry.blockSize, random, true);
            Values fastValues = input;
            Values referenceValues = input;
            inverseTransform(geometry, fastValues, fastCarries);
            reference::inverseTransform(geometry, referenceValues, referenceCarries);
            ASSERT_EQ(fastValues, referenceValues) << "levels " << levels << ", block " << block;
            ASSERT_EQ(fastCarries, referenceCarries) << "levels " << levels << ", block " << block;
        }
    }
}

}  // namespace
}  // namespace talveco
