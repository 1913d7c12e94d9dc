#include <gtest/gtest.h>

#include <algorithm>

#include "tests/support/ExpectedWav.h"
#include "wav/ConvertJob.h"
#include "wav/WavTemplates.h"

namespace talveco {
namespace {

using testing::expectedWav;

std::vector<std::uint8_t> headerOf(const std::vector<std::uint8_t>& file) {
    return {file.begin(), file.begin() + 44};
}

std::vector<std::uint8_t> toVector(std::span<const std::uint8_t> bytes) {
    return {bytes.begin(), bytes.end()};
}

TEST(WavHeaderTemplate, WorkedExampleLengths) {
    // 600000 data bytes and the 10-character name SPEECH.ACM.
    WavHeaderTemplate header;
    header.patchLengths(600000, 10);
    const std::vector<std::uint8_t> expected = {
        'R',  'I',  'F',  'F', 0x36, 0x28, 0x09, 0x00,  // 600118
        'W',  'A',  'V',  'E', 'f',  'm',  't',  ' ',  16,   0,    0,    0,
        1,    0,    2,    0,   0x22, 0x56, 0,    0,                              // 22050
        0x88, 0x58, 0x01, 0,                                                     // 88200
        4,    0,    16,   0,   'd',  'a',  't',  'a',  0xC0, 0x27, 0x09, 0x00};  // 600000
    EXPECT_EQ(toVector(header.bytes()), expected);
}

TEST(WavHeaderTemplate, MonoChangesExactlyThreeFields) {
    WavHeaderTemplate stereo;
    WavHeaderTemplate mono;
    mono.applyMono();
    stereo.patchLengths(1234, 5);
    mono.patchLengths(1234, 5);
    std::vector<std::size_t> differing;
    for (std::size_t i = 0; i < WavHeaderTemplate::kSize; ++i) {
        if (stereo.bytes()[i] != mono.bytes()[i]) differing.push_back(i);
    }
    EXPECT_EQ(differing, (std::vector<std::size_t>{22, 28, 29, 30, 32}));
    EXPECT_EQ(toVector(mono.bytes()), headerOf(expectedWav(std::vector<std::uint8_t>(1234), "abcde",
                                                           /*mono=*/true)));
}

struct TrailerCase {
    std::string infoName;

    friend void PrintTo(const TrailerCase& c, std::ostream* out) {
        *out << c.infoName.size() << " characters";
    }
};

class InfoChunkTemplateTest : public ::testing::TestWithParam<TrailerCase> {};

TEST_P(InfoChunkTemplateTest, MatchesTheLayoutForAnyNameLength) {
    const std::string& name = GetParam().infoName;
    InfoChunkTemplate trailer;
    trailer.patchLengths(static_cast<std::uint32_t>(name.size()));
    const auto file = expectedWav({}, name);
    const std::vector<std::uint8_t> expectedTrailer(file.begin() + 44, file.begin() + 116);
    EXPECT_EQ(toVector(trailer.bytes()), expectedTrailer);
}

INSTANTIATE_TEST_SUITE_P(Names, InfoChunkTemplateTest,
                         ::testing::Values(TrailerCase{""}, TrailerCase{"SPEECH.ACM"},
                                           TrailerCase{"odd.acm"},
                                           TrailerCase{std::string(255, 'n')}));

TEST(InfoChunkTemplate, SoftwareTextIsPaddedWithThreeZeros) {
    InfoChunkTemplate trailer;
    const auto bytes = trailer.bytes();
    const std::string text(bytes.begin() + 20, bytes.begin() + 61);
    EXPECT_EQ(text, "Quarnix ACM to WAV Converter by Halvenrod");
    EXPECT_TRUE(std::all_of(bytes.begin() + 61, bytes.begin() + 64, [](auto b) { return b == 0; }));
}

struct SizingCase {
    std::int32_t totalBytes;
    std::int32_t expectedBuffer;

    friend void PrintTo(const SizingCase& c, std::ostream* out) {
        *out << c.totalBytes << " bytes";
    }
};

class TransferBufferSizeTest : public ::testing::TestWithParam<SizingCase> {};

TEST_P(TransferBufferSizeTest, FollowsTheGranuleRule) {
    EXPECT_EQ(transferBufferSize(GetParam().totalBytes), GetParam().expectedBuffer);
}

INSTANTIATE_TEST_SUITE_P(WorkedSizes, TransferBufferSizeTest,
                         ::testing::Values(SizingCase{0, 0}, SizingCase{2, 65536},
                                           SizingCase{600000, 655360}, SizingCase{65536, 65536},
                                           SizingCase{65537, 131072}, SizingCase{131072, 131072},
                                           SizingCase{983040, 983040}, SizingCase{983041, 1048576},
                                           SizingCase{1048576, 1048576},
                                           SizingCase{1048577, 1048576},
                                           SizingCase{3000000, 1048576},
                                           SizingCase{2147483646, 1048576}));

TEST(TransferBufferSize, EveryWholeNumberOfGranulesIsKept) {
    for (std::int32_t k = 1; k <= 16; ++k) {
        EXPECT_EQ(transferBufferSize(65536 * k), 65536 * k) << k;
        if (k < 16) {
            EXPECT_EQ(transferBufferSize(65536 * k + 1), 65536 * (k + 1)) << k;
        }
    }
}

}  // namespace
}  // namespace talveco
