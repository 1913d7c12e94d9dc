// talveco-encode run as a user runs it: in a directory of its own, checking its messages,
// exit status and the files it leaves, and its output against the encoder library's.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <sstream>

#include "app/encode/EncodeRun.h"
#include "platform/Console.h"
#include "talveco/talveco.h"
#include "tests/encode_app/SoundFiles.h"
#include "tests/support/EncoderRuns.h"
#include "tests/support/Noise.h"
#include "tests/support/ProgramRunner.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestSignals.h"

namespace talveco {
namespace {

namespace fs = std::filesystem;
using testing::encodeWithLibrary;
using testing::ProgramResult;
using testing::readFileBytes;
using testing::RunOptions;
using testing::TempDir;
using testing::testSignal;
using testing::writeWav16;

constexpr int kRate = 22050;

// Names each case of a table by its label.
template <typename Case>
std::string caseLabel(const ::testing::TestParamInfo<Case>& test) {
    return test.param.label;
}

std::vector<std::string> directoryEntries(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::recursive_directory_iterator(dir)) {
        names.push_back(entry.path().lexically_relative(dir).string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

bool isAcm(const fs::path& path) {
    const std::vector<std::uint8_t> bytes = readFileBytes(path);
    return bytes.size() >= 14 && bytes[0] == 0x97 && bytes[1] == 0x28 && bytes[2] == 0x03 &&
           bytes[3] == 0x01;
}

class EncodeProgram : public ::testing::Test {
  protected:
    ProgramResult encode(const std::vector<std::string>& arguments, RunOptions options = {}) {
        options.program = TALVECO_ENCODE_BINARY;
        return testing::runProgram(arguments, dir.path(), options);
    }
    ProgramResult decode(const std::string& acmName) {
        return testing::runProgram({acmName}, dir.path());
    }
    void writeSpeechLike(const std::string& name, std::size_t frames = 20000) {
        writeWav16(dir / name, 1, kRate, testSignal(frames, 1, 7));
    }

    TempDir dir;
};

// ---- round trips ------------------------------------------------------------------------

struct RoundTripCase {
    const char* label;
    unsigned channels;
    int rate;
    std::vector<std::string> arguments;
    void (*setUp)(EncoderSettings&);  // the same settings for the library
};

class EncodeRoundTrip : public EncodeProgram,
                        public ::testing::WithParamInterface<RoundTripCase> {};

// The program's file is the library's stream for the same samples and settings, its header
// states the input's format, and talveco decodes it to exactly the predicted samples.
TEST_P(EncodeRoundTrip, ProgramWritesTheLibrarysStreamAndTalvecoDecodesThePrediction) {
    const RoundTripCase& c = GetParam();
    const std::vector<std::int16_t> samples = testSignal(30000, c.channels, 3);
    writeWav16(dir / "source.wav", static_cast<int>(c.channels), c.rate, samples);
    std::vector<std::string> arguments = c.arguments;
    arguments.insert(arguments.end(), {"-o", "clip.acm", "source.wav"});

    const ProgramResult result = encode(arguments);
    ASSERT_EQ(result.exitStatus, 0) << result.errors;
    EXPECT_EQ(result.errors.rfind("source.wav -> clip.acm: ", 0), 0U) << result.errors;
    EXPECT_EQ(std::count(result.errors.begin(), result.errors.end(), '\n'), 1) << result.errors;
    char duration[64];
    std::snprintf(duration, sizeof duration, ": %.2f s, %s, ", 30000.0 / c.rate,
                  c.channels == 1 ? "mono" : "stereo");
    EXPECT_NE(result.errors.find(duration), std::string::npos) << duration;

    EncoderSettings settings;
    c.setUp(settings);
    const testing::LibraryEncoding expected =
        encodeWithLibrary(samples, c.channels, static_cast<unsigned>(c.rate), settings);
    EXPECT_EQ(readFileBytes(dir / "clip.acm"), expected.bytes);
    ASSERT_EQ(expected.decoded.size(), samples.size());

    AcmStream stream = AcmStream::openFile((dir / "clip.acm").string());
    EXPECT_EQ(stream.channels(), c.channels);
    EXPECT_EQ(stream.sampleRate(), static_cast<unsigned>(c.rate));
    EXPECT_EQ(stream.sampleCount(), samples.size());

    ASSERT_EQ(decode("clip.acm").exitStatus, 0);
    EXPECT_EQ(testing::wavDataSamples(dir / "clip.wav"), expected.decoded);
}

INSTANTIATE_TEST_SUITE_P(
    Settings, EncodeRoundTrip,
    ::testing::Values(
        RoundTripCase{"DefaultQuality", 1, kRate, {}, [](EncoderSettings&) {}},
        RoundTripCase{"LowestQuality", 1, kRate, {"-q", "0"}, [](auto& s) { s.quality = 0; }},
        RoundTripCase{"Bitrate", 1, 11025, {"-b", "33.1"}, [](auto& s) { s.bitrateKbps = 33.1; }},
        RoundTripCase{"FixedGeometry",
                      1,
                      kRate,
                      {"--levels", "3", "--rows", "16"},
                      [](auto& s) {
                          s.levels = 3;
                          s.rows = 16;
                      }},
        RoundTripCase{"Stereo", 2, 44100, {"-q", "8"}, [](auto& s) { s.quality = 8; }},
        RoundTripCase{
            "StereoBitrate", 2, 8000, {"--bitrate=40"}, [](auto& s) { s.bitrateKbps = 40; }},
        RoundTripCase{"AttachedQuality", 1, kRate, {"-q2.5"}, [](auto& s) { s.quality = 2.5; }},
        RoundTripCase{"LongOptions",
                      1,
                      kRate,
                      {"--levels=2", "--rows", "64", "--quality=7"},
                      [](auto& s) {
                          s.levels = 2;
                          s.rows = 64;
                          s.quality = 7;
                      }}),
    caseLabel<RoundTripCase>);

// ---- input formats ----------------------------------------------------------------------

// Wider and floating-point inputs reach the encoder rounded to the nearest 16-bit value and
// clipped at full scale: the output equals the library's stream for those 16-bit samples.
struct FormatCase {
    const char* label;
    std::function<void(const fs::path&, std::span<const std::int16_t>)> write;
    bool clips;
};

// Each 16-bit sample with a fraction of up to ±127/256 of a step below it.
void writeWide(const fs::path& path, int format, std::span<const std::int16_t> samples) {
    testing::Noise noise(11);
    std::vector<std::int32_t> wide(samples.size());
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const auto fraction = static_cast<std::int32_t>(noise.next() % 255) - 127;
        wide[i] = (samples[i] * 256 + fraction) * 256;  // libsndfile keeps the top 24 bits
    }
    testing::writeSoundFile(path, format, 1, kRate, wide);
}

// Floats a little off the 16-bit grid; every 1000th sample far beyond full scale.
void writeFloat(const fs::path& path, std::span<const std::int16_t> samples) {
    testing::Noise noise(13);
    std::vector<float> values(samples.size());
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const float offset = static_cast<float>(noise.next() % 81) / 200.0f - 0.2f;
        values[i] = (static_cast<float>(samples[i]) + offset) / 32768.0f;
        if (i % 1000 == 500) values[i] = i % 2000 == 500 ? 1.75f : -3.0f;
        if (i % 1000 == 700) values[i] = std::numeric_limits<float>::quiet_NaN();
    }
    testing::writeSoundFile(path, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 1, kRate, values);
}

std::vector<std::int16_t> clippedAsWritten(std::vector<std::int16_t> samples, bool clips) {
    for (std::size_t i = 500; clips && i < samples.size(); i += 1000) {
        samples[i] = i % 2000 == 500 ? 32767 : -32768;
        if (i + 200 < samples.size()) samples[i + 200] = 0;  // NaN
    }
    return samples;
}

class EncodeInputFormat : public EncodeProgram, public ::testing::WithParamInterface<FormatCase> {};

TEST_P(EncodeInputFormat, ReachesTheEncoderRoundedToSixteenBits) {
    const FormatCase& c = GetParam();
    const std::vector<std::int16_t> samples = testSignal(12000, 1, 5);
    c.write(dir / "input", samples);

    const ProgramResult result = encode({"-o", "out.acm", "input"});
    ASSERT_EQ(result.exitStatus, 0) << result.errors;
    for (const char* said : {"12 samples beyond full scale were clipped",
                             "12 samples were not numbers (NaN)", "against the clipped input"}) {
        EXPECT_EQ(result.errors.find(said) != std::string::npos, c.clips) << result.errors;
    }
    const auto expected = clippedAsWritten(samples, c.clips);
    EXPECT_EQ(readFileBytes(dir / "out.acm"), encodeWithLibrary(expected, 1, kRate, {}).bytes);
}

INSTANTIATE_TEST_SUITE_P(
    Formats, EncodeInputFormat,
    ::testing::Values(FormatCase{"Wav24",
                                 [](const fs::path& p, auto s) {
                                     writeWide(p, SF_FORMAT_WAV | SF_FORMAT_PCM_24, s);
                                 },
                                 false},
                      FormatCase{"Flac24",
                                 [](const fs::path& p, auto s) {
                                     writeWide(p, SF_FORMAT_FLAC | SF_FORMAT_PCM_24, s);
                                 },
                                 false},
                      FormatCase{"Aiff32",
                                 [](const fs::path& p, auto s) {
                                     writeWide(p, SF_FORMAT_AIFF | SF_FORMAT_PCM_32, s);
                                 },
                                 false},
                      FormatCase{"WavFloat", [](const fs::path& p, auto s) { writeFloat(p, s); },
                                 true}),
    caseLabel<FormatCase>);

// ---- refused inputs ---------------------------------------------------------------------

struct RefusedCase {
    const char* label;
    std::function<void(const fs::path&)> make;  // makes "in" in the directory
    const char* message;
};

class EncodeRefusal : public EncodeProgram, public ::testing::WithParamInterface<RefusedCase> {};

// A clear message naming the file, exit status 1, and nothing left behind.
TEST_P(EncodeRefusal, NamesTheFileAndLeavesNothingBehind) {
    GetParam().make(dir.path());
    const auto before = directoryEntries(dir.path());
    const ProgramResult result = encode({"in"});
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(result.errors.rfind("talveco-encode: in: ", 0), 0U) << result.errors;
    EXPECT_NE(result.errors.find(GetParam().message), std::string::npos) << result.errors;
    EXPECT_EQ(directoryEntries(dir.path()), before);
}

void writeSilence(const fs::path& path, int channels, int rate) {
    writeWav16(path, channels, rate, std::vector<std::int16_t>(300 * channels));
}

// A 16-bit mono WAV header announcing `samples` samples, the file extended (sparsely) to
// hold them all.
void writeHugeWav(const fs::path& path, std::uint64_t samples) {
    writeSilence(path, 1, kRate);
    std::vector<std::uint8_t> bytes = readFileBytes(path);
    bytes.resize(44);
    const auto dataBytes = static_cast<std::uint32_t>(samples * 2);
    for (int i = 0; i < 4; ++i) {
        bytes[40 + i] = static_cast<std::uint8_t>(dataBytes >> (8 * i));
        bytes[4 + i] = static_cast<std::uint8_t>((dataBytes + 36) >> (8 * i));
    }
    testing::writeFileBytes(path, bytes);
    fs::resize_file(path, 44 + samples * 2);
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, EncodeRefusal,
    ::testing::Values(
        RefusedCase{"NotAudio",
                    [](const fs::path& d) {
                        testing::writeFileBytes(d / "in", {'h', 'i', '!'});
                    },
                    "not a readable audio file"},
        RefusedCase{"TruncatedHeader",
                    [](const fs::path& d) {
                        writeSilence(d / "in", 1, kRate);
                        fs::resize_file(d / "in", 30);
                    },
                    "not a readable audio file"},
        RefusedCase{"TruncatedInAFrame",
                    [](const fs::path& d) {
                        writeSilence(d / "in", 2, kRate);
                        fs::resize_file(d / "in", 345);
                    },
                    "truncated in the middle of a frame: the header announces 1200 bytes of "
                    "audio, the file holds 301"},
        RefusedCase{"FlacDamagedInTheMiddle",
                    [](const fs::path& d) {
                        testing::writeSoundFile(d / "in", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 1,
                                                kRate, testSignal(40000, 1, 3));
                        std::vector<std::uint8_t> bytes = readFileBytes(d / "in");
                        std::fill_n(bytes.begin() + bytes.size() / 2, 200, 0x55);
                        testing::writeFileBytes(d / "in", bytes);
                    },
                    "damaged or cut short"},
        RefusedCase{"AcmCutShort",
                    [](const fs::path& d) {
                        std::vector<std::uint8_t> bytes =
                            testing::encodeInMemory(testSignal(20000, 1, 5), 1, {}).bytes;
                        bytes.resize(bytes.size() / 2);
                        testing::writeFileBytes(d / "in", bytes);
                    },
                    "damaged or cut short: samples past the end of the file"},
        RefusedCase{"ThreeChannels", [](const fs::path& d) { writeSilence(d / "in", 3, kRate); },
                    "3 channels: an ACM file carries mono or stereo; --channels 1 or 2 folds them"},
        RefusedCase{"RateAboveHeaderField",
                    [](const fs::path& d) { writeSilence(d / "in", 1, 96000); },
                    "96000 Hz: an ACM file states rates from 1 to 65535 Hz"},
        RefusedCase{"Directory", [](const fs::path& d) { fs::create_directory(d / "in"); },
                    "in is a directory, not a file"},
        RefusedCase{"Missing", [](const fs::path&) {}, "File not found"},
        // A device that seeks is read in place, not copied first (without end, here).
        RefusedCase{"EndlessDevice",
                    [](const fs::path& d) { fs::create_symlink("/dev/zero", d / "in"); },
                    "not a readable audio file"},
        RefusedCase{"TwoToTheThirtySamples",
                    [](const fs::path& d) { writeHugeWav(d / "in", std::uint64_t{1} << 30); },
                    "too long"}),
    caseLabel<RefusedCase>);

TEST_F(EncodeProgram, UnwritableFolderIsReportedAndLeftEmptyOfOutput) {
    fs::create_directory(dir / "locked");
    writeSpeechLike("locked/in.wav");
    fs::permissions(dir.path(), fs::perms::all);
    fs::permissions(dir / "locked", fs::perms::owner_all | fs::perms::group_read |
                                        fs::perms::group_exec | fs::perms::others_read |
                                        fs::perms::others_exec);
    const ProgramResult result = encode({"locked/in.wav"}, RunOptions::asNobody());
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_NE(result.errors.find("talveco-encode: locked/in.wav: writing locked/in.acm: File "
                                 "access denied"),
              std::string::npos)
        << result.errors;
    EXPECT_EQ(directoryEntries(dir / "locked"), std::vector<std::string>{"in.wav"});
}

// ---- inputs written to a pipe, standard input and output ---------------------------------

// A WAV written to a pipe states a length its writer could not go back to correct: read to the
// end of the data, with a note, as flac and oggenc do.
void writePipeStyleWav(const fs::path& path, std::span<const std::int16_t> samples) {
    writeWav16(path, 1, kRate, samples);
    std::vector<std::uint8_t> bytes = readFileBytes(path);
    for (const std::size_t field : {4u, 40u}) {
        bytes[field] = 0xF0;
        bytes[field + 1] = 0xFF;
        bytes[field + 2] = 0xFF;
        bytes[field + 3] = 0x7F;
    }
    testing::writeFileBytes(path, bytes);
}

struct StreamCase {
    const char* label;
    std::string shellCommand;  // run by sh -c with the program as $0, in the test's folder
    const char* output;        // the file the stream lands in
    const char* note;
};

class EncodeStreams : public EncodeProgram, public ::testing::WithParamInterface<StreamCase> {};

TEST_P(EncodeStreams, PipeWrittenLengthsAreReadToTheEndWithANote) {
    const std::vector<std::int16_t> samples = testSignal(20000, 1, 9);
    writePipeStyleWav(dir / "pipe.wav", samples);
    RunOptions options;
    options.program = "/bin/sh";
    const ProgramResult result = testing::runProgram(
        {"-c", GetParam().shellCommand, TALVECO_ENCODE_BINARY}, dir.path(), options);
    ASSERT_EQ(result.exitStatus, 0) << result.errors;
    EXPECT_NE(result.errors.find(GetParam().note), std::string::npos) << result.errors;
    EXPECT_EQ(readFileBytes(dir / GetParam().output),
              encodeWithLibrary(samples, 1, kRate, {}).bytes);
}

INSTANTIATE_TEST_SUITE_P(
    Streams, EncodeStreams,
    ::testing::Values(
        StreamCase{"File", "\"$0\" pipe.wav", "pipe.acm",
                   "pipe.wav: note: the header announces 2147483632 bytes of audio, the file "
                   "holds 40000 (as a program writing to a pipe leaves it)"},
        StreamCase{"StdinToStdout", "cat pipe.wav | \"$0\" - > out.acm", "out.acm",
                   "(standard input): note: the header announces 2147483632 bytes of audio, the "
                   "file holds 40000 (as a program writing to a pipe leaves it)"},
        StreamCase{"StdinToFile", "\"$0\" -o out.acm - < pipe.wav", "out.acm", "-> out.acm"},
        StreamCase{"DashC", "\"$0\" -Qc pipe.wav > out.acm", "out.acm", "note:"},
        StreamCase{"DashODash", "\"$0\" --output=- pipe.wav > out.acm", "out.acm",
                   "pipe.wav -> (standard output)"}),
    caseLabel<StreamCase>);

// Every format reads from a pipe as from the file itself: the same stream comes out, and
// nothing is left in the scratch folder.
struct PipedFormatCase {
    const char* label;
    std::function<void(const fs::path&)> write;
};

class EncodePipedFormat : public EncodeProgram,
                          public ::testing::WithParamInterface<PipedFormatCase> {};

TEST_P(EncodePipedFormat, EncodesAsFromTheFile) {
    GetParam().write(dir / "in");
    fs::create_directory(dir / "tmp");
    RunOptions options;
    options.program = "/bin/sh";
    options.environment = {"TMPDIR=" + (dir / "tmp").string()};
    const ProgramResult fromFile = testing::runProgram(
        {"-c", "\"$0\" -s -o file.acm in", TALVECO_ENCODE_BINARY}, dir.path(), options);
    ASSERT_EQ(fromFile.exitStatus, 0) << fromFile.errors;
    const ProgramResult fromPipe = testing::runProgram(
        {"-c", "cat in | \"$0\" -s - > pipe.acm", TALVECO_ENCODE_BINARY}, dir.path(), options);
    EXPECT_EQ(fromPipe.exitStatus, 0);
    EXPECT_EQ(fromPipe.errors, "");
    EXPECT_EQ(readFileBytes(dir / "pipe.acm"), readFileBytes(dir / "file.acm"));
    EXPECT_TRUE(fs::is_empty(dir / "tmp"));
}

// Twelve seconds of stereo: beyond the part of a scratch file held in memory, as WAV and as
// FLAC.
std::vector<std::int16_t> twelveSeconds() {
    return testSignal(12 * 44100, 2, 21);
}

INSTANTIATE_TEST_SUITE_P(
    Formats, EncodePipedFormat,
    ::testing::Values(
        PipedFormatCase{"Wav", [](const fs::path& p) { writeWav16(p, 2, 44100, twelveSeconds()); }},
        PipedFormatCase{"Flac",
                        [](const fs::path& p) {
                            testing::writeSoundFile(p, SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 2, 44100,
                                                    twelveSeconds());
                        }},
        PipedFormatCase{"OggVorbis",
                        [](const fs::path& p) {
                            testing::writeSoundFile(p, SF_FORMAT_OGG | SF_FORMAT_VORBIS, 2, 44100,
                                                    twelveSeconds());
                        }},
        PipedFormatCase{"Acm",
                        [](const fs::path& p) {
                            testing::writeFileBytes(
                                p, testing::encodeInMemory(testSignal(30000, 1, 5), 1, {}).bytes);
                        }}),
    caseLabel<PipedFormatCase>);

// A pipe that cannot be held for want of a scratch folder fails with the reason, as no fault
// of the input's.
TEST_F(EncodeProgram, PipeWithoutRoomToHoldItFailsWithTheReason) {
    writeWav16(dir / "in.wav", 2, 44100, twelveSeconds());
    RunOptions options;
    options.program = "/bin/sh";
    options.environment = {"TMPDIR=" + (dir / "gone").string()};
    const ProgramResult result = testing::runProgram(
        {"-c", "cat in.wav | \"$0\" -o out.acm -", TALVECO_ENCODE_BINARY}, dir.path(), options);
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(result.errors.rfind("talveco-encode: (standard input): holding the input in a "
                                  "scratch file: no scratch file could be made in " +
                                      (dir / "gone").string(),
                                  0),
              0U)
        << result.errors;
    EXPECT_FALSE(fs::exists(dir / "out.acm"));
}

// An Ogg Vorbis stream cut short states no length (libsndfile gives the largest count there
// is): what it holds is encoded, from a file and from a pipe alike.
TEST_F(EncodeProgram, OggCutShortEncodesWhatItHolds) {
    testing::writeSoundFile(dir / "in.ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS, 1, kRate,
                            testSignal(3 * kRate, 1, 8));
    fs::resize_file(dir / "in.ogg", fs::file_size(dir / "in.ogg") * 2 / 3);
    RunOptions options;
    options.program = "/bin/sh";
    const ProgramResult result = testing::runProgram(
        {"-c", "\"$0\" in.ogg && cat in.ogg | \"$0\" -o pipe.acm -", TALVECO_ENCODE_BINARY},
        dir.path(), options);
    ASSERT_EQ(result.exitStatus, 0) << result.errors;
    EXPECT_EQ(result.errors.find("9223372036854775807"), std::string::npos) << result.errors;
    const AcmStream stream = AcmStream::openFile((dir / "in.acm").string());
    EXPECT_GT(stream.sampleCount(), kRate);
    EXPECT_LT(stream.sampleCount(), 3U * kRate);
    EXPECT_EQ(readFileBytes(dir / "pipe.acm"), readFileBytes(dir / "in.acm"));
}

// libsndfile's length of an MP3 is an estimate: one cut short encodes what it holds.
TEST_F(EncodeProgram, MpegShorterThanItsEstimateIsEncodedWithANote) {
    testing::writeSoundFile(dir / "in.mp3", SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III, 1, kRate,
                            testSignal(22050, 1, 4));
    fs::resize_file(dir / "in.mp3", fs::file_size(dir / "in.mp3") / 2);
    const ProgramResult result = encode({"in.mp3"});
    ASSERT_EQ(result.exitStatus, 0) << result.errors;
    EXPECT_NE(
        result.errors.find("in.mp3: note: libsndfile estimated 22050 frames, the file holds "),
        std::string::npos)
        << result.errors;
    const AcmStream stream = AcmStream::openFile((dir / "in.acm").string());
    EXPECT_GT(stream.sampleCount(), 0U);
    EXPECT_LT(stream.sampleCount(), 22050U);
}

// -d puts every output in one folder, under its input's name (a leading dot starts a name),
// and makes the folder when it is missing, as talveco-decode does.
TEST_F(EncodeProgram, OutputFolderTakesTheInputsNames) {
    writeSpeechLike("a.wav");
    writeSpeechLike(".hidden");
    fs::create_directory(dir / "out");
    for (const char* folder : {"out", "new/deeper"}) {
        const ProgramResult result = encode({"-sd", folder, "a.wav", ".hidden"});
        EXPECT_EQ(result.exitStatus, 0) << folder << ": " << result.errors;
        EXPECT_EQ(directoryEntries(dir / folder),
                  (std::vector<std::string>{".hidden.acm", "a.acm"}))
            << folder;
    }
    // A folder that cannot be made fails the run once, before any file.
    const ProgramResult blocked = encode({"-sd", "a.wav/out", "a.wav"});
    EXPECT_EQ(blocked.exitStatus, 1);
    EXPECT_EQ(blocked.errors.rfind("talveco-encode: cannot create the folder a.wav/out: ", 0), 0U)
        << blocked.errors;
    EXPECT_EQ(std::count(blocked.errors.begin(), blocked.errors.end(), '\n'), 1);
}

TEST_F(EncodeProgram, BitrateBelowWhatTheSoundNeedsWarns) {
    writeSpeechLike("a.wav");
    const ProgramResult result = encode({"-s", "-b", "1", "a.wav"});
    EXPECT_EQ(result.exitStatus, 0) << result.errors;
    EXPECT_EQ(result.errors.rfind("talveco-encode: a.wav: warning: -b 1 is below what this sound "
                                  "can be carried at",
                                  0),
              0U)
        << result.errors;
}

// ---- the progress line -------------------------------------------------------------------

struct ProgressCase {
    const char* label;
    std::vector<std::string> arguments;
    const char* phase;  // the last progress shown starts so; none when no progress is allowed
};

class EncodeProgress : public EncodeProgram, public ::testing::WithParamInterface<ProgressCase> {};

// Run in this process, told that standard error is a terminal 30 columns wide: every state of
// the line fits in 29 columns (a wrapped line cannot be rewritten), and -s shows none.
TEST_P(EncodeProgress, FitsTheTerminalAndSilentShowsNone) {
    const std::string input = (dir / "a-name-much-wider-than-the-terminal-is.wav").string();
    writeWav16(input, 1, 1000, testSignal(61000, 1, 2));  // just over a minute
    std::vector<std::string> arguments = GetParam().arguments;
    arguments.insert(arguments.end(), {"-o", (dir / "out.acm").string(), input});
    std::FILE* said = std::tmpfile();
    Console messages(::fileno(said));
    ASSERT_EQ(runEncoder(arguments, messages, messages, 30U), kEncodeSuccess);
    std::string text(static_cast<std::size_t>(std::ftell(said)), '\0');
    std::rewind(said);
    text.resize(std::fread(text.data(), 1, text.size(), said));
    std::fclose(said);

    std::vector<std::string> states;  // what each carriage return left on the line
    for (std::size_t at = text.find('\r'); at != std::string::npos; at = text.find('\r', at + 1)) {
        std::string state = text.substr(at + 1, text.find_first_of("\r\n", at + 1) - at - 1);
        if (const auto erase = state.find("\033[K"); erase != std::string::npos) state.erase(erase);
        if (!state.empty()) states.push_back(state);
    }
    if (GetParam().phase == nullptr) {
        EXPECT_EQ(text.find('\r'), std::string::npos) << text;
        return;
    }
    ASSERT_FALSE(states.empty()) << text;
    for (const std::string& state : states)
        EXPECT_LE(state.size(), 29U) << state;
    EXPECT_NE(states.back().find(std::string(": ") + GetParam().phase), std::string::npos)
        << states.back();
}

INSTANTIATE_TEST_SUITE_P(Modes, EncodeProgress,
                         ::testing::Values(ProgressCase{"Quality", {}, "coding "},
                                           ProgressCase{"Bitrate", {"-b", "4"}, "coding "},
                                           ProgressCase{"Silent", {"-s"}, nullptr},
                                           ProgressCase{"Quiet", {"--quiet"}, nullptr}),
                         caseLabel<ProgressCase>);

// ---- outputs that must not be replaced --------------------------------------------------

TEST_F(EncodeProgram, ExistingOutputIsReplacedOnlyWithForce) {
    writeSpeechLike("in.wav");
    testing::writeFileBytes(dir / "in.acm", {'o', 'l', 'd'});
    ProgramResult result = encode({"in.wav"});
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_NE(result.errors.find("in.wav: the output in.acm exists (-f replaces it)"),
              std::string::npos)
        << result.errors;
    EXPECT_EQ(readFileBytes(dir / "in.acm"), (std::vector<std::uint8_t>{'o', 'l', 'd'}));

    result = encode({"-f", "in.wav"});
    EXPECT_EQ(result.exitStatus, 0) << result.errors;
    EXPECT_TRUE(isAcm(dir / "in.acm"));
}

TEST_F(EncodeProgram, NeverOverwritesItsInputEvenThroughALinkOrWithForce) {
    writeSpeechLike("in.wav");
    const auto original = readFileBytes(dir / "in.wav");
    fs::create_symlink("in.wav", dir / "link.acm");
    fs::create_hard_link(dir / "in.wav", dir / "hard.acm");
    for (const char* target : {"in.wav", "link.acm", "hard.acm"}) {
        const ProgramResult result = encode({"-f", "-o", target, "in.wav"});
        EXPECT_EQ(result.exitStatus, 1) << target;
        EXPECT_NE(result.errors.find("is the input itself"), std::string::npos) << result.errors;
    }
    EXPECT_EQ(readFileBytes(dir / "in.wav"), original);
    EXPECT_EQ(directoryEntries(dir.path()),
              (std::vector<std::string>{"hard.acm", "in.wav", "link.acm"}));
}

// An output that is another input of the run would be replaced before that input is read:
// the run is refused before any work, as two inputs with one output are.
TEST_F(EncodeProgram, OutputThatIsAnotherInputRefusesTheRun) {
    writeSpeechLike("a.wav");
    writeSpeechLike("b.wav");
    ASSERT_EQ(encode({"-s", "b.wav"}).exitStatus, 0);
    fs::rename(dir / "b.acm", dir / "a.acm");
    const auto before = readFileBytes(dir / "a.acm");
    const ProgramResult result = encode({"-f", "a.wav", "a.acm"});
    EXPECT_EQ(result.exitStatus, 2);
    EXPECT_EQ(
        result.errors.rfind(
            "talveco-encode: the output a.acm of a.wav is a.acm, another input of this run", 0),
        0U)
        << result.errors;
    EXPECT_EQ(readFileBytes(dir / "a.acm"), before);
}

// Renaming the finished file over a pipe or device would replace the node itself: they are
// refused, all but the null device, which is written to directly (to time the encoder).
TEST_F(EncodeProgram, OnlyTheNullDeviceIsWrittenAsADevice) {
    writeSpeechLike("in.wav");
    ASSERT_EQ(::mkfifo((dir / "p.acm").c_str(), 0600), 0);
    ProgramResult result = encode({"-f", "-o", "p.acm", "in.wav"});
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_NE(result.errors.find("the output p.acm is not a regular file"), std::string::npos)
        << result.errors;
    EXPECT_TRUE(fs::is_fifo(dir / "p.acm"));

    result = encode({"-o", "/dev/null", "in.wav"});
    EXPECT_EQ(result.exitStatus, 0) << result.errors;
    EXPECT_EQ(result.errors.rfind("in.wav -> /dev/null: 0.91 s, mono", 0), 0U) << result.errors;
    struct stat info {};
    ASSERT_EQ(::stat("/dev/null", &info), 0);
    EXPECT_TRUE(S_ISCHR(info.st_mode));
}

TEST_F(EncodeProgram, OneFailingFileDoesNotStopTheOthers) {
    writeSpeechLike("a.wav");
    testing::writeFileBytes(dir / "b.wav", {'n', 'o'});
    writeSpeechLike("c.flac.wav");
    const ProgramResult result = encode({"-s", "a.wav", "b.wav", "c.flac.wav"});
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(result.errors.rfind("talveco-encode: b.wav: not a readable audio file", 0), 0U)
        << result.errors;
    EXPECT_EQ(std::count(result.errors.begin(), result.errors.end(), '\n'), 1);
    EXPECT_TRUE(isAcm(dir / "a.acm"));
    EXPECT_TRUE(isAcm(dir / "c.flac.acm"));
    EXPECT_FALSE(fs::exists(dir / "b.acm"));
}

// ---- the command line -------------------------------------------------------------------

struct CommandLineCase {
    const char* label;
    std::vector<std::string> arguments;
    const char* message;
};

class EncodeCommandLine : public EncodeProgram,
                          public ::testing::WithParamInterface<CommandLineCase> {};

TEST_P(EncodeCommandLine, BadCommandLineExitsWithTwoAndWritesNothing) {
    writeSpeechLike("a.wav");
    writeSpeechLike("b.wav");
    const ProgramResult result = encode(GetParam().arguments);
    EXPECT_EQ(result.exitStatus, 2);
    EXPECT_EQ(result.output, "");
    EXPECT_EQ(result.errors.rfind(std::string("talveco-encode: ") + GetParam().message, 0), 0U)
        << result.errors;
    EXPECT_EQ(directoryEntries(dir.path()), (std::vector<std::string>{"a.wav", "b.wav"}));
}

INSTANTIATE_TEST_SUITE_P(
    Errors, EncodeCommandLine,
    ::testing::Values(
        CommandLineCase{"NoInput", {}, "no input file"},
        CommandLineCase{"UnknownOption", {"-x", "a.wav"}, "unknown option '-x'"},
        CommandLineCase{"QualityAboveTen", {"-q", "11", "a.wav"}, "-q wants a number from 0 to 10"},
        CommandLineCase{"QualityNotANumber", {"-q", "5x", "a.wav"}, "-q wants a number"},
        CommandLineCase{"BitrateZero", {"-b", "0", "a.wav"}, "-b wants a number"},
        CommandLineCase{"TooManyLevels", {"--levels", "16", "a.wav"}, "--levels wants"},
        CommandLineCase{"BlockTooLarge",
                        {"--levels=15", "--rows=4095", "a.wav"},
                        "--levels 15 takes at most --rows 32"},
        CommandLineCase{
            "FractionalRows", {"--rows", "2.5", "a.wav"}, "--rows wants a whole number"},
        CommandLineCase{"MissingValue", {"a.wav", "-b"}, "-b needs a value"},
        CommandLineCase{"OutputForTwoInputs",
                        {"-o", "x.acm", "a.wav", "b.wav"},
                        "-o names the output of a single input file"},
        CommandLineCase{"StdoutForTwoInputs", {"-c", "a.wav", "b.wav"}, "-c writes a single"},
        CommandLineCase{"TwoInputsOneOutput",
                        {"a.wav", "./a.flac"},
                        "a.wav and ./a.flac would both be written to ./a.acm"},
        CommandLineCase{
            "OutputAndFolder", {"-o", "x.acm", "-d", ".", "a.wav"}, "-o (or -c) and -d"},
        CommandLineCase{
            "NoChannels", {"--channels", "0", "a.wav"}, "--channels wants a whole number from 1"},
        CommandLineCase{"ThreeChannels", {"--channels=3", "a.wav"}, "--channels wants a whole"},
        CommandLineCase{
            "ResampleToZero", {"--resample", "0", "a.wav"}, "--resample wants a whole number"},
        CommandLineCase{"ResampleAboveHeaderField",
                        {"--resample=65536", "a.wav"},
                        "--resample wants a whole number from 1 to 65535"},
        CommandLineCase{"QuietBundleBadQuality", {"-Qq", "11", "a.wav"}, "-q wants a number"},
        // Options the run would silently override are named, as the user spelt them.
        CommandLineCase{"LikeWithLevels",
                        {"--like", "a.wav", "--levels", "3", "a.wav"},
                        "--like codes with the old stream's levels and rows; --levels does not"},
        CommandLineCase{"LikeWithRows",
                        {"--rows=16", "--like=b.wav", "a.wav"},
                        "--like codes with the old stream's levels and rows; --rows does not"},
        CommandLineCase{
            "QualityWithBitrate", {"--quality", "7", "-b", "30", "a.wav"}, "--quality and -b do"},
        CommandLineCase{"BitrateWithQuality", {"--bitrate=30", "-q7", "a.wav"}, "-q and --bitrate"},
        CommandLineCase{"StrictRateWithoutBitrate",
                        {"--strict-rate", "-q", "3", "a.wav"},
                        "--strict-rate holds the bitrate to -b, which is not given"},
        CommandLineCase{"OutputAndStdout", {"-c", "-o", "x.acm", "a.wav"}, "-o and -c do not go"},
        CommandLineCase{"StdoutAndOutputDash", {"--output=-", "--stdout", "a.wav"}, "--output and"},
        CommandLineCase{"StandardInputTwice", {"-", "-"}, "standard input can be read only once"},
        CommandLineCase{"EmptyLongName", {"--=1", "a.wav"}, "unknown option '--=1'"}),
    caseLabel<CommandLineCase>);

// A start the format garbles (a beep forced to many levels) is reported with what helps, and
// the file is still written; starts that come back only softer or barely off are not, nor
// those the chosen geometry reproduces.
struct OnsetCase {
    const char* label;
    std::vector<std::int16_t> sound;
    std::vector<std::string> options;
    bool warns;
};

// Noise of about 3000 RMS, near Gaussian: the sum of twelve uniform noises.
std::vector<std::int16_t> gaussianNoise(std::uint32_t seed) {
    std::vector<std::int16_t> sum(kRate);
    for (std::uint32_t k = 0; k < 12; ++k) {
        const std::vector<std::int16_t> part = testing::whiteNoise(kRate, 0.0458, seed * 12 + k);
        for (std::size_t i = 0; i < sum.size(); ++i)
            sum[i] = static_cast<std::int16_t>(sum[i] + part[i]);
    }
    return sum;
}

// `sound` faded in over its first `length` samples.
std::vector<std::int16_t> fadedIn(std::vector<std::int16_t> sound, std::size_t length) {
    for (std::size_t i = 0; i < std::min(length, sound.size()); ++i)
        sound[i] = static_cast<std::int16_t>(sound[i] * double(i) / double(length));
    return sound;
}

class EncodeOnset : public EncodeProgram, public ::testing::WithParamInterface<OnsetCase> {};

TEST_P(EncodeOnset, IsReportedOnlyWhereTheStartClicks) {
    writeWav16(dir / "in.wav", 1, kRate, GetParam().sound);
    std::vector<std::string> arguments{"-s"};
    arguments.insert(arguments.end(), GetParam().options.begin(), GetParam().options.end());
    arguments.push_back("in.wav");
    const ProgramResult result = encode(arguments);
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_TRUE(isAcm(dir / "in.acm"));
    if (!GetParam().warns) {
        // A square forced to five levels is warned of, but for what it costs, not its start.
        EXPECT_EQ(result.errors.find("starts abruptly"), std::string::npos) << result.errors;
        return;
    }
    EXPECT_EQ(result.errors.rfind("talveco-encode: in.wav: warning: the sound starts abruptly, "
                                  "where the format starts from silence; the first ",
                                  0),
              0U)
        << result.errors;
    EXPECT_NE(result.errors.find("; a fade-in of a few milliseconds, or fewer levels, brings them "
                                 "closer\n"),
              std::string::npos)
        << result.errors;
}

INSTANTIATE_TEST_SUITE_P(
    Starts, EncodeOnset,
    ::testing::Values(
        // 0.2 s of 1 kHz at -10 dBFS from phase 0, no fade-in.
        OnsetCase{"BeepAtFiveLevels",
                  testing::tones(4410, kRate, {1000}, 0.316),
                  {"--levels", "5"},
                  true},
        // Left to choose, the encoder takes the levels that reproduce such starts (the beep
        // without a transform, at 5.3 bits a value where 2 levels took 2.3 and were off by
        // 2047 in the first 8 samples), or the warning would be due.
        OnsetCase{"Beep", testing::tones(4410, kRate, {1000}, 0.316), {}, false},
        OnsetCase{"Noise", gaussianNoise(1), {}, false},
        OnsetCase{
            "BeepFadedIn", fadedIn(testing::tones(4410, kRate, {1000}, 0.316), 110), {}, false},
        OnsetCase{"SineAtHalfScale", testing::tones(kRate, kRate, {1000}, 0.5), {}, false},
        // Forced to five levels the square is off everywhere by about what its start is.
        OnsetCase{
            "SquareAtFiveLevels", testing::fullScaleSquare(4000, 50), {"--levels", "5"}, false}),
    caseLabel<OnsetCase>);

// A forced geometry far worse than a chosen one is named with what it cost, the stream still
// written; one that codes the sound fairly, or a bitrate's, is not.
struct GeometryCase {
    const char* label;
    std::vector<std::string> options;
    const char* warning;  // how it starts after "warning: "; none when nothing is to be said
};

class EncodeForcedGeometry : public EncodeProgram,
                             public ::testing::WithParamInterface<GeometryCase> {};

TEST_P(EncodeForcedGeometry, IsNamedWhereItCodesBadly) {
    writeSpeechLike("in.wav", 44100);
    std::vector<std::string> arguments{"-s"};
    arguments.insert(arguments.end(), GetParam().options.begin(), GetParam().options.end());
    arguments.push_back("in.wav");
    const ProgramResult result = encode(arguments);
    EXPECT_EQ(result.exitStatus, 0) << result.errors;
    EXPECT_TRUE(isAcm(dir / "in.acm"));
    // The line naming options, apart from a warning about the onset.
    const std::string prefix = "talveco-encode: in.wav: warning: --";
    const auto at = result.errors.find(prefix);
    if (GetParam().warning == nullptr) {
        EXPECT_EQ(at, std::string::npos) << result.errors;
        return;
    }
    ASSERT_NE(at, std::string::npos) << result.errors;
    const std::size_t start = at + prefix.size() - 2;
    const std::string said = result.errors.substr(start, result.errors.find('\n', at) - start);
    EXPECT_EQ(said.rfind(GetParam().warning, 0), 0U) << said;
    const std::string advice = " out to have the geometry chosen to suit the sound";
    EXPECT_EQ(said.find(advice), said.size() - advice.size()) << said;
}

INSTANTIATE_TEST_SUITE_P(
    Geometries, EncodeForcedGeometry,
    ::testing::Values(
        GeometryCase{"ManyLevels",
                     {"--levels", "13"},
                     "--levels 13: SNR 7.3 dB where -q 5 aims at about 30 dB; leave it out"},
        GeometryCase{"ManyLevelsAtLowQuality",
                     {"-q", "2.5", "--levels=15"},
                     "--levels 15: SNR 1.9 dB where -q 2.5 aims at about 20 dB; leave it"},
        GeometryCase{"TinyBlocks", {"--levels", "0", "--rows", "1"}, "--levels 0 --rows 1: 26.9"},
        GeometryCase{"ManyLevelsAndTinyBlocks",
                     {"--rows", "16", "--levels", "15"},
                     "--levels 15 --rows 16: SNR 1.9 dB where -q 5 aims at about 30 dB, and 17.20 "
                     "bits/sample, more than the samples as 16-bit PCM; leave them out"},
        GeometryCase{"Fair", {"--levels", "3", "--rows", "16"}, nullptr},
        // 34 dB, short of the 50 dB aimed at as the chosen geometry can be on noise.
        GeometryCase{"FairAtTopQuality", {"-q", "10", "--levels", "8", "--rows", "16"}, nullptr},
        GeometryCase{"LowestQualityKeepsItsLowAim", {"-q", "0", "--levels", "13"}, nullptr},
        GeometryCase{"BitrateSetsTheQuality", {"-b", "150", "--levels", "13"}, nullptr},
        GeometryCase{"Chosen", {"-q", "10"}, nullptr}),
    caseLabel<GeometryCase>);

// A bitrate that cannot be reached is named; --strict-rate makes it a failure of the file,
// whose stream is still written.
TEST_F(EncodeProgram, MissedBitrateIsNamedAndFailsWithStrictRate) {
    writeSpeechLike("speech.wav", 44100);
    ProgramResult result = encode({"-s", "-b", "2", "speech.wav"});
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.errors.rfind("talveco-encode: speech.wav: warning: -b 2 is below what this "
                                  "sound can be carried at: the bitrate reached is ",
                                  0),
              0U)
        << result.errors;
    EXPECT_NE(result.errors.find(" not within 2 % of -b 2\n"), std::string::npos) << result.errors;
    result = encode({"-s", "-f", "--strict-rate", "-b", "2", "speech.wav"});
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_NE(result.errors.find("(--strict-rate; speech.acm is kept)\n"), std::string::npos)
        << result.errors;
    EXPECT_TRUE(isAcm(dir / "speech.acm"));
    result = encode({"-s", "-f", "--strict-rate", "-b", "66.15", "speech.wav"});
    EXPECT_EQ(result.exitStatus, 0) << result.errors;
    EXPECT_EQ(result.errors, "");
}

// A decoded file coded again like its stream comes back whole, and the summary says so, as
// does the stream itself taken as the input.
TEST_F(EncodeProgram, LikeCodesADecodedFileBackExactly) {
    writeSpeechLike("speech.wav", 30000);
    ASSERT_EQ(encode({"-s", "-o", "old.acm", "speech.wav"}).exitStatus, 0);
    ASSERT_EQ(testing::runProgram({"old.acm", "-m"}, dir.path()).exitStatus, 0);
    for (const char* input : {"old.wav", "old.acm"}) {
        const ProgramResult result = encode({"--like", "old.acm", "-o", "new.acm", "-f", input});
        EXPECT_EQ(result.exitStatus, 0);
        EXPECT_NE(result.errors.find(", exact, 30000 of 30000 samples exact\n"), std::string::npos)
            << result.errors;
    }
    // -b chooses the quality of what is coded afresh, with the old stream's geometry.
    const ProgramResult result =
        encode({"-s", "--like", "old.acm", "-b", "60", "-o", "rate.acm", "old.wav"});
    EXPECT_EQ(result.exitStatus, 0) << result.errors;
    EXPECT_EQ(AcmStream::openFile((dir / "rate.acm").string()).sampleCount(), 30000U);
}

// A --like file that cannot serve fails each input with the reason, and writes nothing.
TEST_F(EncodeProgram, LikeFileThatCannotServeIsNamedWithItsReason) {
    writeSpeechLike("in.wav");
    fs::create_directory(dir / "folder");
    testing::writeFileBytes(dir / "empty.acm", {});
    const std::pair<std::string, std::string> cases[] = {
        {"missing.acm", "File not found"},
        {"gone/old.acm", "Invalid filename"},
        {"folder", "File access denied (a directory)"},
        {"empty.acm", "not an ACM file"},
        {"in.wav", "not an ACM file"},
    };
    for (const auto& [like, reason] : cases) {
        const ProgramResult result = encode({"-s", "--like", like, "in.wav"});
        EXPECT_EQ(result.exitStatus, 1) << like;
        EXPECT_EQ(result.errors, "talveco-encode: in.wav: --like " + like + ": " + reason + "\n");
        EXPECT_FALSE(fs::exists(dir / "in.acm")) << like;
    }
}

// Where the file system has no nameless files, an input too long to wait in memory waits in
// a file made under a name and removed at once: the stream is the same, and no name is left
// behind.
TEST_F(EncodeProgram, ScratchFilesWithoutNamelessFilesLeaveNothingBehind) {
    writeSpeechLike("speech.wav", 600000);
    ASSERT_EQ(encode({"-s", "-b", "44.1", "-o", "plain.acm", "speech.wav"}).exitStatus, 0);
    const ProgramResult result = encode(
        {"-s", "-b", "44.1", "-o", "named.acm", "speech.wav"},
        testing::withFaults({"TALVECO_FAULT_NO_TMPFILE=1", "TMPDIR=" + dir.path().string()}));
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.errors, "fault shim: no O_TMPFILE\n");
    EXPECT_EQ(readFileBytes(dir / "named.acm"), readFileBytes(dir / "plain.acm"));
    EXPECT_EQ(directoryEntries(dir.path()),
              (std::vector<std::string>{"named.acm", "plain.acm", "speech.wav"}));
}

