// talveco.exe run as a Windows user runs it: names outside the code page,
// the transcript's line ends through a pipe, and an output that is the input
// under another name.
#include <gtest/gtest.h>

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
    TempDir dir;
    const std::vector<std::uint8_t> stream = testing::randomStream(4096, 4, 8, 3, 11);
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

}  // namespace
}  // namespace talveco
