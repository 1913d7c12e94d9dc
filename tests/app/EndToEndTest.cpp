// The built program run as a user runs it: in a directory of its own, with
// arguments, checking the console transcript, exit status and files.
#include <sys/stat.h>
#include <unistd.h>
#include <csignal>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "tests/support/ExpectedWav.h"
#include "tests/support/IndependentReaders.h"
#include "tests/support/ProgramRunner.h"
#include "tests/support/RandomStreams.h"
#include "tests/support/TempDir.h"
#include "tests/support/Transcript.h"

namespace talveco {
namespace {

using testing::crlfLines;
using testing::expectedWav;
using testing::ProgramResult;
using testing::readFileBytes;
using testing::RunOptions;
using testing::runProgram;
using testing::TempDir;
using testing::writeFileBytes;

using testing::kBanner;
namespace fs = std::filesystem;

// A stream that is nothing but its header: the zero bits that follow the end
// of the file decode as silent blocks, so it yields `sampleCount` zero samples.
std::vector<std::uint8_t> silentAcm(std::uint32_t sampleCount, std::uint32_t levels = 3,
                                    std::uint32_t rows = 5) {
    std::vector<std::uint8_t> bytes = {0x97, 0x28, 0x03, 0x01};
    testing::appendLe(bytes, sampleCount, 4);
    testing::appendLe(bytes, 2, 2);
    testing::appendLe(bytes, 22050, 2);
    testing::appendLe(bytes, levels | (rows << 4), 2);
    return bytes;
}

std::vector<std::string> directoryEntries(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

// The file holds exactly the expected bytes, and tools that share no code
// with the converter read it as the WAV file it claims to be.
void expectWavFile(const fs::path& path, const std::vector<std::uint8_t>& data,
                   const std::string& infoName, bool mono = false) {
    EXPECT_EQ(readFileBytes(path), expectedWav(data, infoName, mono));
    EXPECT_EQ(
        testing::independentReadersComplaints(path, {mono ? 1 : 2, data.size(), infoName.size()}),
        "");
}

constexpr const char* kIgnoredArgumentsNote =
    "talveco converts one file; use talveco-decode for several files or options\r\n";

class EndToEnd : public ::testing::Test {
  protected:
    ProgramResult run(const std::vector<std::string>& arguments, const RunOptions& options = {}) {
        return runProgram(arguments, dir.path(), options);
    }
    // Lets an unprivileged run into the test directory.
    void openUpDirectory() { fs::permissions(dir.path(), fs::perms::all); }

    TempDir dir;
};

TEST_F(EndToEnd, WithoutArgumentsPrintsUsageAndTouchesNothing) {
    const ProgramResult result = run({});
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(
        result.output,
        crlfLines({kBanner, "", " Usage: TALVECO acm_file_name [-m]",
                   "    use -m option to produce mono WAV (effects and speech are mono files)"}));
    EXPECT_TRUE(directoryEntries(dir.path()).empty());
}

struct OptionCase {
    const char* name;
    std::vector<std::string> arguments;
    bool mono;
    bool pointedToDecode = false;  // told on stderr that arguments were ignored

    friend void PrintTo(const OptionCase& c, std::ostream* out) { *out << c.name; }
};

class EndToEndOptions : public EndToEnd, public ::testing::WithParamInterface<OptionCase> {};

TEST_P(EndToEndOptions, WritesTheFileTheOptionsAskFor) {
    writeFileBytes(dir / "SPEECH.ACM", silentAcm(1000));
    const ProgramResult result = run(GetParam().arguments);
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.output, crlfLines({kBanner,
                                        std::string(" Converting SPEECH.ACM to SPEECH.wav") +
                                            (GetParam().mono ? " (mono)" : ""),
                                        "#", "2000 bytes written"}));
    expectWavFile(dir / "SPEECH.wav", std::vector<std::uint8_t>(2000), "SPEECH.ACM",
                  GetParam().mono);
    EXPECT_EQ(result.errors.find(kIgnoredArgumentsNote) != std::string::npos,
              GetParam().pointedToDecode)
        << result.errors;
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, EndToEndOptions,
    ::testing::Values(OptionCase{"stereo", {"SPEECH.ACM"}, false},
                      OptionCase{"m", {"SPEECH.ACM", "-m"}, true},
                      OptionCase{"M", {"SPEECH.ACM", "-M"}, true},
                      OptionCase{"mono_word", {"SPEECH.ACM", "-mono"}, false},
                      OptionCase{"third_ignored", {"SPEECH.ACM", "-m", "third"}, true, true},
                      OptionCase{"m_third", {"SPEECH.ACM", "third", "-m"}, false, true}),
    [](const auto& testCase) { return std::string(testCase.param.name); });

struct FailureCase {
    const char* name;
    std::vector<std::string> arguments;
    std::string convertingLine;
    std::string error;

