#include <gtest/gtest.h>

#include <random>

#include "acm/AcmDecoder.h"
#include "acm/SampleOutput.h"
#include "tests/support/AcmStreamBuilder.h"
#include "tests/support/MemoryByteSource.h"
#include "tests/support/RandomStreams.h"

namespace talveco {
namespace {

using testing::AcmStreamBuilder;
using testing::MemoryByteSource;
using testing::randomStream;
using Samples = std::vector<std::int16_t>;
using Bytes = std::vector<std::uint8_t>;

Samples decodeAll(const Bytes& stream, std::size_t capacity = 1 << 16) {
    MemoryByteSource source(stream);
    const auto decoder = createAcmDecoder(source, 512);
    Samples samples(capacity);
    samples.resize(decoder->readSamples(samples));
    return samples;
}

TEST(SampleOutput, OneLevelStreamGivesTheShiftedTransform) {
    AcmStreamBuilder builder(8, 1, 2);
    builder.blockHeader(3, 1).column(4, {4, 6}).column(4, {2, 0});
    builder.blockHeader(3, 1).column(18, {1, 1}).column(27, {1, 1});
    EXPECT_EQ(decodeAll(builder.bytes()), (Samples{2, 3, 7, 5, 4, 1, 2, 0}));
}

TEST(SampleOutput, TwoLevelStreamGivesTheShiftedTransform) {
    AcmStreamBuilder builder(8, 2, 2);
    builder.blockHeader(3, 1)
        .column(4, {4, 1})
        .column(27, {2, 3})
        .column(5, {6, 5})
        .column(4, {0, 7});
    EXPECT_EQ(decodeAll(builder.bytes()), (Samples{1, 2, 3, 0, 7, 6, 5, -5}));
}

TEST(SampleOutput, NoLevelsGivesTheAmplitudesThemselves) {
    AcmStreamBuilder builder(3, 0, 3);
    builder.blockHeader(15, 1).column(16, {-32768, 32767, 12345});
    EXPECT_EQ(decodeAll(builder.bytes()), (Samples{-32768, 32767, 12345}));
}

TEST(SampleOutput, ShiftKeepsSixteenBitsWithoutRoundingOrSaturation) {
    const std::pair<std::int32_t, std::int16_t> cases[] = {
        {-1, -1}, {-8, -1}, {-9, -2}, {(1 << 19) - 8, -1}, {1 << 19, 0}, {-(1 << 19) - 1, -1},
        {5, 0},   {-5, -1},
    };
    for (const auto& [value, sample] : cases)
        EXPECT_EQ(outputSample(value, 3), sample) << value;
    EXPECT_EQ(outputSample(0x12345678, 0), 0x5678);
    EXPECT_EQ(outputSample(std::int32_t{-2147483647 - 1}, 15), 0);
    EXPECT_EQ(outputSample(0x7FFFFFFF, 15), -1);
}

TEST(SampleOutput, ZeroStreamIsSilence) {
    for (unsigned levels = 0; levels <= 10; ++levels) {
        // Only the header: the zero bits past the end are zero blocks.
        const Samples samples = decodeAll(testing::acmHeaderBytes(5000, levels, 3));
        EXPECT_EQ(samples, Samples(5000, 0)) << "levels " << levels;
    }
}

TEST(SampleOutput, LastBlockIsCutToTheSampleCount) {
    const Bytes stream = randomStream(6, 2, 1, 2, 1);
    MemoryByteSource source(stream);
    const auto decoder = createAcmDecoder(source, 512);
    Bytes out(100, 0xEE);
    EXPECT_EQ(decoder->readSampleBytes(out), 12u);
    EXPECT_EQ(out[12], 0xEE);
    EXPECT_EQ(decoder->readSampleBytes(out), 0u);
    EXPECT_EQ(decoder->readSampleBytes(out), 0u);
}

TEST(SampleOutput, ExactMultipleOfTheBlockEndsAfterTheLastBlock) {
    const Bytes stream = randomStream(8, 2, 1, 2, 2);
    MemoryByteSource source(stream);
    const auto decoder = createAcmDecoder(source, 512);
    Bytes out(100);
    EXPECT_EQ(decoder->readSampleBytes(out), 16u);
    EXPECT_EQ(decoder->readSampleBytes(out), 0u);
}

TEST(SampleOutput, RequestSizesDoNotChangeTheSamples) {
    const Bytes stream = randomStream(10, 2, 1, 3, 3);
    MemoryByteSource wholeSource(stream);
    const auto whole = createAcmDecoder(wholeSource, 512);
    Bytes expected(100);
    expected.resize(whole->readSampleBytes(expected));
    ASSERT_EQ(expected.size(), 20u);

    MemoryByteSource source(stream);
    const auto decoder = createAcmDecoder(source, 512);
    Bytes collected;
    const std::pair<std::size_t, std::size_t> requests[] = {
        {2, 2}, {6, 6}, {4, 4}, {100, 8}, {10, 0}};
    for (const auto& [request, delivered] : requests) {
        Bytes out(request);
        ASSERT_EQ(decoder->readSampleBytes(out), delivered) << "request " << request;
        collected.insert(collected.end(), out.begin(),
                         out.begin() + static_cast<std::ptrdiff_t>(delivered));
    }
    EXPECT_EQ(collected, expected);
}

TEST(SampleOutput, EmptyRequestChangesNothing) {
    const Bytes stream = randomStream(12, 2, 1, 3, 4);
    MemoryByteSource source(stream);
    const auto decoder = createAcmDecoder(source, 512);
    EXPECT_EQ(decoder->readSampleBytes({}), 0u);
    Samples samples(12);
    EXPECT_EQ(decoder->readSamples(samples), 12u);
    EXPECT_EQ(samples, decodeAll(stream));
}

TEST(SampleOutput, OddByteCapacityIsRoundedDown) {
    const Bytes stream = randomStream(12, 2, 1, 3, 5);
    MemoryByteSource source(stream);
    const auto decoder = createAcmDecoder(source, 512);
    Bytes out(5, 0xEE);
    EXPECT_EQ(decoder->readSampleBytes(out), 4u);
    EXPECT_EQ(out[4], 0xEE);
    Bytes one(1, 0xEE);
    EXPECT_EQ(decoder->readSampleBytes(one), 0u);
    EXPECT_EQ(one[0], 0xEE);
}

TEST(SampleOutput, BadBlockShortensTheReadAndTheNextReadRetries) {
    // Three good blocks, and a bad one after the first: its block header and
    // first columns are read, then the code 25 ends it. The next block
    // starts right behind that code.
    const auto writeStream = [](bool withBadBlock) {
        AcmStreamBuilder builder(12, 2, 1);
        builder.blockHeader(2, 5).column(18, {1}).column(21, {-2}).column(4, {7}).column(29, {-4});
        if (withBadBlock) builder.blockHeader(1, 9).column(24, {-3}).column(0, {0}).columnCode(25);
        builder.blockHeader(3, 7).column(27, {4}).column(19, {1}).column(3, {-4}).column(22, {2});
        builder.blockHeader(3, 3).column(5, {-16}).column(4, {-1}).column(17, {0}).column(20, {2});
        return builder.bytes();
    };
    const Samples expected = decodeAll(writeStream(false));
    ASSERT_EQ(expected.size(), 12u);

    MemoryByteSource source(writeStream(true));
    const auto decoder = createAcmDecoder(source, 512);
    Samples first(10);
    ASSERT_EQ(decoder->readSamples(first), 4u);
    Samples rest(10);
    ASSERT_EQ(decoder->readSamples(rest), 8u);
    Samples all(first.begin(), first.begin() + 4);
    all.insert(all.end(), rest.begin(), rest.begin() + 8);
    EXPECT_EQ(all, expected);
}

TEST(SampleOutput, BadBlockAtTheStartGivesAnEmptyRead) {
    AcmStreamBuilder builder(4, 1, 2);
    builder.blockHeader(0, 0).columnCode(31);
    builder.blockHeader(0, 0).columnCode(1);
    MemoryByteSource source(builder.bytes());
    const auto decoder = createAcmDecoder(source, 512);
    Samples out(4);
    EXPECT_EQ(decoder->readSamples(out), 0u);
    EXPECT_EQ(decoder->readSamples(out), 0u);
    // Past the end of the data only zero blocks follow, which decode.
    EXPECT_EQ(decoder->readSamples(out), 4u);
}

TEST(SampleOutput, LongStreamSpanningManyRefillsDecodesTheSameInAnyChunking) {
    const Bytes stream = randomStream(40000, 7, 16, 20, 7);
    ASSERT_GT(stream.size(), 2048u);
    const Samples whole = decodeAll(stream);
    ASSERT_EQ(whole.size(), 40000u);
    for (const std::size_t chunk : {1u, 333u, 4096u}) {
        MemoryByteSource source(stream, 97);
        const auto decoder = createAcmDecoder(source, 512);
        Samples collected;
        Samples out(chunk);
        while (const std::size_t got = decoder->readSamples(out)) {
            collected.insert(collected.end(), out.begin(),
                             out.begin() + static_cast<std::ptrdiff_t>(got));
        }
        EXPECT_EQ(collected, whole) << "chunk " << chunk;
    }
}

}  // namespace
}  // namespace talveco
