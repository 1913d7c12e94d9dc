#include "platform/Pages.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

namespace talveco {
namespace {

// Mapping pages ahead is a hint: whatever the buffers around the range
// held stays as it was, whatever the range's alignment and size.
TEST(Pages, MappingPagesAheadKeepsEveryByte) {
    std::vector<std::uint8_t> bytes(300 * 1024);
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<std::uint8_t>(i * 7 + 3);
    const std::vector<std::uint8_t> before = bytes;
    for (const std::size_t offset : {0, 1, 4095, 100000})
        mapPagesNow(bytes.data() + offset, bytes.size() - offset);
    mapPagesNow(bytes.data() + 17, 70 * 1024);
    EXPECT_EQ(bytes, before);
}

TEST(Pages, ResizedVectorsHoldZeros) {
    for (const std::size_t count : {std::size_t{0}, std::size_t{10}, std::size_t{1} << 20}) {
        std::vector<std::int32_t> values;
        resizeWithPagesMapped(values, count);
        ASSERT_EQ(values.size(), count);
        EXPECT_EQ(std::count(values.begin(), values.end(), 0), static_cast<std::ptrdiff_t>(count));
    }
}

}  // namespace
}  // namespace talveco
