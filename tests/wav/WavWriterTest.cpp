#include "wav/ConvertJob.h"
#include "wav/WavWriter.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/Failure.h"
#include "tests/support/ExpectedWav.h"
#include "tests/support/ScriptedSource.h"
#include "tests/support/TempDir.h"

namespace talveco {
namespace {

using testing::expectedWav;
using testing::patternByte;
using testing::readFileBytes;
using testing::ScriptedSource;
using testing::TempDir;

std::vector<std::uint8_t> pattern(std::size_t count) {
    std::vector<std::uint8_t> bytes(count);
    for (std::size_t i = 0; i < count; ++i)
        bytes[i] = patternByte(i);
    return bytes;
}

// Runs the writer in a temporary directory and keeps what it printed.
class WriterRun {
  public:
    WriterRun() : consolePath_(dir / "console.txt") {
        consoleFd_ = ::open(consolePath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    }
    ~WriterRun() { ::close(consoleFd_); }

    std::int64_t convert(ScriptedSource& source, const std::string& infoName = "in.acm") {
        Console console(consoleFd_);
        WavTarget target{output().string(), infoName, WavHeaderTemplate{}};
        return runConversion(source, "in.acm", target, console);
    }
    std::filesystem::path output() const { return dir / "out.wav"; }
    std::string console() const {
        const auto bytes = readFileBytes(consolePath_);
        return {bytes.begin(), bytes.end()};
    }
    // Names in the directory other than the console capture.
    std::vector<std::string> files() const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
            if (entry.path() != consolePath_) names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    TempDir dir;

  private:
    std::filesystem::path consolePath_;
    int consoleFd_ = -1;
};

struct TransferCase {
    const char* name;
    std::int32_t promised;
    std::vector<std::size_t> chunks;
    std::vector<std::size_t> expectedCapacities;
    std::size_t expectedData;
    std::string expectedMarks;

    friend void PrintTo(const TransferCase& c, std::ostream* out) { *out << c.name; }
};

class TransferLoopTest : public ::testing::TestWithParam<TransferCase> {};

TEST_P(TransferLoopTest, WritesEveryDeliveredByteAndAnHonestHeader) {
    const TransferCase& c = GetParam();
    WriterRun run;
    ScriptedSource source(c.promised, c.chunks);
    EXPECT_EQ(run.convert(source), static_cast<std::int64_t>(c.expectedData));
    EXPECT_EQ(source.capacities, c.expectedCapacities);
    EXPECT_EQ(run.console(), c.expectedMarks + "\r\n");
    EXPECT_EQ(readFileBytes(run.output()), expectedWav(pattern(c.expectedData), "in.acm"));
    EXPECT_EQ(run.files(), std::vector<std::string>{"out.wav"});
}

INSTANTIATE_TEST_SUITE_P(
    Sources, TransferLoopTest,
    ::testing::Values(
        TransferCase{"empty", 0, {}, {0}, 0, ""},
        TransferCase{"one_chunk", 600000, {600000}, {655360, 655360}, 600000, "#"},
        TransferCase{"exact_granules", 131072, {131072}, {131072, 131072}, 131072, "#"},
        TransferCase{"three_megabytes",
                     3000000,
                     {1048576, 1048576, 902848},
                     {1048576, 1048576, 1048576, 1048576},
                     3000000,
                     "###"},
        TransferCase{"short_reads_in_the_middle",
                     3000000,
                     {1048576, 1000, 1048576, 901848},
                     {1048576, 1048576, 1048576, 1048576, 1048576},
                     3000000,
                     "####"},
        TransferCase{
            "stops_early", 3000000, {1048576, 500}, {1048576, 1048576, 1048576}, 1049076, "##"},
        TransferCase{"delivers_more", 10, {10, 6}, {65536, 65536, 65536}, 16, "##"}),
    [](const auto& testCase) { return std::string(testCase.param.name); });

TEST(WavWriter, OddAndEmptyNamesAreWrittenWithoutPadding) {
    for (const std::string name : {"", "a", "odd.acm", "SPEECH.ACM"}) {
        WriterRun run;
        ScriptedSource source(4, {4});
        run.convert(source, name);
        const auto file = readFileBytes(run.output());
        EXPECT_EQ(file.size(), 116 + 4 + name.size()) << name;
        EXPECT_EQ(file, expectedWav(pattern(4), name)) << name;
    }
}

TEST(WavWriter, ReplacesAnExistingFileOnlyWhenComplete) {
    WriterRun run;
    testing::writeFileBytes(run.output(), {1, 2, 3});
    ScriptedSource source(8, {8});
    run.convert(source);
    EXPECT_EQ(readFileBytes(run.output()), expectedWav(pattern(8), "in.acm"));
}

TEST(WavWriter, NewFileGetsTheUsualPermissions) {
    const mode_t previous = ::umask(027);
    WriterRun run;
    ScriptedSource source(2, {2});
    run.convert(source);
    ::umask(previous);
    struct stat info {};
    ASSERT_EQ(::stat(run.output().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640u);
}

TEST(WavWriter, FailureMidwayLeavesTheOldFileAndNoPartialFile) {
    WriterRun run;
    testing::writeFileBytes(run.output(), {9, 9, 9});
    ScriptedSource source(3000000, {1048576, 1048576, 902848});
    source.failAtRead(1, Failure(FailureKind::IoError, 5));
    try {
        run.convert(source);
        FAIL() << "the failure was swallowed";
    } catch (const Failure& failure) {
        EXPECT_EQ(std::string(failure.what()), "I/O error 5");
    }
    EXPECT_EQ(run.console(), "#");  // the handler, not the writer, ends the line
    EXPECT_EQ(readFileBytes(run.output()), (std::vector<std::uint8_t>{9, 9, 9}));
    EXPECT_EQ(run.files(), std::vector<std::string>{"out.wav"});
}

TEST(WavWriter, RefusesToReplaceTheInputItself) {
    WriterRun run;
    testing::writeFileBytes(run.output(), {7, 7});
    struct stat info {};
    ASSERT_EQ(::stat(run.output().c_str(), &info), 0);
    ScriptedSource source(4, {4});
    source.setIdentity(FileIdentity{info.st_dev, info.st_ino});
    try {
        run.convert(source);
        FAIL() << "the input was replaced";
    } catch (const Failure& failure) {
        EXPECT_EQ(std::string(failure.what()), "I/O error 32");
    }
    EXPECT_EQ(readFileBytes(run.output()), (std::vector<std::uint8_t>{7, 7}));
    EXPECT_TRUE(source.capacities.empty()) << "nothing may be read before the refusal";
}

TEST(WavWriter, ADirectoryInTheWayIsAccessDenied) {
    WriterRun run;
    std::filesystem::create_directory(run.output());
    ScriptedSource source(4, {4});
    try {
        run.convert(source);
        FAIL();
    } catch (const Failure& failure) {
        EXPECT_EQ(failure.kind(), FailureKind::AccessDenied);
    }
    EXPECT_TRUE(std::filesystem::is_directory(run.output()));
    EXPECT_EQ(run.files(), std::vector<std::string>{"out.wav"});
}

TEST(WavWriter, OpenFailureCreatesNothing) {
    WriterRun run;
    ScriptedSource source(4, {4});
    source.failOnOpen(Failure(FailureKind::NotAcmFile));
    EXPECT_THROW(run.convert(source), Failure);
    EXPECT_TRUE(run.files().empty());
    EXPECT_EQ(source.openedPath, "in.acm");
}

}  // namespace
}  // namespace talveco
