// talveco-encode with several files coded at once (-j): what a run writes and says must not
// depend on how many jobs it had.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <limits>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "app/encode/SoundFileReader.h"
#include "tests/encode_app/SoundFiles.h"
#include "tests/support/ProgramRunner.h"
#include "tests/support/TempDir.h"

namespace talveco {
namespace {

namespace fs = std::filesystem;
using testing::ProgramResult;
using testing::readFileBytes;
using testing::TempDir;
using testing::testSignal;

constexpr int kRate = 22050;
constexpr int kFiles = 7;
constexpr int kBroken = 3;   // not a sound file
constexpr int kClipped = 5;  // floats beyond full scale and one NaN: two warnings after its summary

std::string inputName(int i) {
    return "f" + std::to_string(i) + ".wav";
}

std::vector<std::string> folderEntries(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// The first file is by far the longest, so that with two jobs or more the files after it are
// done first: their messages must wait for its own.
void writeInputs(const fs::path& dir) {
    for (int i = 0; i < kFiles; ++i) {
        const fs::path path = dir / inputName(i);
        const std::size_t frames = i == 0 ? 20 * kRate : 3000 + 700 * static_cast<std::size_t>(i);
        const unsigned channels = 1 + i % 2;
        if (i == kBroken) {
            testing::writeFileBytes(path, {'n', 'o', 't', ' ', 'a', 'u', 'd', 'i', 'o'});
        } else if (i == kClipped) {
            std::vector<float> values(frames * channels, 0.25f);
            for (std::size_t k = 100; k < values.size(); k += 500)
                values[k] = 1.5f;
            values[50] = std::numeric_limits<float>::quiet_NaN();
            testing::writeSoundFile(path, SF_FORMAT_WAV | SF_FORMAT_FLOAT,
                                    static_cast<int>(channels), kRate, values);
        } else {
            testing::writeWav16(path, static_cast<int>(channels), kRate,
                                testSignal(frames, channels, static_cast<std::uint32_t>(i)));
        }
    }
}

// The run's messages with its output folder's name made neutral.
std::string neutralMessages(std::string messages, const std::string& folder) {
    for (std::size_t at; (at = messages.find(folder + "/")) != std::string::npos;)
        messages.replace(at, folder.size(), "OUT");
    return messages;
}

// Every file is tried and reported in input order, a failing one among them, and the streams
// and messages are those of one job, whatever the number of jobs (the default included).
TEST(EncodeJobs, SeveralFilesGiveTheSameStreamsAndMessagesForAnyNumberOfJobs) {
    TempDir dir;
    writeInputs(dir.path());
    const std::vector<std::vector<std::string>> jobOptions = {
        {"-j1"}, {"-j", "2"}, {"--jobs=5"}, {}};
    std::string oneJobMessages;
    for (std::size_t run = 0; run < jobOptions.size(); ++run) {
        const std::string folder = "out" + std::to_string(run);
        std::vector<std::string> arguments = jobOptions[run];
        arguments.insert(arguments.end(), {"-q", "4", "-d", folder});
        for (int i = 0; i < kFiles; ++i)
            arguments.push_back(inputName(i));
        testing::RunOptions options;
        options.program = TALVECO_ENCODE_BINARY;
        const ProgramResult result = testing::runProgram(arguments, dir.path(), options);
        const std::string label = "run " + std::to_string(run);
        EXPECT_EQ(result.exitStatus, 1) << label;
        const std::string messages = neutralMessages(result.errors, folder);
        if (run == 0) oneJobMessages = messages;
        EXPECT_EQ(messages, oneJobMessages) << label;
        for (int i = 0; i < kFiles; ++i) {
            const fs::path stream = dir / folder / ("f" + std::to_string(i) + ".acm");
            EXPECT_EQ(fs::exists(stream), i != kBroken) << label << " " << stream;
            if (run > 0 && i != kBroken) {
                EXPECT_EQ(readFileBytes(stream),
                          readFileBytes(dir / "out0" / ("f" + std::to_string(i) + ".acm")))
                    << label << " " << stream;
            }
        }
        EXPECT_EQ(folderEntries(dir / folder).size(), static_cast<std::size_t>(kFiles - 1))
            << label;
    }
    // One job's transcript is itself in input order: a summary per good file, the failure in
    // its place, the clipped file's two warnings (it clips, and has a NaN) right after its
    // file's summary.
    std::vector<std::string> lines;
    for (std::size_t from = 0, end; (end = oneJobMessages.find('\n', from)) != std::string::npos;
         from = end + 1)
        lines.push_back(oneJobMessages.substr(from, end - from));
    ASSERT_EQ(lines.size(), static_cast<std::size_t>(kFiles + 2)) << oneJobMessages;
    const std::vector<std::string> starts = {
        "f0.wav -> OUT/f0.acm: 20.00 s, mono",
        "f1.wav -> OUT/f1.acm: ",
        "f2.wav -> OUT/f2.acm: ",
        "talveco-encode: f3.wav: ",
        "f4.wav -> OUT/f4.acm: ",
        "f5.wav -> OUT/f5.acm: ",
        "talveco-encode: f5.wav: warning: 26 samples beyond",
        "talveco-encode: f5.wav: warning: 1 samples were not numbers",
        "f6.wav -> OUT/f6.acm: "};
    for (std::size_t i = 0; i < lines.size(); ++i)
        EXPECT_EQ(lines[i].rfind(starts[i], 0), 0U) << lines[i];
}

// libsndfile keeps the reason an open failed in one variable for the whole process: a file
// that is no sound must be refused for its own reason while other jobs open good files.
TEST(EncodeJobs, AFileThatIsNoSoundKeepsItsReasonWhileOthersOpen) {
    TempDir dir;
    testing::writeWav16(dir / "good.wav", 1, kRate, testSignal(64, 1, 1));
    testing::writeFileBytes(dir / "bad.wav", {'n', 'o', 't', ' ', 'a', 'u', 'd', 'i', 'o'});
    constexpr int kOpens = 400;
    for (int i = 0; i < 5; ++i)
        SoundFileReader good((dir / "good.wav").string());
    std::atomic<bool> refusing{true};
    std::thread opener([&] {
        while (refusing)
            SoundFileReader good((dir / "good.wav").string());
    });
    std::vector<std::string> reasons;
    for (int i = 0; i < kOpens; ++i) {
        try {
            SoundFileReader bad((dir / "bad.wav").string());
        } catch (const InputRefused& refused) {
            reasons.emplace_back(refused.what());
        }
    }
    refusing = false;
    opener.join();
    ASSERT_EQ(reasons.size(), static_cast<std::size_t>(kOpens));
    const std::string expected = "not a readable audio file (Format not recognised.)";
    EXPECT_EQ(std::count(reasons.begin(), reasons.end(), expected), kOpens);
}

// -j takes what talveco-decode's does: a whole number from 1 to what the interrupt clean-up
// can follow. Anything else is refused before any file is read.
TEST(EncodeJobs, BadJobCountsAreRefusedBeforeAnyWork) {
    TempDir dir;
    testing::writeWav16(dir / "a.wav", 1, kRate, testSignal(4000, 1, 1));
    const std::string range = " wants a whole number from 1 to 1024, not '";
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"-j0", "a.wav"}, "-j" + range + "0'"},
        {{"-j", "1025", "a.wav"}, "-j" + range + "1025'"},
        {{"--jobs=two", "a.wav"}, "--jobs" + range + "two'"},
        {{"-j", "-1", "a.wav"}, "-j" + range + "-1'"},
        {{"--jobs", "", "a.wav"}, "--jobs" + range + "'"},
        {{"a.wav", "-j"}, "-j needs a value"}};
    for (const auto& [arguments, problem] : cases) {
        testing::RunOptions options;
        options.program = TALVECO_ENCODE_BINARY;
        const ProgramResult result = testing::runProgram(arguments, dir.path(), options);
        EXPECT_EQ(result.exitStatus, 2) << problem;
        EXPECT_EQ(result.errors, "talveco-encode: " + problem + "\nTry 'talveco-encode --help'.\n");
        EXPECT_EQ(folderEntries(dir.path()), std::vector<std::string>{"a.wav"});
    }
    testing::RunOptions options;
    options.program = TALVECO_ENCODE_BINARY;
    const ProgramResult most = testing::runProgram({"-s", "-j1024", "a.wav"}, dir.path(), options);
    EXPECT_EQ(most.exitStatus, 0) << most.errors;
    EXPECT_EQ(folderEntries(dir.path()), (std::vector<std::string>{"a.acm", "a.wav"}));
}

}  // namespace
}  // namespace talveco
