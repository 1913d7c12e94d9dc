// The built program against a failing system: a preloaded library
// (tests/support/FaultShim.cpp) makes reads, writes, closes and renames fail,
// or moves the output directory away, in the middle of a conversion. Every
// time the run must end in one "Error: " line and status 1, and leave the
// directory as it found it: no new or half-written file, an existing output
// untouched, the input unchanged. (A directory made read-only is the one
// exception; see its test.)
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "tests/support/AcmStreamBuilder.h"
#include "tests/support/IndependentReaders.h"
#include "tests/support/ProgramRunner.h"
#include "tests/support/TempDir.h"
#include "tests/support/Transcript.h"

namespace talveco {
namespace {

using testing::ProgramResult;
using testing::readFileBytes;
using testing::RunOptions;
using testing::runProgram;
using testing::TempDir;
using testing::withFaults;
using testing::writeFileBytes;
namespace fs = std::filesystem;

constexpr uid_t kNobody = 65534;
constexpr std::uint32_t kSamples = 4'000'000;  // eight 1 MiB chunks of output
const std::vector<std::uint8_t> kOldOutput = {7, 7, 7};
// All eight marks, with their line ended before the failure: it came after
// the last chunk.
const std::string kAllMarksEnded = "########\r\n";

// A stream whose zero bits are really in the file (about 750 KB of them, 1.5
// bits a sample), so that reading goes on for most of the conversion.
std::vector<std::uint8_t> longSilentAcm() {
    std::vector<std::uint8_t> bytes = testing::acmHeaderBytes(kSamples, 3, 5);
    bytes.resize(bytes.size() + kSamples / 40 * 60 / 8, 0);
    return bytes;
}

std::vector<std::string> directoryEntries(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

constexpr const char* kSomeMarks = "#+";

// The console of a run that failed: banner, the " Converting " line, then
// `marks` (an empty line when nothing was transferred yet; kSomeMarks for
// one or more "#") and the error line.
bool isFailedTranscript(const std::string& output, const std::string& convertingLine,
                        const std::string& marks, const std::string& error) {
    const std::string head = std::string(testing::kBanner) + "\r\n" + convertingLine + "\r\n";
    const std::string tail = "\r\nError: " + error + "\r\n";
    if (output.size() < head.size() + tail.size() || !output.starts_with(head) ||
        !output.ends_with(tail)) {
        return false;
    }
    const std::string middle =
        output.substr(head.size(), output.size() - head.size() - tail.size());
    if (marks != kSomeMarks) return middle == marks;
    return !middle.empty() && middle.find_first_not_of('#') == std::string::npos;
}

struct FaultCase {
    const char* name;
    std::vector<std::string> settings;
    std::string error;
    std::string marks;  // how far the transfer got

    friend void PrintTo(const FaultCase& c, std::ostream* out) { *out << c.name; }
};

class SystemFault : public ::testing::TestWithParam<FaultCase> {
  protected:
    TempDir dir;
};

TEST_P(SystemFault, EndsInOneErrorAndLeavesTheDirectoryAsItWas) {
    const auto input = longSilentAcm();
    writeFileBytes(dir / "in.acm", input);
    writeFileBytes(dir / "in.wav", kOldOutput);
    const auto before = directoryEntries(dir.path());

    const ProgramResult result =
        runProgram({"in.acm"}, dir.path(), withFaults(GetParam().settings));
    EXPECT_EQ(result.terminatingSignal, 0);
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_TRUE(isFailedTranscript(result.output, " Converting in.acm to in.wav", GetParam().marks,
                                   GetParam().error))
        << result.output;
    EXPECT_EQ(directoryEntries(dir.path()), before);
    EXPECT_EQ(readFileBytes(dir / "in.wav"), kOldOutput);
    EXPECT_EQ(readFileBytes(dir / "in.acm"), input);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, SystemFault,
    ::testing::Values(
        // The input becomes unreadable after 300 KB: a few chunks are through.
        FaultCase{"read_error", {"TALVECO_FAULT_READ_FAIL_AT=300000"}, "I/O error 5", kSomeMarks},
        FaultCase{"read_error_at_once", {"TALVECO_FAULT_READ_FAIL_AT=0"}, "I/O error 5", ""},
        FaultCase{"read_error_in_header", {"TALVECO_FAULT_READ_FAIL_AT=9"}, "I/O error 5", ""},
        // The disk fills up after two chunks; the third write is cut short.
        FaultCase{"disk_full", {"TALVECO_FAULT_WRITE_FAIL_AT=2500000"}, "Disk full", "##"},
        FaultCase{"disk_full_in_header", {"TALVECO_FAULT_WRITE_FAIL_AT=20"}, "Disk full", ""},
        FaultCase{"disk_full_in_trailer",
                  {"TALVECO_FAULT_WRITE_FAIL_AT=8000080"},
                  "Disk full",
                  kAllMarksEnded},
        FaultCase{"quota",
                  {"TALVECO_FAULT_WRITE_FAIL_AT=1500000", "TALVECO_FAULT_WRITE_ERRNO=122"},
                  "Disk full",
                  "#"},
        FaultCase{"write_error",
                  {"TALVECO_FAULT_WRITE_FAIL_AT=1500000", "TALVECO_FAULT_WRITE_ERRNO=5"},
                  "I/O error 5",
                  "#"},
        // The file system is remounted read-only under the running program.
        FaultCase{"read_only_file_system",
                  {"TALVECO_FAULT_WRITE_FAIL_AT=1500000", "TALVECO_FAULT_WRITE_ERRNO=30"},
                  "File access denied",
                  "#"},
        // A network file system reports at close that the data was lost.
        FaultCase{"close_error", {"TALVECO_FAULT_CLOSE_ERRNO=5"}, "I/O error 5", kAllMarksEnded},
        FaultCase{"rename_error", {"TALVECO_FAULT_RENAME_ERRNO=5"}, "I/O error 5", kAllMarksEnded}),
    [](const auto& testCase) { return std::string(testCase.param.name); });

// The directory of input and output is moved away in the middle of the run,
// as a user tidying up might: the output cannot be put in place, and the
// unfinished file must not stay behind in the directory's new place.
TEST(SystemFault, OutputDirectoryMovedAwayMidRun) {
    TempDir dir;
    fs::create_directory(dir / "sub");
    const auto input = longSilentAcm();
    writeFileBytes(dir / "sub" / "in.acm", input);
    writeFileBytes(dir / "sub" / "in.wav", kOldOutput);

    const ProgramResult result = runProgram(
        {"sub/in.acm"}, dir.path(),
        withFaults({"TALVECO_FAULT_ACTION_AT=100000", "TALVECO_FAULT_ACTION=move:sub:gone"}));
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_TRUE(isFailedTranscript(result.output, " Converting sub/in.acm to sub/in.wav",
                                   kAllMarksEnded, "Invalid filename"))
        << result.output;
    EXPECT_EQ(directoryEntries(dir.path()), (std::vector<std::string>{"gone"}));
    EXPECT_EQ(directoryEntries(dir / "gone"), (std::vector<std::string>{"in.acm", "in.wav"}));
    EXPECT_EQ(readFileBytes(dir / "gone" / "in.wav"), kOldOutput);
    EXPECT_EQ(readFileBytes(dir / "gone" / "in.acm"), input);
}

// The output directory is made read-only while the program writes into it:
// the output cannot be put in place, and the existing file is kept. The
// unfinished file cannot be removed from a read-only directory either, by
// this program or any other without the right to change the directory; it
// is the one thing such a run leaves behind.
TEST(SystemFault, OutputDirectoryMadeReadOnlyMidRun) {
    TempDir dir;
    fs::permissions(dir.path(), fs::perms::all);
    fs::create_directory(dir / "sub");
    const auto input = longSilentAcm();
    writeFileBytes(dir / "sub" / "in.acm", input);
    writeFileBytes(dir / "sub" / "in.wav", kOldOutput);
    // Both belong to the user, so only the lock mid-run stands in the way.
    ASSERT_EQ(::chown((dir / "sub").c_str(), kNobody, kNobody), 0);
    ASSERT_EQ(::chown((dir / "sub" / "in.wav").c_str(), kNobody, kNobody), 0);

    const ProgramResult result =
        runProgram({"sub/in.acm"}, dir.path(),
                   withFaults({"TALVECO_FAULT_ACTION_AT=100000", "TALVECO_FAULT_ACTION=lock:sub"},
                              RunOptions::asNobody()));
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_TRUE(isFailedTranscript(result.output, " Converting sub/in.acm to sub/in.wav",
                                   kAllMarksEnded, "File access denied"))
        << result.output;
    auto entries = directoryEntries(dir / "sub");
    std::erase_if(entries, [](const std::string& name) { return name.ends_with(".tmp"); });
    EXPECT_EQ(entries, (std::vector<std::string>{"in.acm", "in.wav"}));
    EXPECT_EQ(readFileBytes(dir / "sub" / "in.wav"), kOldOutput);
    EXPECT_EQ(readFileBytes(dir / "sub" / "in.acm"), input);
}

// A program started with standard input and output closed must not let its
// files take their descriptor numbers: its progress would go into the WAV
// file.
TEST(SystemFault, ClosedStandardStreamsLeaveTheOutputClean) {
    TempDir dir;
    writeFileBytes(dir / "a.acm", testing::acmHeaderBytes(1000, 3, 5));
    const ProgramResult result =
        runProgram({"a.acm"}, dir.path(), RunOptions::withoutStandardStreams());
    EXPECT_EQ(result.exitStatus, 0);
    const auto wav = readFileBytes(dir / "a.wav");
    ASSERT_EQ(wav.size(), 44u + 2000u + 72u + 5u);
    EXPECT_TRUE(std::all_of(wav.begin() + 44, wav.begin() + 44 + 2000,
                            [](std::uint8_t b) { return b == 0; }));
    EXPECT_EQ(std::string(wav.begin() + 2044, wav.begin() + 2048), "LIST");
    EXPECT_EQ(testing::independentReadersComplaints(dir / "a.wav", {2, 2000, 5}), "");
}

}  // namespace
}  // namespace talveco
