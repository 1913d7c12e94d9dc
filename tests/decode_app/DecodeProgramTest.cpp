// talveco-decode run as a user runs it: in a directory of its own, checking its messages, exit
// status and the files it leaves, and what it writes against the library's samples.
#include <fcntl.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <thread>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>

#include "talveco/talveco.h"
#include "tests/decode_app/DecodedSounds.h"
#include "tests/encode_app/SoundFiles.h"
#include "tests/support/ProgramRunner.h"
#include "tests/support/RandomStreams.h"
#include "tests/support/TempDir.h"

namespace talveco {
namespace {

namespace fs = std::filesystem;
using testing::ProgramResult;
using testing::readFileBytes;
using testing::RunOptions;
using testing::TempDir;
using testing::testSignal;
using testing::writeFileBytes;

using testing::caseLabel;
using testing::directoryEntries;
using testing::libraryDecode;
using testing::readSound;
using testing::Sound;

class DecodeProgram : public testing::DecodeProgramTest {};

// ---- round trips ------------------------------------------------------------------------

struct RoundTripCase {
    const char* label;
    unsigned channels;
    int rate;
};

class DecodeRoundTrip : public DecodeProgram,
                        public ::testing::WithParamInterface<RoundTripCase> {};

// talveco-encode, then talveco-decode: the WAV has the input's channels, rate and length, and
// holds exactly the samples the library decodes.
TEST_P(DecodeRoundTrip, GivesBackTheInputsShapeAndTheLibrarysSamples) {
    const RoundTripCase& c = GetParam();
    const auto samples = testSignal(5001, c.channels, 4);
    testing::writeWav16(dir / "in.wav", static_cast<int>(c.channels), c.rate, samples);
    RunOptions encoder;
    encoder.program = TALVECO_ENCODE_BINARY;
    ProgramResult result =
        testing::runProgram({"-s", "-o", "clip.acm", "in.wav"}, dir.path(), encoder);
    ASSERT_EQ(result.exitStatus, 0) << result.errors;

    result = decode({"clip.acm"});
    ASSERT_EQ(result.exitStatus, 0) << result.errors;
    EXPECT_EQ(result.errors.rfind("clip.acm -> clip.wav: 0.", 0), 0U) << result.errors;
    const Sound sound = readSound(dir / "clip.wav");
    EXPECT_EQ(sound.channels, static_cast<int>(c.channels));
    EXPECT_EQ(sound.rate, c.rate);
    EXPECT_EQ(sound.samples.size(), samples.size());
    EXPECT_EQ(sound.samples, libraryDecode(dir / "clip.acm"));
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, DecodeRoundTrip,
    ::testing::Values(RoundTripCase{"Mono8k", 1, 8000}, RoundTripCase{"Mono22k", 1, 22050},
                      RoundTripCase{"Mono44k", 1, 44100}, RoundTripCase{"Mono48k", 1, 48000},
                      RoundTripCase{"Stereo8k", 2, 8000}, RoundTripCase{"Stereo22k", 2, 22050},
                      RoundTripCase{"Stereo44k", 2, 44100}, RoundTripCase{"Stereo48k", 2, 48000}),
    caseLabel<RoundTripCase>);

// ---- output formats ---------------------------------------------------------------------

struct FormatCase {
    const char* label;
    std::vector<std::string> arguments;  // before the input, s.acm
    const char* output;
    bool lossless;
};

class DecodeFormat : public DecodeProgram, public ::testing::WithParamInterface<FormatCase> {};

TEST_P(DecodeFormat, ReadsBackAsTheLibrarysSamples) {
    const FormatCase& c = GetParam();
    writeAcm("s.acm");
    std::vector<std::string> arguments = c.arguments;
    arguments.push_back("s.acm");
    const ProgramResult result = decode(arguments);
    ASSERT_EQ(result.exitStatus, 0) << result.errors;
    const Sound sound = readSound(dir / c.output);
    const auto expected = libraryDecode(dir / "s.acm");
    EXPECT_EQ(sound.channels, 2);
    EXPECT_EQ(sound.rate, 22050);
    EXPECT_EQ(sound.samples.size(), expected.size());
    if (c.lossless) {
        EXPECT_EQ(sound.samples, expected);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Formats, DecodeFormat,
    ::testing::Values(FormatCase{"Wav", {}, "s.wav", true},
                      FormatCase{"FlacByOption", {"--format=flac"}, "s.flac", true},
                      FormatCase{"AiffByName", {"-o", "x.AIF"}, "x.AIF", true},
                      FormatCase{"W64", {"--format", "w64"}, "s.w64", true},
                      FormatCase{"Caf", {"--format=caf"}, "s.caf", true},
                      FormatCase{"Raw", {"--format=raw"}, "s.raw", true},
                      FormatCase{"OggVorbis", {"-o", "s.ogg"}, "s.ogg", false}),
    caseLabel<FormatCase>);

// ---- standard input and output ----------------------------------------------------------

// Into a pipe the WAV header cannot be corrected afterwards, so it states an unknown length;
// into a file it states the real one.
TEST_F(DecodeProgram, StandardInputAndOutput) {
    writeAcm("s.acm", 1, 11025, 4000);
    const auto expected = libraryDecode(dir / "s.acm");
    RunOptions fromStdin;
    fromStdin.standardInput = dir / "s.acm";

    ProgramResult result = decode({"-"}, fromStdin);
    ASSERT_EQ(result.exitStatus, 0) << result.errors;
    EXPECT_EQ(result.errors, "stdin -> stdout: 0.36 s, mono, 11025 Hz\n");
    writeFileBytes(dir / "piped.wav", {result.output.begin(), result.output.end()});
    const auto piped = readFileBytes(dir / "piped.wav");
    ASSERT_GE(piped.size(), 44U);
    EXPECT_EQ(std::vector<std::uint8_t>(piped.begin() + 40, piped.begin() + 44),
              std::vector<std::uint8_t>(4, 0xFF));
    EXPECT_EQ(testing::wavDataSamples(dir / "piped.wav"), expected);

    RunOptions toFile;
    toFile.standardOutputFile = dir / "file.wav";
    result = decode({"-c", "s.acm"}, toFile);
    ASSERT_EQ(result.exitStatus, 0) << result.errors;
    const auto inFile = readFileBytes(dir / "file.wav");
    ASSERT_GE(inFile.size(), 44U);
    EXPECT_EQ(inFile[40] | inFile[41] << 8 | inFile[42] << 16 | inFile[43] << 24,
              static_cast<int>(inFile.size() - 44));
    EXPECT_EQ(readSound(dir / "file.wav").samples, expected);

    result = decode({"-s", "--output=in.flac", "-"}, fromStdin);
    ASSERT_EQ(result.exitStatus, 0) << result.errors;
    EXPECT_EQ(readSound(dir / "in.flac").samples, expected);
}

// Standard input is read as it is: a socket (from a program that serves the stream) cannot
// be opened again by name, as a file or pipe can.
TEST_F(DecodeProgram, StandardInputMayBeASocket) {
    writeAcm("s.acm", 2, 22050, 3000);
    RunOptions fromSocket;
    fromSocket.standardInputSocket = readFileBytes(dir / "s.acm");
    const ProgramResult result = decode({"-s", "-o", "out.wav", "-"}, fromSocket);
    ASSERT_EQ(result.exitStatus, 0) << result.errors;
    EXPECT_EQ(readSound(dir / "out.wav").samples, libraryDecode(dir / "s.acm"));

    fromSocket.standardInputSocket = readFileBytes(dir / "s.acm");
    const ProgramResult info = decode({"--info", "-"}, fromSocket);
    ASSERT_EQ(info.exitStatus, 0) << info.errors;
    EXPECT_NE(info.output.find(std::to_string(fs::file_size(dir / "s.acm")) + " bytes"),
              std::string::npos)
        << info.output;
}

// A reader that went away (`| head -c 10`) is named as such, by both programs, not by the
// system's error number.
TEST_F(DecodeProgram, ClosedStandardOutputIsNamed) {
    writeAcm("s.acm");
    testing::writeWav16(dir / "in.wav", 1, 22050, testSignal(3000, 1, 2));
    RunOptions encoder = RunOptions::closedStdout();
    encoder.program = TALVECO_ENCODE_BINARY;
    const ProgramResult runs[] = {
        decode({"-c", "s.acm"}, RunOptions::closedStdout()),
        testing::runProgram({"-c", "in.wav"}, dir.path(), encoder),
    };
    for (const ProgramResult& result : runs) {
        EXPECT_EQ(result.exitStatus, 1) << result.errors;
        EXPECT_NE(result.errors.find(": standard output was closed\n"), std::string::npos)
            << result.errors;
        EXPECT_EQ(result.errors.find("I/O error"), std::string::npos) << result.errors;
    }
}

// The null device is written to directly, in every format: a temporary file renamed over
// it would replace the device itself.
TEST_F(DecodeProgram, NullDeviceIsWrittenDirectly) {
    writeAcm("s.acm");
    for (const char* format : {"wav", "flac"}) {
        const ProgramResult result =
            decode({std::string("--format=") + format, "-o", "/dev/null", "s.acm"});
        EXPECT_EQ(result.exitStatus, 0) << result.errors;
        EXPECT_EQ(result.errors, "s.acm -> /dev/null: 0.14 s, stereo, 22050 Hz\n");
    }
    struct stat info {};
    ASSERT_EQ(::stat("/dev/null", &info), 0);
    EXPECT_TRUE(S_ISCHR(info.st_mode));
    EXPECT_EQ(directoryEntries(dir.path()), std::vector<std::string>{"s.acm"});
    for (const auto& entry : fs::directory_iterator("/dev"))
        EXPECT_FALSE(entry.path().filename().string().starts_with(".talveco-")) << entry.path();
}

// ---- outputs that must not be replaced, inputs that cannot be decoded -------------------

struct RefusalCase {
    const char* label;
    std::function<void(const fs::path&)> setUp;  // s.acm is there already
    std::vector<std::string> arguments;
    const char* message;
    bool asNobody = false;  // run without root's rights, so that permissions apply
};

class DecodeRefusal : public DecodeProgram, public ::testing::WithParamInterface<RefusalCase> {};

// A clear message naming the file, exit status 1, and every file as it was.
TEST_P(DecodeRefusal, NamesTheFileAndChangesNothing) {
    writeAcm("s.acm");
    GetParam().setUp(dir.path());
    std::map<std::string, std::vector<std::uint8_t>> before;
    for (const std::string& name : directoryEntries(dir.path())) {
        if (fs::is_regular_file(dir / name)) before[name] = readFileBytes(dir / name);
    }

    const ProgramResult result =
        decode(GetParam().arguments, GetParam().asNobody ? RunOptions::asNobody() : RunOptions{});
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_NE(result.errors.find(GetParam().message), std::string::npos) << result.errors;
    std::map<std::string, std::vector<std::uint8_t>> after;
    for (const std::string& name : directoryEntries(dir.path())) {
        if (fs::is_regular_file(dir / name)) after[name] = readFileBytes(dir / name);
    }
    EXPECT_EQ(after, before);
}

// A header of `channels` and `rate` announcing no samples.
std::function<void(const fs::path&)> headerOnly(std::uint16_t channels, std::uint16_t rate) {
    return [=](const fs::path& d) {
        writeFileBytes(d / "h.acm", testing::acmHeaderBytes(0, 0, 1, channels, rate));
    };
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DecodeRefusal,
    ::testing::Values(
        RefusalCase{"ExistingOutput",
                    [](const fs::path& d) { writeFileBytes(d / "s.wav", {1}); },
                    {"s.acm"},
                    "talveco-decode: s.acm: the output s.wav exists (-f replaces it)"},
        RefusalCase{"DanglingSymlink",
                    [](const fs::path& d) { fs::create_symlink("gone.wav", d / "s.wav"); },
                    {"s.acm"},
                    "talveco-decode: s.acm: the output s.wav exists (-f replaces it)"},
        RefusalCase{"MissingFolder",
                    [](const fs::path&) {},
                    {"-o", "none/sub/x.wav", "s.acm"},
                    "talveco-decode: s.acm: the folder none/sub does not exist"},
        RefusalCase{
            "FileAsFolder",
            [](const fs::path&) {},
            {"-o", "s.acm/x.wav", "s.acm"},
            "talveco-decode: s.acm: the output s.acm/x.wav is in s.acm, which is no folder"},
        RefusalCase{"DirectoryAsOutput",
                    [](const fs::path& d) { fs::create_directory(d / "out.wav"); },
                    {"-f", "-o", "out.wav", "s.acm"},
                    "talveco-decode: s.acm: the output out.wav is a directory"},
        RefusalCase{"DirectoryAsInput",
                    [](const fs::path& d) { fs::create_directory(d / "d.acm"); },
                    {"d.acm"},
                    "talveco-decode: d.acm: d.acm is a directory, not a file"},
        RefusalCase{"InputItself",
                    [](const fs::path&) {},
                    {"-f", "-o", "s.acm", "s.acm"},
                    "the output s.acm is the input itself"},
        RefusalCase{"InputThroughSymlink",
                    [](const fs::path& d) { fs::create_symlink("s.acm", d / "s.wav"); },
                    {"-f", "s.acm"},
                    "the output s.wav is the input itself"},
        RefusalCase{"InputThroughHardLink",
                    [](const fs::path& d) { fs::create_hard_link(d / "s.acm", d / "s.wav"); },
                    {"-f", "s.acm"},
                    "the output s.wav is the input itself"},
        RefusalCase{"UnwritableOutput",
                    [](const fs::path& d) {
                        writeFileBytes(d / "s.wav", {1});
                        fs::permissions(d / "s.wav", fs::perms::owner_read | fs::perms::group_read |
                                                         fs::perms::others_read);
                        fs::permissions(d, fs::perms::all);
                    },
                    {"-f", "s.acm"},
                    "s.acm: writing s.wav: File access denied",
                    true},
        RefusalCase{"Fifo",
                    [](const fs::path& d) { ASSERT_EQ(::mkfifo((d / "p.wav").c_str(), 0600), 0); },
                    {"-f", "-o", "p.wav", "s.acm"},
                    "the output p.wav is not a regular file; not replaced"},
        RefusalCase{"NotAcm",
                    [](const fs::path& d) {
                        writeFileBytes(d / "n.acm", {'R', 'I'});
                    },
                    {"n.acm"},
                    "talveco-decode: n.acm: File does not appear to be a valid ACM file"},
        RefusalCase{"RateZero",
                    headerOnly(1, 0),
                    {"h.acm"},
                    "h.acm: the header states a rate of 0 Hz; --rate HZ sets the right one"},
        RefusalCase{"FiveChannels",
                    headerOnly(5, 8000),
                    {"h.acm"},
                    "h.acm: the header states 5 channels; only mono and stereo"}),
    caseLabel<RefusalCase>);

// ---- outputs that clash within the run ---------------------------------------------------

struct ClashCase {
    const char* label;
    std::vector<std::string> arguments;
    const char* message;
};

class DecodeClash : public DecodeProgram, public ::testing::WithParamInterface<ClashCase> {};

// The run is refused before any work: exit status 2, both inputs named, no file written and
// no -d folder made. Decoding the first and failing the second would leave a run half done
// that the user cannot repeat as it was.
TEST_P(DecodeClash, RefusesTheRunBeforeAnyWork) {
    fs::create_directories(dir / "a");
    fs::create_directories(dir / "b");
    writeAcm("a/x.acm");
    writeAcm("b/x.acm");
    writeAcm("s.acm");
    writeAcm("t.acm");
    writeAcm("t.wav");  // an ACM stream under another extension, the output of t.acm
    fs::create_directory_symlink(".", dir / "here");
    const auto before = directoryEntries(dir.path());
    const ProgramResult result = decode(GetParam().arguments);
    EXPECT_EQ(result.exitStatus, 2);
    EXPECT_EQ(result.errors.rfind(std::string("talveco-decode: ") + GetParam().message, 0), 0U)
        << result.errors;
    EXPECT_EQ(directoryEntries(dir.path()), before);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DecodeClash,
    ::testing::Values(ClashCase{"SameNameInTwoFolders",
                                {"-d", "out", "a/x.acm", "b/x.acm"},
                                "a/x.acm and b/x.acm would both be written to out/x.wav"},
                      ClashCase{"OneFileSpelledTwice",
                                {"s.acm", "./s.acm"},
                                "s.acm and ./s.acm would both be written to ./s.wav"},
                      ClashCase{"OneFolderThroughALink",
                                {"-j1", "s.acm", "here/s.acm"},
                                "s.acm and here/s.acm would both be written to here/s.wav"},
                      ClashCase{"OutputIsAnotherInput",
                                {"-f", "t.acm", "t.wav"},
                                "the output t.wav of t.acm is t.wav, another input of this run"},
                      ClashCase{"OwnOutputAndAnothers",
                                {"-f", "-j1", "t.wav", "t.acm"},
                                "t.wav and t.acm would both be written to t.wav"}),
    caseLabel<ClashCase>);

TEST_F(DecodeProgram, ForceReplacesAnExistingOutputAndOverridesFixLyingHeaders) {
    writeAcm("s.acm");
    writeFileBytes(dir / "s.wav", {1});
    ProgramResult result = decode({"-fs", "s.acm"});
    EXPECT_EQ(result.exitStatus, 0) << result.errors;
    EXPECT_EQ(result.errors, "");
    EXPECT_EQ(readSound(dir / "s.wav").samples, libraryDecode(dir / "s.acm"));

    // The new file is renamed over the old one: another hard link keeps the old contents.
    fs::create_hard_link(dir / "s.wav", dir / "other.wav");
    const auto previous = readFileBytes(dir / "s.wav");
    writeAcm("s.acm", 1, 8000, 500);
    result = decode({"-fs", "s.acm"});
    EXPECT_EQ(result.exitStatus, 0) << result.errors;
    EXPECT_EQ(readFileBytes(dir / "other.wav"), previous);
    EXPECT_EQ(readSound(dir / "s.wav").samples, libraryDecode(dir / "s.acm"));

    fs::create_symlink("gone.wav", dir / "link.wav");
    result = decode({"-fs", "-o", "link.wav", "s.acm"});
    EXPECT_EQ(result.exitStatus, 0) << result.errors;
    EXPECT_FALSE(fs::is_symlink(dir / "link.wav"));
    EXPECT_EQ(readSound(dir / "link.wav").samples, libraryDecode(dir / "s.acm"));

    writeFileBytes(dir / "h.acm", testing::acmHeaderBytes(0, 0, 1, 5, 0));
    result = decode({"--rate=8000", "--channels", "1", "h.acm"});
    EXPECT_EQ(result.exitStatus, 0) << result.errors;
    EXPECT_EQ(result.errors, "h.acm -> h.wav: 0.00 s, mono, 8000 Hz\n");
    const Sound sound = readSound(dir / "h.wav");
    EXPECT_EQ(sound.channels, 1);
    EXPECT_EQ(sound.rate, 8000);
}

// -Q and --quiet silence the summary as -s does, as they do in talveco-encode; problems are
// still told.
TEST_F(DecodeProgram, QuietOptionsLeaveOnlyProblems) {
    writeAcm("s.acm");
    for (const char* quiet : {"-s", "-Q", "--quiet", "--silent"}) {
        fs::remove(dir / "s.wav");
        const ProgramResult result = decode({quiet, "s.acm"});
        EXPECT_EQ(result.exitStatus, 0) << quiet << ": " << result.errors;
        EXPECT_EQ(result.errors, "") << quiet;
        EXPECT_TRUE(fs::exists(dir / "s.wav")) << quiet;
    }
    const ProgramResult refused = decode({"-Q", "s.acm"});
    EXPECT_EQ(refused.exitStatus, 1);
    EXPECT_EQ(refused.errors, "talveco-decode: s.acm: the output s.wav exists (-f replaces it)\n");
}

// ---- damaged input ----------------------------------------------------------------------

struct DamageCase {
    const char* label;
    std::vector<std::string> arguments;  // before the input, d.acm
    const char* problem;
    bool outputKept;
};

class DecodeDamage : public DecodeProgram, public ::testing::WithParamInterface<DamageCase> {};

// Every problem is named, the run fails, and the output goes unless -F keeps it.
TEST_P(DecodeDamage, IsNamedAndFailsTheRun) {
    const DamageCase& c = GetParam();
    const bool truncated = std::string(c.label).starts_with("Truncated");
    writeFileBytes(dir / "d.acm", truncated ? testing::randomStream(200, 3, 5, 3, 3)
                                            : testing::layoutStream("gbg", 3, 5, 9));
    std::vector<std::string> arguments = c.arguments;
    arguments.push_back("d.acm");
    const ProgramResult result = decode(arguments);
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_NE(result.errors.find(std::string("talveco-decode: d.acm: ") + c.problem),
              std::string::npos)
        << result.errors;
    EXPECT_EQ(fs::exists(dir / "d.wav"), c.outputKept);
    EXPECT_EQ(directoryEntries(dir.path()).size(), c.outputKept ? 2U : 1U);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DecodeDamage,
    ::testing::Values(
        DamageCase{"Damaged", {}, "1 damaged block could not be decoded", false},
        DamageCase{"DamagedKept", {"-F"}, "1 damaged block could not be decoded", true},
        DamageCase{"TruncatedTested", {"-t"}, "truncated: the last 80 samples", false},
        DamageCase{"Truncated", {}, "d.wav removed (-F keeps what decodes)", false},
        DamageCase{"TruncatedKept", {"--decode-through-errors"}, "truncated: the last", true}),
    caseLabel<DamageCase>);

std::uint32_t littleEndian32(const std::vector<std::uint8_t>& bytes, std::size_t at) {
    return bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 |
           static_cast<std::uint32_t>(bytes[at + 3]) << 24;
}

// Blocks of 5 values (no transform levels, 5 rows) in a stereo stream: the first block ends
// inside a frame, and two damaged blocks in a row end the stream there. What -F keeps is
// whole frames, and the WAV's lengths are those of its bytes.
TEST_F(DecodeProgram, KeptDamagedStreamGivesWholeFramesAndTrueLengths) {
    writeFileBytes(dir / "d.acm", testing::layoutStream("gbbg", 0, 5, 4));
    const ProgramResult result = decode({"-F", "d.acm"});
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_NE(result.errors.find("d.acm: ends after 4 of the 10 samples announced"),
              std::string::npos)
        << result.errors;
    const auto wav = readFileBytes(dir / "d.wav");
    ASSERT_EQ(wav.size(), 44U + 4 * 2);
    EXPECT_EQ(littleEndian32(wav, 4), wav.size() - 8);
    EXPECT_EQ(littleEndian32(wav, 40), wav.size() - 44);
    const Sound sound = readSound(dir / "d.wav");
    EXPECT_EQ(sound.channels, 2);
    const auto decoded = libraryDecode(dir / "d.acm");
    ASSERT_GE(decoded.size(), 4U);
    EXPECT_EQ(sound.samples, std::vector<std::int16_t>(decoded.begin(), decoded.begin() + 4));
}

// Standard output opened to append (`>> file`) cannot go back to the header: what the file
// held stays in front, and the WAV behind it states an unknown length.
TEST_F(DecodeProgram, AppendedStandardOutputKeepsTheEarlierBytes) {
    writeFileBytes(dir / "d.acm", testing::layoutStream("gbg", 3, 5, 9));
    const std::vector<std::uint8_t> earlier{'e', 'a', 'r', 'l', 'i', 'e', 'r'};
    writeFileBytes(dir / "log.bin", earlier);
    RunOptions appending;
    appending.standardOutputFile = dir / "log.bin";
    appending.appendStandardOutput = true;
    const ProgramResult result = decode({"-c", "-F", "d.acm"}, appending);
    EXPECT_EQ(result.exitStatus, 1) << result.errors;
    const auto bytes = readFileBytes(dir / "log.bin");
    ASSERT_GE(bytes.size(), earlier.size() + 44);
    EXPECT_EQ(std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + 7), earlier);
    EXPECT_EQ(std::string(bytes.begin() + 7, bytes.begin() + 11), "RIFF");
    EXPECT_EQ(littleEndian32(bytes, 7 + 40), 0xFFFFFFFFU);
    const std::size_t samples = (bytes.size() - earlier.size() - 44) / 2;
    EXPECT_EQ(samples, libraryDecode(dir / "d.acm").size());
}

// `>> input`: the input would grow as it is read (or after, for the encoder, which reads it
// all first). Neither program writes, and the input stays as it was.
TEST_F(DecodeProgram, StandardOutputThatIsTheInputIsRefused) {
    writeAcm("s.acm");
    testing::writeWav16(dir / "in.wav", 1, 22050, testSignal(3000, 1, 2));
    RunOptions decoder;
    decoder.program = TALVECO_DECODE_BINARY;
    RunOptions encoder;
    encoder.program = TALVECO_ENCODE_BINARY;
    const std::pair<RunOptions, std::string> runs[] = {{decoder, "s.acm"}, {encoder, "in.wav"}};
    for (auto [options, input] : runs) {
        const auto before = readFileBytes(dir / input);
        options.standardOutputFile = dir / input;
        options.appendStandardOutput = true;
        const ProgramResult result = testing::runProgram({"-c", input}, dir.path(), options);
        EXPECT_EQ(result.exitStatus, 1) << input;
        EXPECT_NE(result.errors.find(input + ": standard output is the input itself"),
                  std::string::npos)
            << result.errors;
        EXPECT_EQ(readFileBytes(dir / input), before) << input;
    }
}

// ---- several files ----------------------------------------------------------------------

// Every file is tried, one line each in input order, and the outputs and messages do not
// depend on how many files are decoded at once.
TEST_F(DecodeProgram, SeveralFilesGiveTheSameOutputsAndMessagesForAnyNumberOfJobs) {
    std::vector<std::string> inputs;
    for (int i = 0; i < 7; ++i) {
        const std::string name = "f" + std::to_string(i) + ".acm";
        if (i == 3) {
            writeFileBytes(dir / name, {'n', 'o'});
        } else {
            writeAcm(name, 1 + i % 2, 22050, 2000 + 500 * static_cast<unsigned>(i), i);
        }
        inputs.push_back(name);
    }
    std::string firstMessages;
    for (const char* jobs : {"1", "2", "5"}) {
        std::vector<std::string> arguments{"-j", jobs, "-d", std::string("out") + jobs};
        arguments.insert(arguments.end(), inputs.begin(), inputs.end());
        const ProgramResult result = decode(arguments);
        EXPECT_EQ(result.exitStatus, 1);
        std::string messages = result.errors;
        for (std::size_t at; (at = messages.find(std::string("out") + jobs)) != std::string::npos;)
            messages.replace(at, 3 + std::strlen(jobs), "OUT");
        if (firstMessages.empty()) firstMessages = messages;
        EXPECT_EQ(messages, firstMessages) << "-j " << jobs;
        for (int i = 0; i < 7; ++i) {
            const std::string name = "f" + std::to_string(i) + ".wav";
            EXPECT_EQ(fs::exists(dir / (std::string("out") + jobs) / name), i != 3) << name;
            if (i != 3) {
                EXPECT_EQ(readFileBytes(dir / (std::string("out") + jobs) / name),
                          readFileBytes(dir / "out1" / name));
            }
        }
    }
    EXPECT_EQ(std::count(firstMessages.begin(), firstMessages.end(), '\n'), 7);
    EXPECT_EQ(firstMessages.substr(0, firstMessages.find('\n')),
              "f0.acm -> OUT/f0.wav: 0.09 s, mono, 22050 Hz");
    EXPECT_NE(firstMessages.find("f2.acm -> OUT/f2.wav: 0.14 s, mono, 22050 Hz\n"
                                 "talveco-decode: f3.acm: File does not appear to be a valid ACM "
                                 "file\nf4.acm -> OUT/f4.wav"),
              std::string::npos)
        << firstMessages;
}

// Two files decoded at once, each stalled inside its stream (a FIFO that has
// given only its first bytes): an interrupt removes both unfinished outputs and
// ends the program by that signal.
TEST_F(DecodeProgram, InterruptRemovesEveryUnfinishedOutput) {
    const auto samples = testSignal(40000, 1, 6);
    const auto bytes = testing::encodeWithLibrary(samples, 1, 22050, {}).bytes;
    ASSERT_GT(bytes.size(), 8192U);
    std::vector<int> writers;
    for (const char* name : {"a.acm", "b.acm"}) {
        ASSERT_EQ(::mkfifo((dir / name).c_str(), 0600), 0);
        // Held open for writing, so that the program's reads wait instead of ending.
        writers.push_back(::open((dir / name).c_str(), O_RDWR));
        ASSERT_GE(writers.back(), 0);
        ASSERT_EQ(::write(writers.back(), bytes.data(), 4096), 4096);
    }
    RunOptions options;
    options.whileRunning = [this, &writers](pid_t program) {
        // Both temporary files exist once both streams wait for more bytes.
        for (int tries = 0; tries < 1000; ++tries) {
            const auto entries = directoryEntries(dir / "out");
            if (std::count_if(entries.begin(), entries.end(), [](const std::string& name) {
                    return name.ends_with(".tmp");
                }) == 2) {
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        ::kill(program, SIGINT);
        // Should the signal not end it, the streams end and so does the run.
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        for (const int fd : writers)
            ::close(fd);
    };
    fs::create_directory(dir / "out");
    const ProgramResult result = decode({"-j", "2", "-d", "out", "a.acm", "b.acm"}, options);
    EXPECT_EQ(result.terminatingSignal, SIGINT) << result.errors;
    EXPECT_EQ(directoryEntries(dir / "out"), std::vector<std::string>{});
}

// A run interrupted before it wrote anything takes back the -d folders it made, and only
// those: the folder that was there before stays. Both programs, each stalled reading a FIFO
// that has given nothing yet.
TEST_F(DecodeProgram, InterruptBeforeAnyOutputRemovesTheFoldersItMade) {
    for (const char* program : {TALVECO_DECODE_BINARY, TALVECO_ENCODE_BINARY}) {
        fs::remove_all(dir / "old");
        fs::create_directory(dir / "old");
        const fs::path input = dir / "in.acm";
        fs::remove(input);
        ASSERT_EQ(::mkfifo(input.c_str(), 0600), 0);
        const int writer = ::open(input.c_str(), O_RDWR);  // the reads wait instead of ending
        ASSERT_GE(writer, 0);
        RunOptions options;
        options.program = program;
        options.whileRunning = [&](pid_t running) {
            for (int tries = 0; tries < 1000 && !fs::exists(dir / "old/new/deeper"); ++tries)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            ::kill(running, SIGINT);
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            ::close(writer);  // should the signal not end it, the input ends
        };
        const ProgramResult result =
            testing::runProgram({"-d", "old/new/deeper", "in.acm"}, dir.path(), options);
        EXPECT_EQ(result.terminatingSignal, SIGINT) << program << ": " << result.errors;
        EXPECT_TRUE(fs::is_directory(dir / "old")) << program;
        EXPECT_FALSE(fs::exists(dir / "old/new")) << program;
    }
}

// A stereo header with an odd sample count: whole frames only, and a note.
TEST_F(DecodeProgram, OddStereoSampleCountLosesTheLastHalfFrame) {
    const auto samples = testSignal(2001, 1, 2);
    std::vector<std::uint8_t> bytes = testing::encodeWithLibrary(samples, 1, 22050, {}).bytes;
    bytes[8] = 2;  // the channel count: now stereo, with 2001 samples announced
    writeFileBytes(dir / "odd.acm", bytes);
    const ProgramResult result = decode({"odd.acm"});
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.errors,
              "talveco-decode: odd.acm: note: the header announces 2001 samples, not whole stereo "
              "frames; the last half frame is dropped\n"
              "odd.acm -> odd.wav: 0.05 s, stereo, 22050 Hz, last half frame dropped\n");
    auto expected = libraryDecode(dir / "odd.acm");
    expected.pop_back();
    EXPECT_EQ(readSound(dir / "odd.wav").samples, expected);
}

TEST_F(DecodeProgram, InfoAndTestWriteNothing) {
    writeAcm("s.acm", 2, 44100, 4410);
    ProgramResult result = decode({"--info", "s.acm"});
    EXPECT_EQ(result.exitStatus, 0);
    const auto size = fs::file_size(dir / "s.acm");
    const std::string prefix = "s.acm: stereo, 44100 Hz, 8820 samples, 0.10 s, ";
    EXPECT_EQ(result.output.rfind(prefix, 0), 0U) << result.output;
    EXPECT_NE(result.output.find(" rows, " + std::to_string(size) + " bytes, "), std::string::npos)
        << result.output;
    result = decode({"-t", "s.acm"});
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.errors, "s.acm: 0.10 s, stereo, 44100 Hz, ok\n");
    EXPECT_EQ(directoryEntries(dir.path()), std::vector<std::string>{"s.acm"});
}

// The largest header fields: the frame rate (65535 x 65535) does not fit an int, and the
// duration of the most samples the decoder takes is a quarter of a second.
TEST_F(DecodeProgram, InfoOfTheLargestHeaderStatesItsDuration) {
    writeFileBytes(dir / "h.acm", testing::acmHeaderBytes(limits::maxSamples, 3, 16, 65535, 65535));
    const ProgramResult result = decode({"--info", "h.acm"});
    EXPECT_EQ(result.exitStatus, 0) << result.errors;
    EXPECT_EQ(result.output,
              "h.acm: 65535 channels, 65535 Hz, 1073741823 samples, 0.25 s, 3 levels, 16 rows, "
              "14 bytes, 0.00 bits/sample\n");
}

// ---- the command line -------------------------------------------------------------------

TEST_F(DecodeProgram, BadCommandLinesExitWithTwoAndWriteNothing) {
    writeAcm("a.acm");
    writeAcm("b.acm");
    const std::pair<std::vector<std::string>, const char*> cases[] = {
        {{}, "no input file"},
        {{"-x", "a.acm"}, "unknown option '-x'"},
        {{"-o", "x.wav", "a.acm", "b.acm"}, "-o names the output of a single input file"},
        {{"-c", "a.acm", "b.acm"}, "-c names the output of a single input file"},
        {{"--format=m4a", "a.acm"}, "--format wants one of wav, flac"},
        {{"-j0", "a.acm"}, "-j wants a whole number from 1"},
        {{"--channels=3", "a.acm"}, "--channels wants a whole number from 1 to 2"},
        {{"-d", "out", "-"}, "standard input has no name"},
        {{"--info", "-t", "a.acm"}, "--info and --test exclude each other"},
        {{"-c", "-o", "x.wav", "a.acm"}, "-c and -o exclude each other"},
        {{"--output=x.wav", "--stdout", "a.acm"}, "--stdout and --output exclude each other"},
        {{"-", "-"}, "standard input can be read only once"},
        {{"--=1", "a.acm"}, "unknown option '--=1'"},
        {{"--rate", "0", "a.acm"}, "--rate wants a whole number from 1 to 65535, not '0'"},
    };
    for (const auto& [arguments, message] : cases) {
        const ProgramResult result = decode(arguments);
        EXPECT_EQ(result.exitStatus, 2) << message;
        EXPECT_EQ(result.errors.rfind(std::string("talveco-decode: ") + message, 0), 0U)
            << result.errors;
    }
    EXPECT_EQ(directoryEntries(dir.path()), (std::vector<std::string>{"a.acm", "b.acm"}));
    const ProgramResult help = decode({"-hV"});
    EXPECT_EQ(help.exitStatus, 0);
    EXPECT_EQ(help.output.rfind("Usage: talveco-decode [options] FILE...\n", 0), 0U);
}

}  // namespace
}  // namespace talveco
