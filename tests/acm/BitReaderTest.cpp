#include "acm/BitReader.h"

#include <gtest/gtest.h>

#include <numeric>

#include "platform/Failure.h"
#include "tests/support/MemoryByteSource.h"

namespace talveco {
namespace {

using testing::MemoryByteSource;

std::vector<std::uint8_t> countingBytes(std::size_t count) {
    std::vector<std::uint8_t> bytes(count);
    for (std::size_t i = 0; i < count; ++i)
        bytes[i] = static_cast<std::uint8_t>(i * 7 + 3);
    return bytes;
}

TEST(BitReader, SignatureBytesComeOutLittleEndian) {
    MemoryByteSource source({0x97, 0x28, 0x03, 0x01});
    BitReader bits(source, 512);
    bits.ensureBits(24);
    EXPECT_EQ(bits.bitCount(), 24u);
    EXPECT_EQ(bits.peek(24), 0x032897u);
    bits.consume(24);
    EXPECT_EQ(bits.readBits(8), 0x01u);
}

TEST(BitReader, EnsureTakesWholeBytesAndLowBitsComeFirst) {
    MemoryByteSource source({0xA5, 0x3C});
    BitReader bits(source, 512);
    bits.ensureBits(4);
    EXPECT_EQ(bits.bitCount(), 8u);
    EXPECT_EQ(bits.peek(4), 0x5u);
    bits.consume(4);
    EXPECT_EQ(bits.readBits(4), 0xAu);  // the high half of the same byte
    EXPECT_EQ(bits.bitCount(), 0u);
}

TEST(BitReader, EnsureTakesNoByteWhenEnoughBitsAreHeld) {
    MemoryByteSource source(countingBytes(4));
    BitReader bits(source, 512);
    bits.ensureBits(16);
    const std::uint32_t held = bits.peek(16);
    bits.ensureBits(16);
    bits.ensureBits(9);
    EXPECT_EQ(bits.bitCount(), 16u);
    EXPECT_EQ(bits.peek(16), held);
    EXPECT_EQ(bits.bitPosition(), 0u);
}

TEST(BitReader, EnsureStopsWithinSevenBitsAboveTheRequest) {
    MemoryByteSource source(countingBytes(8));
    BitReader bits(source, 512);
    bits.ensureBits(8);
    bits.consume(3);  // 5 bits held
    bits.ensureBits(16);
    EXPECT_EQ(bits.bitCount(), 21u);
}

TEST(BitReader, SevenHundredByteFileIsReadIn512ByteRefillsThenZeros) {
    const auto bytes = countingBytes(700);
    MemoryByteSource source(bytes);
    BitReader bits(source, 512);
    for (std::size_t i = 0; i < 700; ++i)
        ASSERT_EQ(bits.readBits(8), bytes[i]) << "byte " << i;
    EXPECT_EQ(source.deliveredSizes(), (std::vector<std::size_t>{512, 188}));
    for (std::size_t i = 0; i < 512; ++i)
        ASSERT_EQ(bits.readBits(8), 0u);
    EXPECT_EQ(source.readCount(), 3u);  // the end of the file yields 512 zero bytes
    bits.readBits(8);
    EXPECT_EQ(source.deliveredSizes(), (std::vector<std::size_t>{512, 188, 0, 0}));
    EXPECT_EQ(source.requestedSizes(), (std::vector<std::size_t>{512, 512, 512, 512}));
}

TEST(BitReader, EmptyInputGivesZeroBitsForEver) {
    MemoryByteSource source({});
    BitReader bits(source, 512);
    for (int i = 0; i < 1000; ++i)
        ASSERT_EQ(bits.readBits(24), 0u);
    EXPECT_EQ(source.readCount(), 6u);  // 3000 bytes in refills of 512
}

TEST(BitReader, ShortReadsAreUsedInFullWhateverTheirSize) {
    const auto bytes = countingBytes(1500);
    for (const std::size_t chunk : {1u, 7u, 100u, 511u, 512u}) {
        MemoryByteSource source(bytes, chunk);
        BitReader bits(source, 512);
        for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
            const std::uint32_t expected = bytes[i] | (std::uint32_t{bytes[i + 1]} << 8);
            ASSERT_EQ(bits.readBits(16), expected) << "chunk " << chunk << " at " << i;
        }
        EXPECT_EQ(bits.readBits(16), 0u);
    }
}

TEST(BitReader, ReadErrorPassesOut) {
    MemoryByteSource source(countingBytes(1024));
    source.failReadNumber(1);
    BitReader bits(source, 512);
    for (int i = 0; i < 512; ++i)
        bits.readBits(8);
    try {
        bits.readBits(8);
        FAIL() << "expected a Failure";
    } catch (const Failure& failure) {
        EXPECT_EQ(failure.kind(), FailureKind::IoError);
        EXPECT_EQ(failure.errorNumber(), 5);
    }
}

TEST(BitReader, PositionCountsConsumedBitsOnly) {
    MemoryByteSource source(countingBytes(64));
    BitReader bits(source, 16);
    bits.readBits(5);
    bits.ensureBits(20);
    EXPECT_EQ(bits.bitPosition(), 5u);
    bits.consume(11);
    for (int i = 0; i < 30; ++i)
        bits.readBits(13);
    EXPECT_EQ(bits.bitPosition(), 16u + 30u * 13u);
}

}  // namespace
}  // namespace talveco
