// talveco-decode writing each format as users ask for it: into a pipe (its
// standard output as the test runs it), and into files whose names choose
// the format.
#include <sndfile.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "talveco/talveco.h"
#include "tests/decode_app/DecodedSounds.h"
#include "tests/decode_app/FlacReading.h"
#include "tests/encode_app/SoundFiles.h"
#include "tests/support/ProgramRunner.h"
#include "tests/support/TempDir.h"

namespace talveco {
namespace {

namespace fs = std::filesystem;
using testing::ProgramResult;
using testing::readFileBytes;
using testing::RunOptions;
using testing::TempDir;
using testing::writeFileBytes;

using testing::caseLabel;
using testing::libraryDecode;
using testing::readSound;
using testing::Sound;

std::string leadingBytes(const fs::path& path, std::size_t count) {
    const auto bytes = readFileBytes(path);
    return {bytes.begin(),
            bytes.begin() + static_cast<std::ptrdiff_t>(std::min(count, bytes.size()))};
}

class DecodeFormats : public testing::DecodeProgramTest {};

// The stream into the pipe decodes in sync to its end, to the library's
// samples (libsndfile appended a rewritten header to it, which broke sync).
TEST_F(DecodeFormats, FlacIntoAPipeDecodesToTheLibrarysSamples) {
    writeAcm("s.acm", 2, 22050, 9000);
    const ProgramResult result = decode({"-c", "--format=flac", "s.acm"});
    ASSERT_EQ(result.exitStatus, 0) << result.errors;
    const testing::DecodedFlac decoded = testing::decodeFlac(
        {reinterpret_cast<const std::uint8_t*>(result.output.data()), result.output.size()});
    EXPECT_EQ(decoded.errors, std::vector<std::string>{});
    EXPECT_EQ(decoded.channels, 2U);
    EXPECT_EQ(decoded.rate, 22050U);
    EXPECT_EQ(decoded.samples, libraryDecode(dir / "s.acm"));
}

// Formats completed by going back to their header fail before any byte goes
// into the pipe; the message says what can go there.
TEST_F(DecodeFormats, HeaderRewritingFormatsAreRefusedIntoAPipe) {
    writeAcm("s.acm", 1, 22050, 3000);
    for (const std::string format : {"aiff", "w64", "caf"}) {
        const ProgramResult result = decode({"-c", "--format=" + format, "s.acm"});
        EXPECT_EQ(result.exitStatus, 1) << format;
        EXPECT_EQ(result.output.size(), 0U) << format;
        EXPECT_NE(result.errors.find("cannot be written to a pipe"), std::string::npos)
            << result.errors;
        EXPECT_NE(result.errors.find("use wav, flac"), std::string::npos) << result.errors;
    }
}

struct PipedCase {
    const char* format;
    unsigned rate;
    int sndfileFormat;
    bool lossless;
};

// Formats written front to back reach the pipe whole: read back from what
// came through, they hold the input's shape and (lossless ones) its samples.
TEST_F(DecodeFormats, OnePassFormatsIntoAPipeReadBack) {
    const PipedCase cases[] = {
        {"raw", 22050, SF_FORMAT_RAW, true},
        {"ogg", 22050, SF_FORMAT_OGG, false},
        {"mp3", 22050, SF_FORMAT_MPEG, false},
        {"opus", 48000, SF_FORMAT_OGG, false},
    };
    for (const PipedCase& c : cases) {
        writeAcm("s.acm", 2, c.rate, 6000);
        const ProgramResult result = decode({"-c", std::string("--format=") + c.format, "s.acm"});
        ASSERT_EQ(result.exitStatus, 0) << c.format << ": " << result.errors;
        const fs::path piped = dir / (std::string("piped.") + c.format);
        writeFileBytes(piped, {result.output.begin(), result.output.end()});
        const bool raw = c.sndfileFormat == SF_FORMAT_RAW;
        const Sound sound = readSound(piped, raw ? 2 : 0, raw ? static_cast<int>(c.rate) : 0);
        EXPECT_EQ(sound.format, c.sndfileFormat) << c.format;
        EXPECT_EQ(sound.channels, 2) << c.format;
        EXPECT_EQ(sound.rate, static_cast<int>(c.rate)) << c.format;
        const auto expected = libraryDecode(dir / "s.acm");
        if (c.lossless) {
            EXPECT_EQ(sound.samples, expected) << c.format;
        } else {
            // Without a seekable header, MP3 keeps its encoder's padding.
            EXPECT_GE(sound.samples.size(), expected.size()) << c.format;
        }
    }
}

struct NamedCase {
    const char* label;
    std::vector<std::string> arguments;  // before the input s.acm
    unsigned rate;
    const char* output;   // the file expected; empty when refused
    int sndfileFormat;    // its format as libsndfile reads it
    const char* message;  // part of the refusal
};

class DecodeByName : public DecodeFormats, public ::testing::WithParamInterface<NamedCase> {};

// The output's name chooses the format it is written in, or the output is
// refused and nothing is left; --format wins over the name.
TEST_P(DecodeByName, WritesTheFormatTheNameAsksForOrNothing) {
    const NamedCase& c = GetParam();
    writeAcm("s.acm", 2, c.rate, 6000);
    fs::create_directory(dir / "dir.flac");
    std::vector<std::string> arguments = c.arguments;
    arguments.push_back("s.acm");
    const ProgramResult result = decode(arguments);
    if (std::string(c.output).empty()) {
        EXPECT_EQ(result.exitStatus, 1);
        EXPECT_NE(result.errors.find(c.message), std::string::npos) << result.errors;
        EXPECT_EQ(testing::directoryEntries(dir.path()),
                  (std::vector<std::string>{"dir.flac", "s.acm"}));
        return;
    }
    ASSERT_EQ(result.exitStatus, 0) << result.errors;
    const Sound sound = readSound(dir / c.output);
    EXPECT_EQ(sound.format, c.sndfileFormat);
    EXPECT_EQ(sound.rate, static_cast<int>(c.rate));
    EXPECT_EQ(sound.samples.size(), libraryDecode(dir / "s.acm").size());
}

INSTANTIATE_TEST_SUITE_P(
    Names, DecodeByName,
    ::testing::Values(
        NamedCase{"Mp3", {"-o", "c.mp3"}, 22050, "c.mp3", SF_FORMAT_MPEG, ""},
        NamedCase{"Opus", {"-o", "e.opus"}, 48000, "e.opus", SF_FORMAT_OGG, ""},
        NamedCase{"OpusAtARateItCannotHold",
                  {"-o", "e.opus"},
                  22050,
                  "",
                  0,
                  "Opus holds only 8000, 12000, 16000, 24000 or 48000 Hz, not 22050 Hz"},
        NamedCase{"Mp3AtARateItCannotHold", {"--format=mp3"}, 37800, "", 0, "not 37800 Hz"},
        NamedCase{"UnlistedExtension",
                  {"-o", "c.xyz"},
                  22050,
                  "",
                  0,
                  "'.xyz' is the extension of no format written here; end the name in .wav, .flac"},
        NamedCase{"NoExtensionInADottedFolder",
                  {"-o", "dir.flac/out"},
                  22050,
                  "dir.flac/out",
                  SF_FORMAT_WAV,
                  ""},
        NamedCase{"FormatOptionWins",
                  {"--format=flac", "-o", "z.mp3"},
                  22050,
                  "z.mp3",
                  SF_FORMAT_FLAC,
                  ""},
        NamedCase{"Mp3ByOption", {"--format", "mp3"}, 44100, "s.mp3", SF_FORMAT_MPEG, ""}),
    caseLabel<NamedCase>);

// -f replaces the file's contents but not who may read it.
TEST_F(DecodeFormats, ForceKeepsTheReplacedFilesPermissions) {
    writeAcm("s.acm", 1, 22050, 2000);
    writeFileBytes(dir / "private.wav", {1, 2, 3});
    ASSERT_EQ(::chmod((dir / "private.wav").c_str(), 0600), 0);
    const ProgramResult result = decode({"-f", "-o", "private.wav", "s.acm"});
    ASSERT_EQ(result.exitStatus, 0) << result.errors;
    struct stat info {};
    ASSERT_EQ(::stat((dir / "private.wav").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0600U);
    EXPECT_EQ(leadingBytes(dir / "private.wav", 4), "RIFF");
}

// An output that cannot take the data fails in every format, and nothing of it is left:
// libsndfile's MP3 writer counts frames as written that the file never took.
TEST_F(DecodeFormats, AnOutputWithoutRoomFailsInEveryFormat) {
    writeAcm("s.acm", 2, 44100, 40000);
    RunOptions full;
    full.fileSizeLimit = 4096;
    for (const std::string format : {"mp3", "ogg", "flac", "aiff", "caf", "w64", "raw", "wav"}) {
        const ProgramResult result = decode({"-o", "out." + format, "s.acm"}, full);
        EXPECT_EQ(result.exitStatus, 1) << format << ": " << result.errors;
        EXPECT_NE(result.errors.find("writing"), std::string::npos) << result.errors;
        EXPECT_EQ(result.errors.find("bug in libsndfile"), std::string::npos) << result.errors;
        EXPECT_FALSE(fs::exists(dir / ("out." + format))) << format;
    }
}

}  // namespace
}  // namespace talveco