    friend void PrintTo(const FailureCase& c, std::ostream* out) { *out << c.name; }
};

class EndToEndFailures : public EndToEnd, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(EndToEndFailures, ReportsOneErrorLineAndCreatesNothing) {
    fs::create_directory(dir / "folder.acm");
    writeFileBytes(dir / "plain", {1});
    writeFileBytes(dir / "text.acm", {'R', 'I', 'F', 'F', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    writeFileBytes(dir / "tiny.acm", {0x97, 0x28, 0x03});
    const auto before = directoryEntries(dir.path());

    const ProgramResult result = run(GetParam().arguments);
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(result.output,
              crlfLines({kBanner, GetParam().convertingLine, "", "Error: " + GetParam().error}));
    EXPECT_EQ(directoryEntries(dir.path()), before);
    EXPECT_EQ(result.errors, GetParam().arguments[0] == "-m" ? kIgnoredArgumentsNote : "");
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, EndToEndFailures,
    ::testing::Values(
        FailureCase{"minus_m_alone", {"-m"}, " Converting -m to -m.wav", "File not found"},
        FailureCase{"missing",
                    {"gone.acm", "-m"},
                    " Converting gone.acm to gone.wav (mono)",
                    "File not found"},
        FailureCase{"missing_directory",
                    {"nodir/x.acm"},
                    " Converting nodir/x.acm to nodir/x.wav",
                    "Invalid filename"},
        FailureCase{"file_as_directory",
                    {"plain/x.acm"},
                    " Converting plain/x.acm to plain/x.wav",
                    "Invalid filename"},
        FailureCase{"directory",
                    {"folder.acm"},
                    " Converting folder.acm to folder.wav",
                    "File access denied"},
        FailureCase{"not_acm",
                    {"text.acm"},
                    " Converting text.acm to text.wav",
                    "File does not appear to be a valid ACM file"},
        FailureCase{"shorter_than_signature",
                    {"tiny.acm"},
                    " Converting tiny.acm to tiny.wav",
                    "File does not appear to be a valid ACM file"}),
    [](const auto& testCase) { return std::string(testCase.param.name); });

TEST_F(EndToEnd, OutputNamedLikeTheInputIsRefusedAndTheInputKept) {
    const auto input = silentAcm(8);
    writeFileBytes(dir / "x.wav", input);
    fs::create_hard_link(dir / "x.wav", dir / "link.acm");
    const ProgramResult result = run({"x.wav"});
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(result.output,
              crlfLines({kBanner, " Converting x.wav to x.wav", "", "Error: I/O error 32"}));
    EXPECT_EQ(readFileBytes(dir / "x.wav"), input);
    EXPECT_EQ(directoryEntries(dir.path()), (std::vector<std::string>{"link.acm", "x.wav"}));

    // A link whose output name is the linked file is the same file too.
    fs::remove(dir / "x.wav");
    fs::create_symlink("link.acm", dir / "link.wav");
    EXPECT_EQ(run({"link.acm"}).output,
              crlfLines({kBanner, " Converting link.acm to link.wav", "", "Error: I/O error 32"}));
    EXPECT_EQ(readFileBytes(dir / "link.acm"), input);
}

TEST_F(EndToEnd, ExistingOutputIsReplaced) {
    writeFileBytes(dir / "a.acm", silentAcm(3));
    writeFileBytes(dir / "a.wav", std::vector<std::uint8_t>(5000, 0xEE));
    const ProgramResult result = run({"a.acm"});
    EXPECT_EQ(result.exitStatus, 0);
    expectWavFile(dir / "a.wav", std::vector<std::uint8_t>(6), "a.acm");
    EXPECT_EQ(directoryEntries(dir.path()), (std::vector<std::string>{"a.acm", "a.wav"}));
}

TEST_F(EndToEnd, ExistingOutputTheUserMayNotWriteIsKept) {
    writeFileBytes(dir / "a.acm", silentAcm(3));
    openUpDirectory();
    const std::vector<std::uint8_t> old(5000, 0xEE);
    for (const fs::perms mode :
         {fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read,
          fs::perms::owner_read | fs::perms::owner_write | fs::perms::others_read}) {
        writeFileBytes(dir / "a.wav", old);
        fs::permissions(dir / "a.wav", mode);
        const ProgramResult result = run({"a.acm"}, RunOptions::asNobody());
        EXPECT_EQ(result.exitStatus, 1);
        EXPECT_EQ(result.output, crlfLines({kBanner, " Converting a.acm to a.wav", "",
                                            "Error: File access denied"}));
        EXPECT_EQ(readFileBytes(dir / "a.wav"), old);
        EXPECT_EQ(fs::status(dir / "a.wav").permissions(), mode);
        EXPECT_EQ(directoryEntries(dir.path()), (std::vector<std::string>{"a.acm", "a.wav"}));
        fs::remove(dir / "a.wav");
    }
    // Not a file at all: a FIFO would be replaced by a plain file.
    ASSERT_EQ(::mkfifo((dir / "a.wav").c_str(), 0666), 0);
    EXPECT_EQ(run({"a.acm"}).output,
              crlfLines({kBanner, " Converting a.acm to a.wav", "", "Error: File access denied"}));
    EXPECT_TRUE(fs::is_fifo(dir / "a.wav"));
}

TEST_F(EndToEnd, OutputStaysInTheDirectoryAForwardSlashNames) {
    fs::create_directory(dir / "v1.2");
    writeFileBytes(dir / "v1.2" / "track", silentAcm(2));
    writeFileBytes(dir / "NOEXT", silentAcm(2));
    EXPECT_EQ(
        run({"v1.2/track"}).output,
        crlfLines({kBanner, " Converting v1.2/track to v1.2/track.wav", "#", "4 bytes written"}));
    EXPECT_EQ(run({"./NOEXT"}).output,
              crlfLines({kBanner, " Converting ./NOEXT to ./NOEXT.wav", "#", "4 bytes written"}));
    expectWavFile(dir / "v1.2" / "track.wav", std::vector<std::uint8_t>(4), "v1.2/track");
    expectWavFile(dir / "NOEXT.wav", std::vector<std::uint8_t>(4), "./NOEXT");
}

TEST_F(EndToEnd, TruncatedInputIsNamedOnStandardErrorAndConvertsAsBefore) {
    writeFileBytes(dir / "t.acm", silentAcm(1000));
    writeFileBytes(dir / "whole.acm", testing::randomStream(80, 3, 5, 2, 4));
    const ProgramResult cut = run({"t.acm"});
    EXPECT_EQ(cut.exitStatus, 0);
    EXPECT_EQ(cut.output,
              crlfLines({kBanner, " Converting t.acm to t.wav", "#", "2000 bytes written"}));
    EXPECT_EQ(cut.errors, crlfLines({"Warning: t.acm ends early: the last 2000 bytes of audio "
                                     "were made from past its end"}));
    expectWavFile(dir / "t.wav", std::vector<std::uint8_t>(2000), "t.acm");
    const ProgramResult whole = run({"whole.acm"});
    EXPECT_EQ(whole.exitStatus, 0);
    EXPECT_EQ(whole.errors, "");
}

// A block that cannot be decoded leaves a gap the transcript does not show:
// one warning line names it, and the transcript and status stay as they were.
TEST_F(EndToEnd, DamagedBlocksAreNamedOnStandardErrorAndConvertAsBefore) {
    const struct {
        const char* layout;
        const char* warning;
    } cases[] = {
        {"gbg",
         "Warning: d.acm is damaged: 1 block could not be decoded; the WAV file holds "
         "the audio that could"},
        {"gbbg",
         "Warning: d.acm is damaged: 2 blocks could not be decoded; the WAV file holds "
         "the audio that could"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.layout);
        writeFileBytes(dir / "d.acm", testing::layoutStream(c.layout, 3, 5, 9));
        const ProgramResult result = run({"d.acm"});
        EXPECT_EQ(result.exitStatus, 0);
        EXPECT_EQ(result.output.find("Error"), std::string::npos) << result.output;
        EXPECT_EQ(result.errors, crlfLines({c.warning}));
        EXPECT_TRUE(fs::exists(dir / "d.wav"));
    }
}

TEST_F(EndToEnd, EmptyStreamGivesAnEmptyProgressLine) {
    writeFileBytes(dir / "e.acm", silentAcm(0));
    const ProgramResult result = run({"e.acm"});
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.output,
              crlfLines({kBanner, " Converting e.acm to e.wav", "", "0 bytes written"}));
    expectWavFile(dir / "e.wav", {}, "e.acm");
}

TEST_F(EndToEnd, ReadOnlyInputConverts) {
    writeFileBytes(dir / "ro.acm", silentAcm(4));
    fs::permissions(dir / "ro.acm",
                    fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    openUpDirectory();
    const ProgramResult result = run({"ro.acm"}, RunOptions::asNobody());
    EXPECT_EQ(result.exitStatus, 0) << result.output;
    expectWavFile(dir / "ro.wav", std::vector<std::uint8_t>(8), "ro.acm");
}

TEST_F(EndToEnd, UnwritableOutputDirectoryIsAccessDenied) {
    // A colon ends the directory part of the input's name, so the output of
    // "../c:in.acm" is "in.wav" in the current, locked directory.
    writeFileBytes(dir / "c:in.acm", silentAcm(4));
    fs::create_directory(dir / "locked");
    openUpDirectory();
    fs::permissions(dir / "c:in.acm", fs::perms::all);
    fs::permissions(dir / "locked", fs::perms::owner_read | fs::perms::owner_exec |
                                        fs::perms::others_read | fs::perms::others_exec);
    const ProgramResult result =
        runProgram({"../c:in.acm"}, dir / "locked", RunOptions::asNobody());
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(result.output, crlfLines({kBanner, " Converting ../c:in.acm to in.wav", "",
                                        "Error: File access denied"}));
    EXPECT_TRUE(directoryEntries(dir / "locked").empty());
}

TEST_F(EndToEnd, FileSizeLimitIsADiskFullAndLosesNothing) {
    writeFileBytes(dir / "big.acm", silentAcm(1'500'000));
    writeFileBytes(dir / "big.wav", {1, 2, 3});
    const ProgramResult result = run({"big.acm"}, RunOptions::limitFileSize(1'500'000));
    EXPECT_EQ(result.terminatingSignal, 0);
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(result.output,
              crlfLines({kBanner, " Converting big.acm to big.wav", "#", "Error: Disk full"}));
    EXPECT_EQ(readFileBytes(dir / "big.wav"), (std::vector<std::uint8_t>{1, 2, 3}));
    EXPECT_EQ(directoryEntries(dir.path()), (std::vector<std::string>{"big.acm", "big.wav"}));
}

TEST_F(EndToEnd, ClosedConsoleDoesNotStopTheConversion) {
    writeFileBytes(dir / "p.acm", silentAcm(2'000'000));
    const ProgramResult result = run({"p.acm"}, RunOptions::closedStdout());
    EXPECT_EQ(result.terminatingSignal, 0);
    EXPECT_EQ(result.exitStatus, 0);
    expectWavFile(dir / "p.wav", std::vector<std::uint8_t>(4'000'000), "p.acm");
}

TEST_F(EndToEnd, OverlongOutputNameIsRefusedBeforeAnyWork) {
    // A 253-character name without extension gains ".wav": 257 characters,
    // more than the file system holds in one name.
    const std::string name(253, 'n');
    writeFileBytes(dir / name, silentAcm(1'000'000));
    const ProgramResult result = run({name});
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(result.output, crlfLines({kBanner, " Converting " + name + " to " + name + ".wav", "",
                                        "Error: I/O error 36"}));
    EXPECT_EQ(directoryEntries(dir.path()), std::vector<std::string>{name});
}

TEST_F(EndToEnd, InterruptedRunLeavesNoTemporaryFile) {
    // The largest stream the converter accepts: far more than it can write
    // before the signal arrives.
    writeFileBytes(dir / "long.acm", silentAcm((1u << 30) - 1));
    writeFileBytes(dir / "long.wav", {4, 2});
    for (const int signalNumber : {SIGINT, SIGTERM, SIGHUP}) {
        const ProgramResult result =
            run({"long.acm"}, RunOptions::interruptOnProgress(signalNumber));
        EXPECT_EQ(result.terminatingSignal, signalNumber);
        EXPECT_EQ(readFileBytes(dir / "long.wav"), (std::vector<std::uint8_t>{4, 2}));
        EXPECT_EQ(directoryEntries(dir.path()), (std::vector<std::string>{"long.acm", "long.wav"}));
    }
}

}  // namespace
}  // namespace talveco
