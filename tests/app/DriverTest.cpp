#include "app/Driver.h"

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "platform/Failure.h"
#include "tests/support/ExpectedWav.h"
#include "tests/support/ProgramRunner.h"
#include "tests/support/ScriptedSource.h"
#include "tests/support/TempDir.h"
#include "tests/support/Transcript.h"

namespace talveco {
namespace {

using testing::crlfLines;
using testing::readFileBytes;
using testing::ScriptedSource;
using testing::TempDir;

using testing::kBanner;

// Runs the driver in-process inside a temporary working directory.
class DriverRun {
  public:
    DriverRun() : previous_(std::filesystem::current_path()) {
        std::filesystem::current_path(dir.path());
    }
    ~DriverRun() { std::filesystem::current_path(previous_); }

    int run(std::vector<std::string> arguments, SoundSource& source) {
        const auto consolePath = dir / ".console";
        const auto warningsPath = dir / ".warnings";
        const int fd = ::open(consolePath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int warningsFd = ::open(warningsPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        Console console(fd);
        Console warningsConsole(warningsFd);
        const int status = runDriver(arguments, source, console, warningsConsole);
        ::close(fd);
        ::close(warningsFd);
        output = takeText(consolePath);
        warnings = takeText(warningsPath);
        return status;
    }

    TempDir dir;
    std::string output;
    std::string warnings;  // what went to standard error

  private:
    static std::string takeText(const std::filesystem::path& path) {
        const auto bytes = readFileBytes(path);
        std::filesystem::remove(path);
        return {bytes.begin(), bytes.end()};
    }

    std::filesystem::path previous_;
};

TEST(Driver, WithoutArgumentsPrintsUsage) {
    DriverRun run;
    ScriptedSource source(0, {});
    EXPECT_EQ(run.run({}, source), kExitSuccess);
    EXPECT_EQ(
        run.output,
        crlfLines({kBanner, "", " Usage: TALVECO acm_file_name [-m]",
                   "    use -m option to produce mono WAV (effects and speech are mono files)"}));
    EXPECT_TRUE(source.openedPath.empty());
}

struct ModeCase {
    std::vector<std::string> arguments;
    bool mono;

    friend void PrintTo(const ModeCase& c, std::ostream* out) {
        for (const auto& argument : c.arguments)
            *out << '"' << argument << "\" ";
    }
};

class DriverModeTest : public ::testing::TestWithParam<ModeCase> {};

TEST_P(DriverModeTest, ConvertsAndReportsTheTotal) {
    DriverRun run;
    ScriptedSource source(6, {6});
    EXPECT_EQ(run.run(GetParam().arguments, source), kExitSuccess);
    const std::string converting = " Converting C:\\snd\\SPEECH.ACM to SPEECH.wav";
    EXPECT_EQ(run.output, crlfLines({kBanner, converting + (GetParam().mono ? " (mono)" : ""), "#",
                                     "6 bytes written"}));
    EXPECT_EQ(source.openedPath, "C:\\snd\\SPEECH.ACM");
    // Arguments beyond the second are ignored, and the user is told so.
    EXPECT_EQ(run.warnings.starts_with("talveco converts one file"),
              GetParam().arguments.size() > 2);
    std::vector<std::uint8_t> data;
    for (std::size_t i = 0; i < 6; ++i)
        data.push_back(testing::patternByte(i));
    EXPECT_EQ(readFileBytes(run.dir / "SPEECH.wav"),
              testing::expectedWav(data, "SPEECH.ACM", GetParam().mono));
}

INSTANTIATE_TEST_SUITE_P(Options, DriverModeTest,
                         ::testing::Values(ModeCase{{"C:\\snd\\SPEECH.ACM"}, false},
                                           ModeCase{{"C:\\snd\\SPEECH.ACM", "-m"}, true},
                                           ModeCase{{"C:\\snd\\SPEECH.ACM", "-M"}, true},
                                           ModeCase{{"C:\\snd\\SPEECH.ACM", "-mono"}, false},
                                           ModeCase{{"C:\\snd\\SPEECH.ACM", "x", "-m"}, false},
                                           ModeCase{{"C:\\snd\\SPEECH.ACM", "-m", "extra"}, true}));

TEST(Driver, OpenFailureIsReportedOnItsOwnLine) {
    DriverRun run;
    ScriptedSource source(6, {6});
    source.failOnOpen(Failure(FailureKind::FileNotFound, ENOENT));
    EXPECT_EQ(run.run({"x.acm", "-m"}, source), kExitFailure);
    EXPECT_EQ(run.output, crlfLines({kBanner, " Converting x.acm to x.wav (mono)", "",
                                     "Error: File not found"}));
    EXPECT_FALSE(std::filesystem::exists(run.dir / "x.wav"));
}

TEST(Driver, FailureDuringTransferEndsTheProgressLine) {
    DriverRun run;
    ScriptedSource source(3000000, {1048576, 1048576, 902848});
    source.failAtRead(2, Failure(FailureKind::DiskFull, ENOSPC));
    EXPECT_EQ(run.run({"x.acm"}, source), kExitFailure);
    EXPECT_EQ(run.output,
              crlfLines({kBanner, " Converting x.acm to x.wav", "##", "Error: Disk full"}));
}

TEST(Driver, OutOfMemoryIsReported) {
    struct GreedySource : ScriptedSource {
        GreedySource() : ScriptedSource(4, {4}) {}
        std::int32_t size() const override { throw std::bad_alloc(); }
    } source;
    DriverRun run;
    EXPECT_EQ(run.run({"x.acm"}, source), kExitFailure);
    EXPECT_EQ(run.output,
              crlfLines({kBanner, " Converting x.acm to x.wav", "", "Error: Out of memory"}));
}

}  // namespace
}  // namespace talveco
