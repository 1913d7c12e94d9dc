// The loudness of the level check: integer sums against the floating-point
// walk of the samples.
#include <gtest/gtest.h>

#include <cstdint>
#include <iostream>
#include <vector>

#include "encoder/Loudness.h"
#include "tests/support/Noise.h"

namespace talveco {
namespace {

TEST(Loudness, PeakAndEnergyOfKnownSamples) {
    struct Case {
        std::vector<std::int16_t> samples;
        double peak;
        double energy;
    };
    const Case cases[] = {
        {{}, 0, 0},
        {{3, -4}, 4, 25},
        {{-32768, 32767, 0}, 32768, 32768.0 * 32768 + 32767.0 * 32767},
        {{-7, -7, -7}, 7, 147},
    };
    for (const Case& c : cases) {
        for (const Loudness l : {loudnessOf(c.samples), loudnessOfBySamples(c.samples)}) {
            EXPECT_EQ(l.peak, c.peak);
            EXPECT_EQ(l.energy, c.energy);
        }
    }
}

// Segments as long as the level check measures, and longer, of full-scale
// noise: the sums must agree exactly, or the levels chosen could change.
TEST(Loudness, IntegerSumsAgreeWithTheFloatingPointWalk) {
    const std::uint32_t seed = 0x10ad5u;
    std::cout << "random samples from seed " << seed << "\n";
    testing::Noise noise(seed);
    for (const std::size_t length : {1u, 5u, 64u, 1000u, 65536u, 300000u}) {
        for (const int largest : {1, 200, 32767}) {
            std::vector<std::int16_t> samples(length);
            for (std::int16_t& s : samples)
                s = static_cast<std::int16_t>(int(noise.next() % std::uint32_t(2 * largest + 1)) -
                                              largest);
            const Loudness fast = loudnessOf(samples);
            const Loudness plain = loudnessOfBySamples(samples);
            EXPECT_EQ(fast.peak, plain.peak) << length << " samples up to " << largest;
            EXPECT_EQ(fast.energy, plain.energy) << length << " samples up to " << largest;
        }
    }
}

}  // namespace
}  // namespace talveco
