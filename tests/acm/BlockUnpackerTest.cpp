#include "acm/BlockUnpacker.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "tests/support/AcmStreamBuilder.h"
#include "tests/support/BitWriter.h"
#include "tests/support/MemoryByteSource.h"

namespace talveco {
namespace {

using testing::BitWriter;
using testing::bytesFromBitString;
using testing::MemoryByteSource;
using testing::ZeroPairs;

// ---- AmplitudeTable ----

TEST(AmplitudeTable, ProductsWrapToSixteenBits) {
    AmplitudeTable table;
    table.rewrite(2, 0x4000);
    EXPECT_EQ(table[0], 0);
    EXPECT_EQ(table[1], 16384);
    EXPECT_EQ(table[2], -32768);
    EXPECT_EQ(table[3], -16384);
    EXPECT_EQ(table[-1], -16384);
    EXPECT_EQ(table[-2], -32768);
    EXPECT_EQ(table[-3], 16384);
    EXPECT_EQ(table[-4], 0);
    EXPECT_EQ(table[4], 0) << "entry 2^p is not rewritten";
}

TEST(AmplitudeTable, StepFFFFIsMinusOne) {
    AmplitudeTable table;
    table.rewrite(3, 0xFFFF);
    for (int k = -8; k < 8; ++k)
        EXPECT_EQ(table[k], -k) << k;
    EXPECT_EQ(table[8], 0);
    EXPECT_EQ(table[-9], 0);
}

TEST(AmplitudeTable, RangeZeroRewritesOnlyZeroAndMinusOne) {
    AmplitudeTable table;
    table.rewrite(3, 5);
    table.rewrite(0, 7);
    EXPECT_EQ(table[0], 0);
    EXPECT_EQ(table[-1], -7);
    EXPECT_EQ(table[1], 5) << "left from the earlier block";
    EXPECT_EQ(table[-2], -10) << "left from the earlier block";
}

TEST(AmplitudeTable, RangeFifteenRewritesEveryEntry) {
    AmplitudeTable table;
    table.rewrite(15, 1);
    for (int k = AmplitudeTable::lowest; k <= AmplitudeTable::highest; ++k) {
        ASSERT_EQ(table[k], k) << k;
    }
}

// ---- Column fillers ----

constexpr std::int32_t untouched = 0x5A5A5A5A;
constexpr int step = 3;  // amplitude k is 3k for the small indices used here

struct FillerRun {
    bool result;
    std::vector<std::int32_t> column;  // the filled column, top down
    std::uint64_t consumed;            // bits taken by the filler
};

// Runs the filler of `code` on column 1 of a three-column block, with the
// amplitude table set to k * step, and checks that no other column changes.
FillerRun runFiller(unsigned code, std::size_t rows, const std::vector<std::uint8_t>& bytes) {
    MemoryByteSource source(bytes);
    BitReader bits(source, 512);
    AmplitudeTable amplitudes;
    amplitudes.rewrite(15, step);
    std::vector<std::int32_t> block(rows * 3, untouched);
    ColumnTarget target{bits, amplitudes, block, 3, rows};
    FillerRun run{fillColumn(target, code, 1), {}, bits.bitPosition()};
    for (std::size_t r = 0; r < rows; ++r) {
        EXPECT_EQ(block[r * 3], untouched) << "row " << r << " of column 0";
        EXPECT_EQ(block[r * 3 + 2], untouched) << "row " << r << " of column 2";
        run.column.push_back(block[r * 3 + 1]);
    }
    return run;
}

// Amplitude k is k * step wrapped to 16 bits.
std::vector<std::int32_t> amplitudes(const std::vector<int>& indices) {
    std::vector<std::int32_t> values;
    for (const int index : indices) {
        values.push_back(static_cast<std::int16_t>(static_cast<std::uint16_t>(index * step)));
    }
    return values;
}

struct FillerCase {
    const char* name;
    unsigned code;
    const char* bits;  // stream order
    std::vector<int> indices;
    std::uint64_t consumed;
};

void PrintTo(const FillerCase& c, std::ostream* out) {
    *out << c.name;
}

class ColumnFiller : public ::testing::TestWithParam<FillerCase> {};

TEST_P(ColumnFiller, DecodesThePatternsAndConsumesExactlyThem) {
    const FillerCase& c = GetParam();
    // Ones after the column show up if a filler reads too far.
    const auto run = runFiller(c.code, c.indices.size(),
                               bytesFromBitString(std::string(c.bits) + "1111111111111111"));
    EXPECT_TRUE(run.result);
    EXPECT_EQ(run.column, amplitudes(c.indices));
    EXPECT_EQ(run.consumed, c.consumed);
}

INSTANTIATE_TEST_SUITE_P(
    Patterns, ColumnFiller,
    ::testing::Values(
        FillerCase{"Zero", 0, "", {0, 0, 0}, 0},
        FillerCase{"Range1PairThenSingle", 17, "0 10", {0, 0, 0}, 3},
        FillerCase{"Range1PairAtLastRow", 17, "0", {0}, 1},
        FillerCase{"Range1Pairs", 17, "111 110 0", {1, -1, 0}, 7},
        FillerCase{"Range1", 18, "0 11 10 0", {0, 1, -1, 0}, 6},
        FillerCase{"Range2Pairs", 20, "1100 1110 1101 1111 0 10 0", {-2, -1, 1, 2, 0, 0, 0, 0}, 20},
        FillerCase{"Range2", 21, "0 100 110 101 111", {0, -2, -1, 1, 2}, 13},
        FillerCase{"Range3Pairs",
                   23,
                   "0 10 1101 1100 11100 11110 11101 11111",
                   {0, 0, 0, 1, -1, -3, -2, 2, 3},
                   31},
        FillerCase{"Range3PairAtLastRow", 23, "11111 0", {3, 0}, 6},
        FillerCase{"Range3", 24, "0 101 100 1100 1110 1101 1111", {0, 1, -1, -3, -2, 2, 3}, 23},
        FillerCase{"Range4Pairs",
                   26,
                   "0 10 11000 11100 11010 11110 11001 11101 11011 11111",
                   {0, 0, 0, -4, -3, -2, -1, 1, 2, 3, 4},
                   43},
        FillerCase{"Range4",
                   27,
                   "0 1000 1100 1010 1110 1001 1101 1011 1111",
                   {0, -4, -3, -2, -1, 1, 2, 3, 4},
                   33},
        // Code 3: offset binary, first bit least significant.
        FillerCase{"Linear3", 3, "000 001 111 100", {-4, 0, 3, -3}, 12},
        FillerCase{"Linear4", 4, "0000 0001 1111", {-8, 0, 7}, 12},
        FillerCase{"Triples3Five", 19, "10100", {1, 0, -1}, 5},
        // Two groups for four rows; the second one gives only its first digit.
        FillerCase{"Triples3FourRows", 19, "10100 01011", {1, 0, -1, 1}, 10},
        FillerCase{"Triples3Beyond26", 19, "11011 11111", {-1, -1, -1, -1, -1, -1}, 10},
        FillerCase{"Triples3OneRow", 19, "00000", {-1}, 5},
        FillerCase{"Triples5Max", 22, "0011111", {2, 2, 2}, 7},
        FillerCase{"Triples5Beyond124", 22, "1011111 1111111", {-2, -2, -2, -2, -2, -2}, 14},
        FillerCase{"Triples5Digits", 22, "1101000", {-1, 0, -2}, 7},  // u = 11: digits 1, 2, 0
        FillerCase{"Triples5OneRow", 22, "0010000", {2}, 7},
        FillerCase{"Pairs11Sixty", 29, "0011110", {0, 0}, 7},
        FillerCase{"Pairs11Max", 29, "0001111", {5, 5}, 7},
        FillerCase{"Pairs11Beyond120", 29, "1001111 1111111", {-5, -5, -5, -5}, 14},
        FillerCase{"Pairs11ThreeRows", 29, "1000000 0101000", {-4, -5, 5}, 14}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

TEST(ColumnFiller, LinearSixteenReachesBothEndsOfTheTable) {
    const auto run = runFiller(16, 3,
                               bytesFromBitString("0000000000000000 1111111111111111 "
                                                  "0000000000000001"));
    // With step 3: -32768 * 3 and 32767 * 3 wrapped to 16 bits.
    EXPECT_EQ(run.column, (std::vector<std::int32_t>{-32768, 32765, 0}));
    EXPECT_EQ(run.consumed, 48u);
}

TEST(ColumnFiller, InvalidCodesReadAndWriteNothing) {
    for (const unsigned code : {1u, 2u, 25u, 28u, 30u, 31u}) {
        const auto run = runFiller(code, 4, bytesFromBitString("0101"));
        EXPECT_FALSE(run.result) << code;
        EXPECT_EQ(run.consumed, 0u) << code;
        EXPECT_EQ(run.column, std::vector<std::int32_t>(4, untouched)) << code;
    }
}

// Every code that has a method, against the stream builder: random columns
// of every length, with and without zero pairs, decode to what was encoded
// and take exactly the bits written for them.
TEST(ColumnFiller, EveryCodeDecodesWhatTheBuilderEncodes) {
    std::mt19937 random(1234);
    const unsigned codes[] = {0,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12, 13, 14,
                              15, 16, 17, 18, 19, 20, 21, 22, 23, 24, 26, 27, 29};
    for (const unsigned code : codes) {
        const auto [lowest, highest] = testing::columnIndexRange(code);
        std::uniform_int_distribution<int> index(lowest, highest);
        std::bernoulli_distribution zero(0.4);
        for (const std::size_t rows : {1u, 2u, 3u, 4u, 5u, 6u, 7u, 31u}) {
            for (const ZeroPairs zeroPairs : {ZeroPairs::Use, ZeroPairs::Avoid}) {
                std::vector<int> indices(rows);
                for (int& i : indices)
                    i = zero(random) ? 0 : index(random);
                BitWriter writer;
                testing::encodeColumn(writer, code, indices, zeroPairs);
                writer.writeBitString("1111111111111111");
                MemoryByteSource source(writer.bytes());
                BitReader bits(source, 512);
                ASSERT_EQ(bits.readBits(5), code);
                AmplitudeTable table;
                table.rewrite(15, step);
                std::vector<std::int32_t> block(rows * 2, untouched);
                ColumnTarget target{bits, table, block, 2, rows};
                ASSERT_TRUE(fillColumn(target, code, 0));
                std::vector<std::int32_t> column;
                for (std::size_t r = 0; r < rows; ++r)
                    column.push_back(block[r * 2]);
                EXPECT_EQ(column, amplitudes(indices)) << "code " << code << ", rows " << rows;
                EXPECT_EQ(bits.bitPosition(), writer.bitCount() - 16)
                    << "code " << code << ", rows " << rows;
            }
        }
    }
}

// ---- Digit tables ----

// ---- unpackBlock ----

struct UnpackRun {
    bool result;
    std::vector<std::int32_t> block;
    std::uint64_t consumed;
};

UnpackRun unpack(const BlockGeometry& geometry, const std::vector<std::uint8_t>& bytes,
                 AmplitudeTable& amplitudes) {
    MemoryByteSource source(bytes);
    BitReader bits(source, 512);
    std::vector<std::int32_t> block(geometry.blockSize, untouched);
    const bool result = unpackBlock(bits, amplitudes, geometry, block);
    return {result, block, bits.bitPosition()};
}

TEST(UnpackBlock, InvalidFirstCodeStopsAfterTwentyFiveBits) {
    for (const unsigned code : {1u, 2u, 25u, 28u, 30u, 31u}) {
        BitWriter writer;
        writer.write(2, 4);     // p
        writer.write(100, 16);  // s
        writer.write(code, 5);
        writer.write(0, 5);  // a valid code that must not be read
        AmplitudeTable amplitudes;
        const auto run = unpack(blockGeometry(1, 3), writer.bytes(), amplitudes);
        EXPECT_FALSE(run.result) << code;
        EXPECT_EQ(run.consumed, 25u) << code;
        EXPECT_EQ(run.block, std::vector<std::int32_t>(6, 0)) << code;
        EXPECT_EQ(amplitudes[-4], -400) << "the block header was applied";
        EXPECT_EQ(amplitudes[3], 300);
    }
}

TEST(UnpackBlock, InvalidCodeMidBlockKeepsTheColumnsBeforeIt) {
    testing::BitWriter writer;
    writer.write(2, 4);
    writer.write(10, 16);
    testing::encodeColumn(writer, 18, std::vector<int>{1, -1});
    testing::encodeColumn(writer, 21, std::vector<int>{2, 0});
    writer.write(30, 5);
    AmplitudeTable amplitudes;
    const auto run = unpack(blockGeometry(2, 2), writer.bytes(), amplitudes);
    EXPECT_FALSE(run.result);
    EXPECT_EQ(run.consumed, writer.bitCount());
    EXPECT_EQ(run.block, (std::vector<std::int32_t>{10, 20, 0, 0, -10, 0, 0, 0}));
}

TEST(UnpackBlock, ColumnsAreInterleavedWithTheirCodesInRowMajorLayout) {
    testing::BitWriter writer;
    writer.write(3, 4);
    writer.write(2, 16);
    testing::encodeColumn(writer, 4, std::vector<int>{-8, 7, 0});
    testing::encodeColumn(writer, 0, std::vector<int>{0, 0, 0});
    testing::encodeColumn(writer, 29, std::vector<int>{5, -5, 3});
    testing::encodeColumn(writer, 17, std::vector<int>{0, 1, 0});
    AmplitudeTable amplitudes;
    const auto run = unpack(blockGeometry(2, 3), writer.bytes(), amplitudes);
    EXPECT_TRUE(run.result);
    EXPECT_EQ(run.consumed, writer.bitCount());
    EXPECT_EQ(run.block, (std::vector<std::int32_t>{-16, 0, 10, 0, 14, 0, -10, 2, 0, 0, 6, 0}));
}

TEST(UnpackBlock, EntriesBeyondTheBlockRangeKeepAnEarlierBlocksValues) {
    AmplitudeTable amplitudes;
    testing::BitWriter first;
    first.write(1, 4);
    first.write(10, 16);
    testing::encodeColumn(first, 18, std::vector<int>{1, -1});
    unpack(blockGeometry(0, 2), first.bytes(), amplitudes);

    testing::BitWriter second;
    second.write(0, 4);
    second.write(20, 16);
    testing::encodeColumn(second, 18, std::vector<int>{1, -1});
    const auto run = unpack(blockGeometry(0, 2), second.bytes(), amplitudes);
    EXPECT_EQ(run.block, (std::vector<std::int32_t>{10, -20}));
}

TEST(UnpackBlock, NeverWrittenEntriesReadAsZero) {
    testing::BitWriter writer;
    writer.write(0, 4);
    writer.write(1000, 16);
    testing::encodeColumn(writer, 5, std::vector<int>{-16, -1, 0, 15});
    AmplitudeTable amplitudes;
    const auto run = unpack(blockGeometry(0, 4), writer.bytes(), amplitudes);
    EXPECT_EQ(run.block, (std::vector<std::int32_t>{0, -1000, 0, 0}));
}

}  // namespace
}  // namespace talveco
