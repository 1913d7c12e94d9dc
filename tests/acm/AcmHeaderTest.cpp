#include <gtest/gtest.h>
#include <sys/resource.h>

#include <cstdlib>

#include "acm/AcmDecoder.h"
#include "platform/Failure.h"
#include "tests/support/AcmStreamBuilder.h"
#include "tests/support/MemoryByteSource.h"

namespace talveco {
namespace {

using testing::acmHeaderBytes;
using testing::MemoryByteSource;

TEST(AcmHeader, FieldsAreReadLittleEndianAndLevelsAndRowsShareTwoBytes) {
    MemoryByteSource source(
        {0x97, 0x28, 0x03, 0x01, 0x04, 0x03, 0x02, 0x01, 0x02, 0x00, 0x22, 0x56, 0x37, 0x01});
    const auto decoder = createAcmDecoder(source, 512);
    const AcmHeader& header = decoder->header();
    EXPECT_EQ(header.sampleCount, 0x01020304u);
    EXPECT_EQ(header.channels, 2u);
    EXPECT_EQ(header.sampleRate, 0x5622u);
    EXPECT_EQ(header.levels, 7u);
    EXPECT_EQ(header.rows, 19u);
    const BlockGeometry& geometry = decoder->geometry();
    EXPECT_EQ(geometry.columns, 128u);
    EXPECT_EQ(geometry.blockSize, 128u * 19u);
    EXPECT_EQ(geometry.stripeRows, 64u);
    EXPECT_EQ(geometry.stripeSize, 8192u);
    EXPECT_EQ(geometry.carryCount, 254u);
}

TEST(AcmHeader, SignatureAloneIsAnEmptyStream) {
    MemoryByteSource source({0x97, 0x28, 0x03, 0x01});
    const auto decoder = createAcmDecoder(source, 512);
    EXPECT_EQ(decoder->header().sampleCount, 0u);
    EXPECT_EQ(decoder->header().levels, 0u);
    EXPECT_EQ(decoder->header().rows, 0u);
    std::vector<std::int16_t> out(16);
    EXPECT_EQ(decoder->readSamples(out), 0u);
}

TEST(AcmHeader, LargestAcceptedSampleCount) {
    MemoryByteSource source(acmHeaderBytes((1u << 30) - 1, 0, 1));
    EXPECT_EQ(createAcmDecoder(source, 512)->header().sampleCount, (1u << 30) - 1);
}

struct RejectedHeader {
    const char* name;
    std::vector<std::uint8_t> bytes;
};

void PrintTo(const RejectedHeader& header, std::ostream* out) {
    *out << header.name;
}

class AcmHeaderRejection : public ::testing::TestWithParam<RejectedHeader> {};

TEST_P(AcmHeaderRejection, IsNotAnAcmFile) {
    MemoryByteSource source(GetParam().bytes);
    try {
        createAcmDecoder(source, 512);
        FAIL() << "accepted";
    } catch (const Failure& failure) {
        EXPECT_EQ(failure.kind(), FailureKind::NotAcmFile);
        EXPECT_STREQ(failure.what(), "File does not appear to be a valid ACM file");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Headers, AcmHeaderRejection,
    ::testing::Values(RejectedHeader{"Empty", {}}, RejectedHeader{"ThreeBytes", {0x97, 0x28, 0x03}},
                      RejectedHeader{"WrongFourthByte", {0x97, 0x28, 0x03, 0x02}},
                      RejectedHeader{"WrongFirstByte", {0x98, 0x28, 0x03, 0x01}},
                      RejectedHeader{"Riff", {'R', 'I', 'F', 'F', 0, 0, 0, 0}},
                      // Samples promised, but blocks without rows could never deliver them.
                      RejectedHeader{"NoRowsWithSamples", acmHeaderBytes(1, 3, 0)},
                      // Twice the count would not fit a signed 32-bit byte size.
                      RejectedHeader{"SampleCount2To30", acmHeaderBytes(1u << 30, 0, 1)},
                      RejectedHeader{"SampleCountNegative", acmHeaderBytes(0xFFFFFFFFu, 4, 16)}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

TEST(AcmHeader, NoRowsAndNoSamplesIsAnEmptyStream) {
    MemoryByteSource source(acmHeaderBytes(0, 5, 0));
    const auto decoder = createAcmDecoder(source, 512);
    std::vector<std::int16_t> out(4);
    EXPECT_EQ(decoder->readSamples(out), 0u);
}

struct GeometryCase {
    unsigned levels;
    std::size_t columns;
    std::size_t stripeRows;
    std::size_t carryCount;
};

TEST(BlockGeometry, FollowsTheLevels) {
    const GeometryCase cases[] = {
        {0, 1, 8192, 0},      {1, 2, 4096, 2},       {2, 4, 2048, 6},    {3, 8, 1024, 14},
        {7, 128, 64, 254},    {8, 256, 32, 510},     {9, 512, 16, 1022}, {10, 1024, 8, 2046},
        {13, 8192, 1, 16382}, {15, 32768, 1, 65534},
    };
    for (const GeometryCase& c : cases) {
        const BlockGeometry geometry = blockGeometry(c.levels, 10);
        EXPECT_EQ(geometry.columns, c.columns) << "levels " << c.levels;
        EXPECT_EQ(geometry.rows, 10u);
        EXPECT_EQ(geometry.blockSize, c.columns * 10) << "levels " << c.levels;
        EXPECT_EQ(geometry.stripeRows, c.stripeRows) << "levels " << c.levels;
        EXPECT_EQ(geometry.stripeSize, c.stripeRows * c.columns) << "levels " << c.levels;
        EXPECT_EQ(geometry.carryCount, c.carryCount) << "levels " << c.levels;
    }
}

// The sanitizers reserve more address space than the cap below allows.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define TALVECO_SANITIZED_MEMORY 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define TALVECO_SANITIZED_MEMORY 1
#endif
#endif

// The widest header asks for a block of 2^15 x 4095 values (536 MB). In a
// child process whose address space is capped far below that, creation must
// report the failed allocation as "Out of memory".
TEST(AcmHeaderDeathTest, BuffersThatCannotBeHadAreOutOfMemory) {
#ifdef TALVECO_SANITIZED_MEMORY
    GTEST_SKIP() << "the sanitizer reserves more address space than the cap allows";
#else
    // A pipelined decoder allocates its block slots as well.
    const auto createUnderCap = [](DecodeThreads threads) {
        const rlimit cap{256u << 20, 256u << 20};
        if (setrlimit(RLIMIT_AS, &cap) != 0) std::exit(3);
        MemoryByteSource source(acmHeaderBytes(1, 15, 4095));
        try {
            createAcmDecoder(source, 512, threads);
        } catch (const Failure& failure) {
            std::exit(failure.kind() == FailureKind::OutOfMemory ? 0 : 1);
        }
        std::exit(2);
    };
    EXPECT_EXIT(createUnderCap(DecodeThreads::automatic), ::testing::ExitedWithCode(0), "");
    EXPECT_EXIT(createUnderCap(DecodeThreads::pipelined), ::testing::ExitedWithCode(0), "");
#endif
}

}  // namespace
}  // namespace talveco
