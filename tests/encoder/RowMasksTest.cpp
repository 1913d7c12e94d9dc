// Row masks and their set bits against a plain walk of the rows.
#include <gtest/gtest.h>

#include <cstdint>
#include <iostream>
#include <vector>

#include "encoder/RowMasks.h"
#include "tests/support/Noise.h"

namespace talveco {
namespace {

// Every count from none to 64, every share of rows held: the mask built a
// byte of flags at a time must set exactly the rows held, and no bit past
// the last row.
TEST(RowMasks, MaskSetsTheRowsHeldAndNoOthers) {
    const std::uint32_t seed = 0x3a5c7u;
    std::cout << "random rows from seed " << seed << "\n";
    testing::Noise noise(seed);
    std::vector<int> values(64);
    for (std::size_t count = 0; count <= 64; ++count) {
        for (unsigned share = 0; share <= 4; ++share) {
            std::uint64_t plain = 0;
            for (std::size_t i = 0; i < 64; ++i) {
                values[i] = noise.next() % 4 < share ? 0 : 1 + int(noise.next() % 9);
                if (i < count && values[i] == 0) plain |= std::uint64_t{1} << i;
            }
            const std::uint64_t mask = rowMask(values.data(), count, [](int v) { return v == 0; });
            EXPECT_EQ(mask, plain) << count << " rows, share " << share;
            unsigned ones = 0;
            for (std::uint64_t m = plain; m != 0; m >>= 1)
                ones += unsigned(m & 1);
            EXPECT_EQ(setBits(mask), ones) << count << " rows, share " << share;
        }
    }
    EXPECT_EQ(setBits(~std::uint64_t{0}), 64u);
    EXPECT_EQ(setBits(std::uint64_t{1} << 63), 1u);
}

}  // namespace
}  // namespace talveco
