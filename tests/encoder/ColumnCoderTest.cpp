// The column codes' cost model against the bits the writer really writes, and
// the cheapest code against a search of all 32.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <iostream>
#include <limits>
#include <span>
#include <string>
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

void expectSameStats(const ColumnStats& fast, const ColumnStats& plain, const std::string& what) {
    EXPECT_EQ(fast.rows, plain.rows) << what;
    EXPECT_EQ(fast.lowest, plain.lowest) << what;
    EXPECT_EQ(fast.highest, plain.highest) << what;
    EXPECT_EQ(fast.zeros, plain.zeros) << what;
    EXPECT_EQ(fast.zeroPairBits, plain.zeroPairBits) << what;
    for (int m = 0; m < 6; ++m)
        EXPECT_EQ(fast.magnitudes[m], plain.magnitudes[m]) << what << ", magnitude " << m;
}

std::string describe(std::span<const int> column) {
    std::string out = "column";
    for (const int index : column)
        out += " " + std::to_string(index);
    return out;
}

// The branch-free statistics against the walk of the rows, on columns of
// every length, zeros alone, in runs of odd and even length and in the last
// row, and magnitudes on both sides of the bins.
TEST(ColumnCoder, StatisticsWithoutBranchesAgreeWithTheRowWalk) {
    const std::uint32_t seed = 0x5eed32u;
    std::cout << "random columns from seed " << seed << "\n";
    testing::Noise noise(seed);
    std::vector<std::size_t> lengths;
    for (std::size_t rows = 1; rows <= 40; ++rows)
        lengths.push_back(rows);
    // Runs of zeros across the 64-row masks of the branch-free form.
    for (const std::size_t rows : {63u, 64u, 65u, 127u, 128u, 129u, 191u, 256u, 257u})
        lengths.push_back(rows);
    for (const int largest : {0, 1, 2, 4, 5, 6, 300, 32768}) {
        for (const std::size_t rows : lengths) {
            for (unsigned zeros = 0; zeros <= 8; ++zeros) {
                const std::vector<int> column = randomColumn(noise, rows, -largest, largest, zeros);
                expectSameStats(columnStats(column), columnStatsByRows(column), describe(column));
            }
        }
    }
}

// Zero runs the writer pairs from their start: the cases where greedy
// pairing and the last row decide the bits.
TEST(ColumnCoder, ZeroPairBitsOfRunsAtEveryPlace) {
    struct Case {
        std::vector<int> column;
        std::uint32_t zeroPairBits;
    };
    const Case cases[] = {
        {{0}, 1},          {{0, 0}, 1},          {{0, 0, 0}, 2},       {{0, 1}, 2},
        {{1, 0}, 1},       {{0, 0, 1}, 1},       {{0, 0, 0, 1}, 3},    {{1, 0, 0, 0}, 2},
        {{0, 1, 0, 0}, 3}, {{0, 0, 0, 0, 0}, 3}, {{2, 0, 0, 0, 3}, 3}, {{1, 2, 3}, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(columnStats(c.column).zeroPairBits, c.zeroPairBits) << describe(c.column);
        EXPECT_EQ(columnStatsByRows(c.column).zeroPairBits, c.zeroPairBits) << describe(c.column);
        // Where code 17 holds the column, the writer spends those bits on the zeros.
        const auto [lowest, highest] = std::minmax_element(c.column.begin(), c.column.end());
        if (*lowest >= -1 && *highest <= 1) {
            BitWriter bits;
            encodeColumn(bits, 17, c.column);
            const auto nonZero = static_cast<std::uint32_t>(
                std::count_if(c.column.begin(), c.column.end(), [](int k) { return k != 0; }));
            EXPECT_EQ(bits.bitCount(), 5 + c.zeroPairBits + 3 * nonZero) << describe(c.column);
        }
    }
}

}  // namespace
}  // namespace talveco
