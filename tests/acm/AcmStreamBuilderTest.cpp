#include "tests/support/AcmStreamBuilder.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace talveco {
namespace {

using testing::BitWriter;
using testing::ZeroPairs;

TEST(AcmStreamBuilder, HeaderBytes) {
    EXPECT_EQ(testing::acmHeaderBytes(0x01020304, 7, 19, 2, 22050),
              (std::vector<std::uint8_t>{0x97, 0x28, 0x03, 0x01, 0x04, 0x03, 0x02, 0x01, 0x02, 0x00,
                                         0x22, 0x56, 0x37, 0x01}));
}

struct EncodeCase {
    unsigned code;
    std::vector<int> indices;
    ZeroPairs zeroPairs;
    const char* pattern;  // the column data in stream order, after the code
};

TEST(AcmStreamBuilder, ColumnsAreWrittenInTheDecodersPatterns) {
    const EncodeCase cases[] = {
        {17, {0, 0, 0}, ZeroPairs::Use, "0 0"},  // the second pair stops at the last row
        {17, {0, 0, 0}, ZeroPairs::Avoid, "10 10 10"},
        {17, {0}, ZeroPairs::Use, "0"},
        {18, {0, 1, -1}, ZeroPairs::Use, "0 11 10"},
        {20, {2, -2}, ZeroPairs::Use, "1111 1100"},
        {21, {-1}, ZeroPairs::Use, "110"},
        {23, {1, -1, -3, 3, 0, 0}, ZeroPairs::Use, "1101 1100 11100 11111 0"},
        {24, {1, -2, 0}, ZeroPairs::Use, "101 1110 0"},
        {26, {-4, 4, 0, 0, 0}, ZeroPairs::Use, "11000 11111 0 0"},
        {27, {-1, 0}, ZeroPairs::Use, "1110 0"},
        {3, {-4, 0, 3}, ZeroPairs::Use, "000 001 111"},
        {19, {1, 0, -1, 1}, ZeroPairs::Use, "10100 01110"},
        {22, {2, 2, 2}, ZeroPairs::Use, "0011111"},
        {29, {0, 0}, ZeroPairs::Use, "0011110"},
        {29, {5}, ZeroPairs::Use, "1000001"},
        {0, {0, 0}, ZeroPairs::Use, ""},
    };
    for (const EncodeCase& c : cases) {
        BitWriter expected;
        expected.write(c.code, 5);
        expected.writeBitString(c.pattern);
        BitWriter actual;
        testing::encodeColumn(actual, c.code, c.indices, c.zeroPairs);
        EXPECT_EQ(actual.bitCount(), expected.bitCount()) << "code " << c.code << " " << c.pattern;
        EXPECT_EQ(actual.bytes(), expected.bytes()) << "code " << c.code << " " << c.pattern;
    }
}

TEST(AcmStreamBuilder, RefusesWhatTheCodeCannotExpress) {
    BitWriter bits;
    EXPECT_THROW(testing::encodeColumn(bits, 18, std::vector<int>{2}), std::invalid_argument);
    EXPECT_THROW(testing::encodeColumn(bits, 3, std::vector<int>{4}), std::invalid_argument);
    EXPECT_THROW(testing::encodeColumn(bits, 0, std::vector<int>{1}), std::invalid_argument);
    EXPECT_THROW(testing::encodeColumn(bits, 29, std::vector<int>{-6}), std::invalid_argument);
    EXPECT_THROW(testing::encodeColumn(bits, 25, std::vector<int>{0}), std::invalid_argument);
    testing::AcmStreamBuilder builder(4, 1, 2);
    EXPECT_THROW(builder.column(4, {1, 2, 3}), std::invalid_argument);
}

}  // namespace
}  // namespace talveco
