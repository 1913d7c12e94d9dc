// talveco.exe and talveco-decode.exe run as a Windows user runs them: names
// outside the code page, the transcript's line ends through a pipe, binary
// standard output, device names and an output that is the input under
// another name.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/ExpectedWav.h"
#include "tests/support/ProgramRunner.h"
#include "tests/support/RandomStreams.h"
#include "tests/support/TempDir.h"
#include "tests/support/Transcript.h"

namespace talveco {
namespace {

namespace fs = std::filesystem;
using testing::crlfLines;
using testing::readFileBytes;
using testing::runProgram;
using testing::TempDir;
using testing::writeFileBytes;

fs::path fromUtf8(const std::string& text) {
    return fs::path(std::u8string(text.begin(), text.end()));
}

class WindowsProgram : public ::testing::Test {
  protected:
    testing::ProgramResult decode(const std::vector<std::string>& arguments,
                                  testing::RunOptions options = {}) {
        return runBuilt("TALVECO_DECODE", arguments, std::move(options));
    }
    testing::ProgramResult encode(const std::vector<std::string>& arguments,
                                  testing::RunOptions options = {}) {
        return runBuilt("TALVECO_ENCODE", arguments, std::move(options));
    }
    testing::ProgramResult runBuilt(const char* variable, const std::vector<std::string>& arguments,
                                    testing::RunOptions options) {
        const char* program = std::getenv(variable);
        if (program == nullptr) throw std::runtime_error(std::string(variable) + " is not set");
        options.program = program;
        return runProgram(arguments, dir.path(), options);
    }

