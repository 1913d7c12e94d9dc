// Whole ACM streams converted by the built program. Where the expected output
// can be worked out without the decoder (levels 0, silence, the worked
// transform examples) it is; elsewhere the program must agree with the
// decoder library, which proves the path from file to WAV adds nothing.
#include <gtest/gtest.h>

#include <optional>
#include <random>

#include "acm/AcmDecoder.h"
#include "tests/support/AcmStreamBuilder.h"
#include "tests/support/ExpectedWav.h"
#include "tests/support/IndependentReaders.h"
#include "tests/support/MemoryByteSource.h"
#include "tests/support/ProgramRunner.h"
#include "tests/support/TempDir.h"
#include "tests/support/Transcript.h"

namespace talveco {
namespace {

using testing::AcmStreamBuilder;
using testing::crlfLines;
using testing::expectedWav;
using testing::readFileBytes;
using testing::TempDir;
using testing::writeFileBytes;

using testing::kBanner;

std::vector<std::uint8_t> littleEndian(const std::vector<std::int16_t>& samples) {
    std::vector<std::uint8_t> bytes;
    for (const std::int16_t sample : samples) {
        const auto bits = static_cast<std::uint16_t>(sample);
        bytes.push_back(static_cast<std::uint8_t>(bits));
        bytes.push_back(static_cast<std::uint8_t>(bits >> 8));
    }
    return bytes;
}

// The amplitude entry k * step as the table stores it: its low 16 bits.
std::int16_t amplitude(int index, std::uint16_t step) {
    return static_cast<std::int16_t>(
        static_cast<std::uint16_t>(static_cast<std::uint32_t>(index) * step));
}

class DecodeEndToEnd : public ::testing::Test {
  protected:
    // Converts `stream` as "in.acm" and checks the transcript and the file:
    // `data` must be what the program wrote, and the WAV must be well formed.
    void expectConversion(const std::vector<std::uint8_t>& stream,
                          const std::vector<std::uint8_t>& data,
                          std::optional<std::string> progress = std::nullopt) {
        writeFileBytes(dir / "in.acm", stream);
        const auto result = testing::runProgram({"in.acm"}, dir.path());
        EXPECT_EQ(result.exitStatus, 0);
        const std::string marks = progress ? *progress
                                  : data.empty()
                                      ? ""
                                      : std::string((data.size() + 1048575) / 1048576, '#');
        EXPECT_EQ(result.output, crlfLines({kBanner, " Converting in.acm to in.wav", marks,
                                            std::to_string(data.size()) + " bytes written"}));
        EXPECT_EQ(readFileBytes(dir / "in.wav"), expectedWav(data, "in.acm"));
        EXPECT_EQ(testing::independentReadersComplaints(dir / "in.wav", {2, data.size(), 6}), "");
    }

