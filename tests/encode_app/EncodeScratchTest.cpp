// Where talveco-encode keeps the data that waits for the coding: in memory, then in the
// temporary folder ($TMPDIR), never beside the output, so that the output's volume needs room
// for the output only; and what the user is told when the temporary folder cannot take it.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/encode_app/SoundFiles.h"
#include "tests/support/ProgramRunner.h"
#include "tests/support/TempDir.h"

namespace talveco {
namespace {

namespace fs = std::filesystem;
using testing::ProgramResult;
using testing::RunOptions;
using testing::TempDir;

constexpr int kRate = 22050;

std::vector<std::string> folderEntries(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

ProgramResult encode(const std::vector<std::string>& arguments, const fs::path& dir,
                     RunOptions options) {
    options.program = TALVECO_ENCODE_BINARY;
    return testing::runProgram(arguments, dir, options);
}

struct FullScratchCase {
    const char* label;
    std::vector<std::string> mode;
    std::size_t frames;
    long long roomBytes;  // what the file systems take, the output's and the scratch file's
};

class FullScratchFolder : public ::testing::TestWithParam<FullScratchCase> {};

// The scratch file running out of room is named as such, with the folder it is in and what to
// do, and not taken for a failure of the output; nothing is left in either folder. With -q the
// input fills it (2 bytes a value), with -b the analysis after it (4 more).
TEST_P(FullScratchFolder, NamesTheScratchFileAndTemporaryFolder) {
    const FullScratchCase& c = GetParam();
    TempDir dir;
    fs::create_directory(dir / "out");
    fs::create_directory(dir / "tmp");
    testing::writeWav16(dir / "long.wav", 1, kRate, testing::testSignal(c.frames, 1, 4));
    std::vector<std::string> arguments = c.mode;
    arguments.insert(arguments.end(), {"-o", "out/long.acm", "long.wav"});
    const ProgramResult result =
        encode(arguments, dir.path(),
               testing::withFaults({"TALVECO_FAULT_WRITE_FAIL_AT=" + std::to_string(c.roomBytes),
                                    "TMPDIR=" + (dir / "tmp").string()}));
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(result.errors, "talveco-encode: long.wav: the scratch file in " +
                                 (dir / "tmp").string() +
                                 ": Disk full; set TMPDIR to a folder with room\n");
    EXPECT_EQ(folderEntries(dir / "out"), std::vector<std::string>{});
    EXPECT_EQ(folderEntries(dir / "tmp"), std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(
    Modes, FullScratchFolder,
    ::testing::Values(FullScratchCase{"Quality", {"-q", "5"}, 1000000, 1500000},
                      FullScratchCase{"Bitrate", {"-b", "44.1"}, 600000, 1300000}),
    [](const auto& test) { return std::string(test.param.label); });

// A long input's scratch data goes to $TMPDIR, not beside the output: with a $TMPDIR that does
// not exist a short input still waits in memory, and a long one fails with the reason, naming
// the folder and TMPDIR, its output neither written nor begun.
TEST(EncodeScratch, MissingTemporaryFolderStopsOnlyWhatCannotWaitInMemory) {
    TempDir dir;
    fs::create_directory(dir / "out");
    testing::writeWav16(dir / "short.wav", 1, kRate, testing::testSignal(20000, 1, 7));
    testing::writeWav16(dir / "long.wav", 1, kRate, testing::testSignal(600000, 1, 7));
    RunOptions options;
    options.environment = {"TMPDIR=" + (dir / "gone").string()};
    const ProgramResult result =
        encode({"-s", "-j1", "-d", "out", "short.wav", "long.wav"}, dir.path(), options);
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(result.errors,
              "talveco-encode: long.wav: no scratch file could be made in " +
                  (dir / "gone").string() +
                  " (No such file or directory); set TMPDIR to a folder with room\n");
    EXPECT_EQ(folderEntries(dir / "out"), std::vector<std::string>{"short.acm"});
    EXPECT_FALSE(fs::exists(dir / "gone"));
}

}  // namespace
}  // namespace talveco
