// The vectorised sample stores, on every vector width this processor runs,
// against outputSample applied value by value, on random values, every level
// count and every length and alignment of a run.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "acm/SampleOutput.h"
#include "acm/TransformKernels.h"
#include "tests/acm/ReferenceComparison.h"

namespace talveco {
namespace {

TEST(OutputComparison, StoresMatchOutputSampleForEveryRun) {
    const std::uint32_t seed = testing::comparisonSeed();
    SCOPED_TRACE(testing::seedTrace(seed));
    std::mt19937 random(seed);
    std::uniform_int_distribution<std::int32_t> anyValue(INT32_MIN, INT32_MAX);
    std::vector<std::int32_t> values(80);
    for (std::int32_t& v : values)
        v = anyValue(random);
    for (unsigned levels = 0; levels <= 15; ++levels) {
        for (std::size_t first = 0; first < 9; ++first) {
            for (std::size_t count = 0; first + count <= values.size(); count += 7) {
                const std::span<const std::int32_t> run(values.data() + first, count);
                // One spare entry past the run shows a store that runs over.
                std::vector<std::int16_t> samples(count + 1, 0x5A5A);
                std::vector<std::uint8_t> bytes(2 * count + 3, 0xA5);
                storeSamples(run, levels, samples.data());
                storeSampleBytes(run, levels, bytes.data() + 1);
                std::vector<std::vector<std::uint8_t>> kernelBytes;
                for (const TransformKernels* kernels : availableKernels()) {
                    kernelBytes.emplace_back(2 * count);
                    kernels->narrow(run.data(), count, levels, kernelBytes.back().data());
                }
                for (std::size_t i = 0; i < count; ++i) {
                    const std::int16_t expected = outputSample(run[i], levels);
                    const auto bits = static_cast<std::uint16_t>(expected);
                    ASSERT_EQ(samples[i], expected) << "levels " << levels << ", value " << i;
                    ASSERT_EQ(bytes[1 + 2 * i], bits & 0xFF) << "levels " << levels;
                    ASSERT_EQ(bytes[2 + 2 * i], bits >> 8) << "levels " << levels;
                    for (std::size_t k = 0; k < kernelBytes.size(); ++k) {
                        ASSERT_EQ(kernelBytes[k][2 * i] | kernelBytes[k][2 * i + 1] << 8, bits)
                            << availableKernels()[k]->name << ", levels " << levels;
                    }
                }
                EXPECT_EQ(samples[count], 0x5A5A);
                EXPECT_EQ(bytes[0], 0xA5);
                EXPECT_EQ(bytes[2 * count + 1], 0xA5);
            }
        }
    }
}

}  // namespace
}  // namespace talveco