    TempDir dir;
};

TEST_F(DecodeEndToEnd, LevelsZeroSamplesAreTheAmplitudes) {
    const unsigned seed = std::random_device{}();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    constexpr unsigned kRows = 37;
    constexpr unsigned kBlocks = 40;
    AcmStreamBuilder stream(kRows * kBlocks, 0, kRows);
    std::vector<std::int16_t> samples;
    const unsigned codes[] = {0, 3, 7, 12, 16, 17, 18, 19, 20, 21, 22, 23, 24, 26, 27, 29};
    for (unsigned block = 0; block < kBlocks; ++block) {
        const auto step = static_cast<std::uint16_t>(random());
        const unsigned code = codes[block % std::size(codes)];
        const auto [low, high] = testing::columnIndexRange(code);
        std::uniform_int_distribution<int> pick(low, high);
        std::vector<int> indices(kRows);
        for (int& index : indices)
            index = pick(random);
        // Rewriting the whole table keeps every index valid for this step.
        stream.blockHeader(15, step).column(code, indices);
        for (const int index : indices)
            samples.push_back(amplitude(index, step));
    }
    expectConversion(stream.bytes(), littleEndian(samples));
}

TEST_F(DecodeEndToEnd, WorkedTransformExamples) {
    // One level, two rows: 4 2 | 6 0 and then 1 1 | 1 1, step 1.
    AcmStreamBuilder oneLevel(8, 1, 2);
    oneLevel.blockHeader(3, 1).column(16, {4, 6}).column(16, {2, 0});
    oneLevel.blockHeader(3, 1).column(16, {1, 1}).column(16, {1, 1});
    expectConversion(oneLevel.bytes(), littleEndian({2, 3, 7, 5, 4, 1, 2, 0}));

    // Two levels, two rows: 4 2 6 0 | 1 3 5 7.
    AcmStreamBuilder twoLevels(8, 2, 2);
    twoLevels.blockHeader(3, 1)
        .column(16, {4, 1})
        .column(16, {2, 3})
        .column(16, {6, 5})
        .column(16, {0, 7});
    expectConversion(twoLevels.bytes(), littleEndian({1, 2, 3, 0, 7, 6, 5, -5}));
}

struct LevelsCase {
    unsigned levels;
    unsigned rows;
    friend void PrintTo(const LevelsCase& c, std::ostream* out) { *out << "levels " << c.levels; }
};

class EveryLevel : public DecodeEndToEnd, public ::testing::WithParamInterface<LevelsCase> {};

TEST_P(EveryLevel, SilenceStaysSilent) {
    const auto [levels, rows] = GetParam();
    // A header and no blocks: the zero bits after the end decode as silent
    // blocks, which the transform turns into values that shift down to 0.
    const std::uint32_t count = (rows << levels) * 3 + 5;
    expectConversion(testing::acmHeaderBytes(count, levels, rows),
                     std::vector<std::uint8_t>(2 * count));
}

TEST_P(EveryLevel, ProgramAgreesWithTheDecoder) {
    const auto [levels, rows] = GetParam();
    const unsigned seed = std::random_device{}();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    const unsigned columns = 1u << levels;
    const std::uint32_t count = rows * columns * 2 + rows;  // the last block is cut
    AcmStreamBuilder stream(count, levels, rows);
    const unsigned codes[] = {0, 0, 0, 4, 17, 19, 21, 22, 24, 27, 29};
    for (int block = 0; block < 3; ++block) {
        stream.blockHeader(random() % 16, static_cast<std::uint16_t>(random() % 64));
        for (unsigned c = 0; c < columns; ++c) {
            const unsigned code = codes[random() % std::size(codes)];
            const auto [low, high] = testing::columnIndexRange(code);
            std::uniform_int_distribution<int> pick(low, high);
            std::vector<int> indices(rows);
            for (int& index : indices)
                index = pick(random);
            stream.column(code, indices);
        }
    }
    testing::MemoryByteSource memory(stream.bytes());
    const auto decoder = createAcmDecoder(memory);
    std::vector<std::uint8_t> expected(2 * count);
    ASSERT_EQ(decoder->readSampleBytes(expected), expected.size());
    expectConversion(stream.bytes(), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Levels, EveryLevel,
    ::testing::Values(LevelsCase{0, 20}, LevelsCase{1, 9}, LevelsCase{2, 7}, LevelsCase{3, 5},
                      LevelsCase{4, 16}, LevelsCase{5, 3}, LevelsCase{6, 16}, LevelsCase{7, 16},
                      LevelsCase{8, 4}, LevelsCase{9, 3}, LevelsCase{10, 2}, LevelsCase{11, 2},
                      LevelsCase{12, 1}, LevelsCase{13, 2}, LevelsCase{14, 1}, LevelsCase{15, 1}),
    [](const auto& testCase) { return "levels" + std::to_string(testCase.param.levels); });

TEST_F(DecodeEndToEnd, StreamEndingEarlyGoesOnWithSilence) {
    // Two blocks written, five announced: the rest decodes from zero bits.
    AcmStreamBuilder stream(5 * 4, 0, 4);
    stream.blockHeader(15, 3)
        .column(16, {1, -2, 3, -4})
        .blockHeader(15, 3)
        .column(16, {5, 6, 7, 8});
    std::vector<std::int16_t> samples = {3, -6, 9, -12, 15, 18, 21, 24};
    samples.resize(20, 0);
    expectConversion(stream.bytes(), littleEndian(samples));
}

TEST_F(DecodeEndToEnd, BadBlockShortensAReadAndDecodingResumesAfterIt) {
    // The short read does not end the transfer: the next read unpacks again
    // from the bits after the bad code, here a good block, then silence.
    AcmStreamBuilder stream(3 * 4, 0, 4);
    stream.blockHeader(15, 1).column(16, {1, 2, 3, 4});
    stream.blockHeader(15, 1).columnCode(25);  // selects no method
    stream.blockHeader(15, 1).column(16, {5, 6, 7, 8});
    expectConversion(stream.bytes(), littleEndian({1, 2, 3, 4, 5, 6, 7, 8, 0, 0, 0, 0}), "##");
}

TEST_F(DecodeEndToEnd, BadBlockThatCannotBeResumedEndsTheDataAndTheHeaderSaysSo) {
    AcmStreamBuilder stream(3 * 4, 0, 4);
    stream.blockHeader(15, 1).column(16, {1, 2, 3, 4});
    stream.blockHeader(15, 1).columnCode(30);
    stream.blockHeader(15, 1).columnCode(1);  // the retry fails as well: a read of 0
    expectConversion(stream.bytes(), littleEndian({1, 2, 3, 4}), "#");
}

TEST_F(DecodeEndToEnd, MoreThanOneMegabyteMovesInChunks) {
    // 600,000 silent samples: 1,200,000 bytes in two chunks.
    expectConversion(testing::acmHeaderBytes(600000, 4, 10), std::vector<std::uint8_t>(1200000));
}

}  // namespace
}  // namespace talveco
