// The column codes' cost model against the bits the writer really writes, and
// the cheapest code against a search of all 32.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <vector>

#include "encoder/BitWriter.h"
#include "encoder/ColumnCoder.h"
#include "tests/support/Noise.h"

namespace talveco {
namespace {

constexpr unsigned kCodesWithoutMethod[] = {1, 2, 25, 28, 30, 31};

bool hasMethod(unsigned code) {
    return std::find(std::begin(kCodesWithoutMethod), std::end(kCodesWithoutMethod), code) ==
           std::end(kCodesWithoutMethod);
}

// `rows` indices within [low, high], a `zeroShare` of them 0, so that zeros come
// alone, in pairs and at the end.
std::vector<int> randomColumn(testing::Noise& noise, std::size_t rows, int low, int high,
                              unsigned zeroShareInEighths) {
    std::vector<int> column(rows);
    for (int& index : column) {
        const auto span = static_cast<std::uint32_t>(high - low + 1);
        index = noise.next() % 8 < zeroShareInEighths ? 0 : low + int(noise.next() % span);
    }
    return column;
}

TEST(ColumnCoder, CountsTheBitsTheWriterWritesForEveryCode) {
    testing::Noise noise(17);
    for (unsigned code = 0; code < 32; ++code) {
        if (!hasMethod(code)) continue;
        const auto [low, high] = columnIndexRange(code);
        for (const std::size_t rows : {1u, 2u, 3u, 4u, 5u, 11u, 16u, 33u}) {
            for (unsigned zeros = 0; zeros <= 8; zeros += 2) {
                const std::vector<int> column = randomColumn(noise, rows, low, high, zeros);
                BitWriter bits;
                encodeColumn(bits, code, column);
                EXPECT_EQ(columnBits(code, column), bits.bitCount())
                    << "code " << code << ", " << rows << " rows";
            }
        }
    }
}

TEST(ColumnCoder, ChoosesTheCheapestOfAllCodes) {
    testing::Noise noise(23);
    for (const int largest : {0, 1, 2, 3, 4, 5, 6, 9, 40, 700, 20000}) {
        for (const std::size_t rows : {1u, 2u, 3u, 7u, 16u, 32u}) {
            for (unsigned zeros = 0; zeros <= 8; zeros += 2) {
                const std::vector<int> column = randomColumn(noise, rows, -largest, largest, zeros);
                std::uint64_t fewest = std::numeric_limits<std::uint64_t>::max();
                for (unsigned code = 0; code < 32; ++code) {
                    if (!hasMethod(code)) continue;
                    const auto [low, high] = columnIndexRange(code);
                    const auto [lowest, highest] =
                        std::minmax_element(column.begin(), column.end());
                    if (*lowest >= low && *highest <= high)
                        fewest = std::min(fewest, columnBits(code, column));
                }
                const ColumnChoice choice = cheapestColumnCode(column);
                EXPECT_EQ(choice.bits, fewest) << "largest " << largest << ", " << rows << " rows";
                EXPECT_EQ(columnBits(choice.code, column), fewest);
                EXPECT_EQ(cheapestColumnCode(columnStats(column)).bits, fewest);
            }
        }
    }
}

}  // namespace
}  // namespace talveco
