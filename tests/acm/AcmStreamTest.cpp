#include <gtest/gtest.h>

#include <random>

#include "talveco/talveco.h"
#include "tests/support/AcmStreamBuilder.h"
#include "tests/support/TempDir.h"

namespace talveco {
namespace {

using testing::AcmStreamBuilder;

// A stream of `blocks` blocks of random columns, at 3 levels and 5 rows.
std::vector<std::uint8_t> randomStream(unsigned seed, unsigned blocks) {
    std::mt19937 random(seed);
    AcmStreamBuilder stream(blocks * 40 - 7, 3, 5, 1, 11025);
    for (unsigned b = 0; b < blocks; ++b) {
        stream.blockHeader(random() % 16, static_cast<std::uint16_t>(random()));
        for (unsigned c = 0; c < stream.columns(); ++c) {
            std::vector<int> indices(stream.rows());
            for (int& index : indices)
                index = static_cast<int>(random() % 16) - 8;
            stream.column(5, indices);
        }
    }
    return stream.bytes();
}

std::vector<std::int16_t> decodeAll(AcmStream& stream, std::size_t chunk) {
    std::vector<std::int16_t> samples;
    std::vector<std::int16_t> buffer(chunk);
    while (const std::size_t got = stream.read(buffer)) {
        samples.insert(samples.end(), buffer.begin(),
                       buffer.begin() + static_cast<std::ptrdiff_t>(got));
    }
    return samples;
}

TEST(AcmStream, HeaderFieldsAndEverySample) {
    auto stream = AcmStream::openMemory(randomStream(1, 6));
    EXPECT_EQ(stream.channels(), 1u);
    EXPECT_EQ(stream.sampleRate(), 11025u);
    EXPECT_EQ(stream.sampleCount(), 6u * 40 - 7);
    EXPECT_EQ(decodeAll(stream, 1000).size(), stream.sampleCount());
    std::int16_t more[4];
    EXPECT_EQ(stream.read(more), 0u);
}

TEST(AcmStream, FileAndMemoryAndAnyChunkingAgree) {
    const auto bytes = randomStream(2, 9);
    testing::TempDir dir;
    testing::writeFileBytes(dir / "s.acm", bytes);
    auto fromFile = AcmStream::openFile((dir / "s.acm").string());
    std::vector<std::uint8_t> copy = bytes;
    auto fromSpan = AcmStream::openMemory(std::span<const std::uint8_t>(copy));
    copy.assign(copy.size(), 0xFF);  // the stream keeps its own copy
    const auto expected = decodeAll(fromFile, 4096);
    EXPECT_EQ(decodeAll(fromSpan, 3), expected);
}

TEST(AcmStream, StreamsDecodeSideBySide) {
    auto first = AcmStream::openMemory(randomStream(3, 8));
    auto second = AcmStream::openMemory(randomStream(4, 8));
    auto firstAlone = AcmStream::openMemory(randomStream(3, 8));
    auto secondAlone = AcmStream::openMemory(randomStream(4, 8));

    std::vector<std::int16_t> a, b;
    std::int16_t buffer[7];
    for (;;) {
        const std::size_t gotA = first.read(buffer);
        a.insert(a.end(), buffer, buffer + gotA);
        const std::size_t gotB = second.read(buffer);
        b.insert(b.end(), buffer, buffer + gotB);
        if (gotA == 0 && gotB == 0) break;
    }
    EXPECT_EQ(a, decodeAll(firstAlone, 64));
    EXPECT_EQ(b, decodeAll(secondAlone, 64));
    EXPECT_NE(a, b);
}

TEST(AcmStream, FailuresCarryTheProgramsMessages) {
    testing::TempDir dir;
    const auto failureOf = [](auto open) -> std::string {
        try {
            open();
        } catch (const Failure& failure) {
            return failure.what();
        }
        return "no failure";
    };
    EXPECT_EQ(failureOf([&] { AcmStream::openFile((dir / "missing.acm").string()); }),
              "File not found");
    EXPECT_EQ(failureOf([&] { AcmStream::openFile(dir.path().string()); }), "File access denied");
    EXPECT_EQ(failureOf([] {
                  AcmStream::openMemory(std::vector<std::uint8_t>{'R', 'I', 'F', 'F'});
              }),
              "File does not appear to be a valid ACM file");
    EXPECT_EQ(failureOf([] { AcmStream::openMemory(std::vector<std::uint8_t>{}); }),
              "File does not appear to be a valid ACM file");
}

TEST(AcmStream, MovedStreamGoesOn) {
    auto original = AcmStream::openMemory(randomStream(5, 4));
    std::int16_t buffer[10];
    ASSERT_EQ(original.read(buffer), 10u);
    AcmStream moved = std::move(original);
    auto reference = AcmStream::openMemory(randomStream(5, 4));
    const auto all = decodeAll(reference, 100);
    const auto rest = decodeAll(moved, 100);
    EXPECT_EQ(rest, std::vector<std::int16_t>(all.begin() + 10, all.end()));
}

}  // namespace
}  // namespace talveco