// Every option of the man page's OPTIONS section, as "-q" or "--levels".
std::vector<std::string> manPageOptions() {
    std::ifstream page(TALVECO_ENCODE_MAN_PAGE);
    std::vector<std::string> options;
    bool inOptions = false;
    for (std::string line; std::getline(page, line);) {
        if (line.rfind(".SH", 0) == 0) inOptions = line == ".SH OPTIONS";
        if (!inOptions || line.rfind(".B", 0) != 0) continue;
        std::istringstream words(line.substr(line.find(' ') + 1));
        for (std::string word; words >> word;) {
            for (std::size_t at; (at = word.find("\\-")) != std::string::npos;)
                word.replace(at, 2, 1, '-');
            word.erase(std::remove_if(word.begin(), word.end(),
                                      [](char c) { return c == '"' || c == ','; }),
                       word.end());
            if (word.size() > 1 && word[0] == '-') options.push_back(word);
        }
    }
    return options;
}

TEST_F(EncodeProgram, HelpAndVersionGoToStandardOutput) {
    ProgramResult result = encode({"--help"});
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.output.rfind("Usage: talveco-encode [options] FILE...\n", 0), 0U);
    EXPECT_EQ(result.errors, "");
    const std::vector<std::string> documented = manPageOptions();
    EXPECT_GE(documented.size(), 20U);
    for (const std::string& option : documented)
        EXPECT_NE(result.output.find(option), std::string::npos) << option;
    result = encode({"-V"});
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.output.rfind("talveco-encode 1.", 0), 0U) << result.output;
}

TEST_F(EncodeProgram, SilentRunSaysNothingAndDashesEndOptions) {
    writeSpeechLike("-name.wav");
    const ProgramResult result = encode({"-s", "--", "-name.wav"});
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.errors, "");
    EXPECT_TRUE(isAcm(dir / "-name.acm"));
}

}  // namespace
}  // namespace talveco
