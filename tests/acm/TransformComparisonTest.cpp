// The vectorised transform, built for every vector width this processor
// runs, against the plain reference, on random values and carries for every
// width and height the stages can meet, and for whole blocks of every level
// count.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "acm/InverseTransform.h"
#include "tests/acm/ReferenceComparison.h"
#include "tests/acm/ReferenceTransform.h"

namespace talveco {

// Names the kernel set in the test's messages.
void PrintTo(const TransformKernels* kernels, std::ostream* out) {
    *out << kernels->name;
}

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

// The same carries in the decoder's layout (a values, then b values) and in
// the reference's (a and b of each column side by side).
struct StageCarries {
    Carries decoder;
    Carries reference;
};

StageCarries randomCarries(std::size_t width, std::mt19937& random) {
    std::uniform_int_distribution<std::uint32_t> any;
    StageCarries carries{Carries(2 * width), Carries(2 * width)};
    for (std::size_t j = 0; j < width; ++j) {
        carries.decoder[j] = carries.reference[2 * j] = any(random);
        carries.decoder[width + j] = carries.reference[2 * j + 1] = any(random);
    }
    return carries;
}

class KernelComparison : public ::testing::TestWithParam<const TransformKernels*> {};

// Widths cover the stages narrower than a vector, vector groups with and
// without a remainder and odd widths; heights include stripes whose pair
// count is odd and stripes shorter than a vector.
TEST_P(KernelComparison, StagesMatchTheReferenceForEveryShape) {
    const std::uint32_t seed = testing::comparisonSeed();
    SCOPED_TRACE(testing::seedTrace(seed));
    std::mt19937 random(seed);
    for (const std::size_t width :
         {1u, 2u, 3u, 4u, 5u, 7u, 8u, 12u, 16u, 17u, 20u, 32u, 35u, 64u, 80u}) {
        for (const std::size_t height : {2u, 4u, 6u, 8u, 10u, 12u, 34u, 64u}) {
            const Values input = randomValues(width * height + 5, random, false);
            StageCarries carries = randomCarries(width, random);
            Values fastValues = input;
            Values referenceValues = input;
            GetParam()->stage(carries.decoder.data(), width, height, fastValues.data());
            reference::transformStage(carries.reference, width, height, referenceValues);
            ASSERT_EQ(fastValues, referenceValues) << "width " << width << ", height " << height;
            const StageCarries after = carries;
            for (std::size_t j = 0; j < width; ++j) {
                ASSERT_EQ(after.decoder[j], after.reference[2 * j]) << "column " << j;
                ASSERT_EQ(after.decoder[width + j], after.reference[2 * j + 1]) << "column " << j;
            }
        }
    }
}

// Several blocks in a row with shared carries, so that carries written by the
// fast code are read back by it, for every level count and for row counts
// that leave a short last pass.
TEST_P(KernelComparison, WholeBlocksMatchTheReferenceAtEveryLevelCount) {
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
            inverseTransform(geometry, fastValues, fastCarries, *GetParam());
            reference::inverseTransform(geometry, referenceValues, referenceCarries);
            ASSERT_EQ(fastValues, referenceValues) << "levels " << levels << ", block " << block;
            for (unsigned stage = 1; stage <= levels; ++stage) {
                for (std::size_t j = 0; j < geometry.columns >> stage; ++j) {
                    ASSERT_EQ(stageCarry(geometry, fastCarries, stage, j),
                              reference::stageCarry(geometry, referenceCarries, stage, j))
                        << "levels " << levels << ", stage " << stage << ", column " << j;
                }
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(EveryVectorWidth, KernelComparison,
                         ::testing::ValuesIn(availableKernels().begin(), availableKernels().end()),
                         [](const auto& testInfo) { return std::string(testInfo.param->name); });

}  // namespace
}  // namespace talveco