    TempDir dir;
    const std::vector<std::uint8_t> stream = testing::randomStream(4096, 4, 8, 32, 11);
};

TEST_F(WindowsProgram, ConvertsAFileNamedOutsideTheCodePage) {
    const std::string stem =
        "\xC3\x9C"
        "berspielung \xE2\x80\x93 \xE5\xA3\xB0";
    writeFileBytes(dir.path() / fromUtf8(stem + ".acm"), stream);
    writeFileBytes(dir / "plain.acm", stream);
    const auto named = runProgram({stem + ".acm"}, dir.path());
    const auto plain = runProgram({"plain.acm"}, dir.path());
    EXPECT_EQ(named.exitStatus, 0) << named.output;
    EXPECT_NE(named.output.find(" Converting " + stem + ".acm to " + stem + ".wav\r\n"),
              std::string::npos)
        << named.output;
    // The same samples as from an ASCII name, and the name in the title as typed.
    const auto plainWav = readFileBytes(dir / "plain.wav");
    ASSERT_GT(plainWav.size(), 44u);
    const std::size_t dataLength = plainWav[40] | plainWav[41] << 8 | plainWav[42] << 16;
    const std::vector<std::uint8_t> data(plainWav.begin() + 44,
                                         plainWav.begin() + 44 + static_cast<long>(dataLength));
    EXPECT_EQ(plainWav, testing::expectedWav(data, "plain.acm"));
    EXPECT_EQ(readFileBytes(dir.path() / fromUtf8(stem + ".wav")),
              testing::expectedWav(data, stem + ".acm"));
}

TEST_F(WindowsProgram, TranscriptLinesEndInOneCarriageReturn) {
    writeFileBytes(dir / "a.acm", stream);
    const auto result = runProgram({"a.acm"}, dir.path());
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.output.find("\r\r\n"), std::string::npos);
    EXPECT_EQ(result.output.substr(0, result.output.find('\n') + 1), crlfLines({testing::kBanner}));
    EXPECT_NE(result.output.find(" Converting a.acm to a.wav\r\n#"), std::string::npos)
        << result.output;
}

TEST_F(WindowsProgram, OutputThatIsTheInputUnderAnotherNameIsRefused) {
    writeFileBytes(dir / "x.acm", stream);
    fs::create_hard_link(dir / "x.acm", dir / "x.wav");
    const auto result = runProgram({"x.acm"}, dir.path());
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_NE(result.output.find("Error: I/O error 32"), std::string::npos) << result.output;
    EXPECT_EQ(readFileBytes(dir / "x.wav"), stream);
}

// The C runtime's text mode would put a CR before every LF byte of the WAV.
TEST_F(WindowsProgram, StandardOutputCarriesTheSameBytesAsAFile) {
    writeFileBytes(dir / "a.acm", stream);
    ASSERT_EQ(decode({"-o", "file.wav", "a.acm"}).exitStatus, 0);
    const auto file = readFileBytes(dir / "file.wav");
    ASSERT_NE(std::find(file.begin(), file.end(), '\n'), file.end());  // something to corrupt

    // Into a pipe the header cannot be completed at the end: its two sizes
    // stay "unknown", as on Linux; every other byte is the file's.
    const auto piped = decode({"-c", "a.acm"});
    EXPECT_EQ(piped.exitStatus, 0) << piped.errors;
    std::vector<std::uint8_t> streamed(piped.output.begin(), piped.output.end());
    ASSERT_EQ(streamed.size(), file.size());
    for (const std::size_t sizeField : {4, 40})
        std::copy_n(file.begin() + static_cast<long>(sizeField), 4,
                    streamed.begin() + static_cast<long>(sizeField));
    EXPECT_EQ(streamed, file);

    // From a pipe into a pipe: two pipes, neither of them a file with an
    // index, are not one file.
    testing::RunOptions fromPipe;
    fromPipe.standardInputPipe = stream;
    const auto through = decode({"-c", "-"}, fromPipe);
    EXPECT_EQ(through.exitStatus, 0) << through.errors;
    EXPECT_EQ(through.output, piped.output);

    testing::RunOptions redirected;
    redirected.standardOutputFile = dir / "redirected.wav";
    EXPECT_EQ(decode({"-c", "a.acm"}, redirected).exitStatus, 0);
    EXPECT_EQ(readFileBytes(dir / "redirected.wav"), file);
}

// libsndfile reads and writes the standard streams through the C runtime's
// descriptors, whose text mode would turn CR LF into LF and stop reading at
// the first byte 26 (Ctrl-Z).
TEST_F(WindowsProgram, LibsndfileStreamsAreBinaryBothWays) {
    writeFileBytes(dir / "a.acm", stream);
    ASSERT_EQ(decode({"--format=flac", "-o", "file.flac", "a.acm"}).exitStatus, 0);
    const auto piped = decode({"--format=flac", "-c", "a.acm"});
    EXPECT_EQ(piped.exitStatus, 0) << piped.errors;
    // Into a pipe the stream information (sizes, MD5) cannot be completed at
    // the end, as on Linux; the frames after it are the file's.
    const auto flac = readFileBytes(dir / "file.flac");
    constexpr long kAfterStreamInfo = 42;
    ASSERT_EQ(piped.output.size(), flac.size());
    EXPECT_TRUE(std::equal(
        flac.begin() + kAfterStreamInfo, flac.end(), piped.output.begin() + kAfterStreamInfo,
        [](std::uint8_t a, char b) { return a == static_cast<std::uint8_t>(b); }));

    ASSERT_EQ(decode({"-o", "in.wav", "a.acm"}).exitStatus, 0);
    const auto wav = readFileBytes(dir / "in.wav");
    ASSERT_NE(std::find(wav.begin(), wav.end(), 26), wav.end());  // something to stop at
    ASSERT_EQ(encode({"-o", "from-file.acm", "in.wav"}).exitStatus, 0);
    testing::RunOptions fromStandardInput;
    fromStandardInput.standardInput = dir / "in.wav";
    const auto piped2 = encode({"-o", "from-stdin.acm", "-"}, fromStandardInput);
    EXPECT_EQ(piped2.exitStatus, 0) << piped2.errors;
    EXPECT_EQ(readFileBytes(dir / "from-stdin.acm"), readFileBytes(dir / "from-file.acm"));
}

TEST_F(WindowsProgram, DeviceNamesAreRefusedAsOutputs) {
    writeFileBytes(dir / "a.acm", stream);
    for (const std::string name : {"CON.wav", "nul.wav", "COM1.wav"}) {
        const auto result = decode({"-f", "-o", name, "a.acm"});
        EXPECT_EQ(result.exitStatus, 1) << name;
        EXPECT_NE(result.errors.find(name), std::string::npos) << result.errors;
        EXPECT_TRUE(result.output.empty()) << name;
    }
    EXPECT_EQ(fs::directory_iterator(dir.path())->path().filename(), "a.acm");
}

// A dot in a folder's name, with '\\' between the parts, is no extension of the file's: the
// outputs of a file named without one land beside it, and a named output is no unknown format.
TEST_F(WindowsProgram, ADotInAFolderNameIsNoExtension) {
    fs::create_directory(dir / "take.v2");
    writeFileBytes(dir / "take.v2" / "song", stream);
    const auto named = decode({"-o", "take.v2\\plain", "take.v2\\song"});
    EXPECT_EQ(named.exitStatus, 0) << named.errors;
    const auto beside = decode({"take.v2\\song"});
    EXPECT_EQ(beside.exitStatus, 0) << beside.errors;
    EXPECT_EQ(readFileBytes(dir / "take.v2" / "song.wav"),
              readFileBytes(dir / "take.v2" / "plain"));
    const auto encoded = encode({"-s", "take.v2\\plain"});
    EXPECT_EQ(encoded.exitStatus, 0) << encoded.errors;
    EXPECT_TRUE(fs::exists(dir / "take.v2" / "plain.acm"));
    EXPECT_FALSE(fs::exists(dir / "take.wav"));
    EXPECT_FALSE(fs::exists(dir / "take.acm"));
}

TEST_F(WindowsProgram, SeveralFilesAtOnceIntoAFolderNamedOutsideTheCodePage) {
    const std::string folder = "\xE5\xA3\xB0";
    std::vector<std::string> arguments = {"-j", "2", "-d", folder};
    for (const char* name : {"a", "b", "c"}) {
        writeFileBytes(dir / (std::string(name) + ".acm"), stream);
        arguments.push_back(std::string(name) + ".acm");
    }
    ASSERT_EQ(decode({"-o", "expected.wav", "a.acm"}).exitStatus, 0);
    const auto result = decode(arguments);
    EXPECT_EQ(result.exitStatus, 0) << result.errors;
    for (const char* name : {"a", "b", "c"}) {
        EXPECT_EQ(readFileBytes(dir.path() / fromUtf8(folder) / (std::string(name) + ".wav")),
                  readFileBytes(dir / "expected.wav"))
            << name;
    }
}

}  // namespace
}  // namespace talveco
