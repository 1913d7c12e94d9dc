#include <gtest/gtest.h>

#include <random>

#include "talveco/talveco.h"
#include "tests/support/AcmStreamBuilder.h"
#include "tests/support/RandomStreams.h"
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

// A damaged block is skipped wherever the caller's reads begin and end; two
// in a row end the stream. Blocks of 3 levels and 5 rows hold 40 samples, so
// reads of 40 meet every damaged block at the start of a read.
TEST(AcmStream, DamagedBlocksDoNotDependOnTheReadSizes) {
    struct Case {
        const char* layout;
        std::size_t samples;  // what the stream yields
        std::uint64_t damaged;
    };
    const Case cases[] = {{"gbg", 80, 1},     {"bggg", 120, 1}, {"ggbbg", 80, 2},
                          {"gbgbgb", 120, 2}, {"bbg", 0, 2},    {"gggg", 160, 0}};
    for (const Case& c : cases) {
        const auto bytes = testing::layoutStream(c.layout, 3, 5, 9);
        std::vector<std::int16_t> first;
        for (const std::size_t chunk : {1u, 40u, 33u, 4096u}) {
            for (const bool secondThread : {false, true}) {
                auto stream = AcmStream::openMemory(bytes, OpenOptions{secondThread});
                const auto samples = decodeAll(stream, chunk);
                EXPECT_EQ(samples.size(), c.samples) << c.layout << ", reads of " << chunk;
                EXPECT_EQ(stream.damagedBlocks(), c.damaged) << c.layout << ", reads of " << chunk;
                std::vector<std::int16_t> more(10);
                EXPECT_EQ(stream.read(more), 0u) << c.layout << ": the end is final";
                if (first.empty()) first = samples;
                EXPECT_EQ(samples, first) << c.layout << ", reads of " << chunk;
            }
        }
    }
}

// A stream cut short goes on from zero bits; the stream says how much of
// what it gave was not in the input, also when it unpacks on a second thread
// (4 levels and more than 4 blocks, where that pays).
TEST(AcmStream, CountsTheSamplesMadeFromPastTheEndOfATruncatedInput) {
    const struct {
        unsigned levels, rows;
        int blocks, written;
    } geometries[] = {{3, 5, 5, 3}, {4, 4, 8, 5}};
    for (const auto& g : geometries) {
        const std::uint32_t blockSize = g.rows << g.levels;
        const std::uint32_t samples = static_cast<std::uint32_t>(g.blocks) * blockSize;
        const auto whole = testing::randomStream(samples, g.levels, g.rows, g.blocks, 3);
        const auto cut = testing::randomStream(samples, g.levels, g.rows, g.written, 3);
        const std::vector<std::uint8_t> headerOnly(whole.begin(), whole.begin() + 14);
        const struct {
            const std::vector<std::uint8_t>* bytes;
            std::uint64_t pastEnd;
        } cases[] = {{&whole, 0},
                     {&cut, std::uint64_t(g.blocks - g.written) * blockSize},
                     {&headerOnly, samples}};
        for (const auto& c : cases) {
            for (const bool secondThread : {false, true}) {
                auto stream = AcmStream::openMemory(*c.bytes, OpenOptions{secondThread});
                EXPECT_EQ(decodeAll(stream, 7).size(), samples);
                EXPECT_EQ(stream.samplesPastEndOfInput(), c.pastEnd)
                    << g.levels << " levels, " << c.bytes->size() << " bytes";
            }
        }
    }
}

}  // namespace
}  // namespace talveco
