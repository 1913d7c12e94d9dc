// talveco-encode fitting its input to the stream wanted (--channels, --resample), run as a
// user runs it: the stream it writes is the library's stream of the input folded as a
// listener expects, and resampled as sox resamples it.
#include <unistd.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <numbers>
#include <sstream>

#include "app/encode/InputFitting.h"
#include "fit/ChannelFold.h"
#include "fit/Resampler.h"
#include "talveco/talveco.h"
#include "tests/encode_app/SoundFiles.h"
#include "tests/support/ProgramRunner.h"
#include "tests/support/TempDir.h"

namespace talveco {
namespace {

namespace fs = std::filesystem;
using testing::ProgramResult;
using testing::readFileBytes;
using testing::testSignal;

constexpr int kRate = 22050;
const double kMinus3Db = std::sqrt(0.5);

class FitProgram : public ::testing::Test {
  protected:
    ProgramResult encode(const std::vector<std::string>& arguments) {
        testing::RunOptions options;
        options.program = TALVECO_ENCODE_BINARY;
        return testing::runProgram(arguments, dir.path(), options);
    }

    testing::TempDir dir;
};

// The SNR the summary line reports, or NaN.
double reportedSnr(const std::string& summary) {
    const auto at = summary.find(", SNR ");
    return at == std::string::npos ? std::nan("") : std::strtod(summary.c_str() + at + 6, nullptr);
}

// The SNR of `decoded` against `reference`, over the samples from `first` to `last`.
double snrDb(std::span<const std::int16_t> decoded, std::span<const double> reference,
             std::size_t first, std::size_t last) {
    double signal = 0;
    double noise = 0;
    for (std::size_t i = first; i < last; ++i) {
        signal += reference[i] * reference[i];
        noise += (decoded[i] - reference[i]) * (decoded[i] - reference[i]);
    }
    return 10 * std::log10(signal / noise);
}

std::vector<std::int16_t> decodeAll(const fs::path& path) {
    AcmStream stream = AcmStream::openFile(path.string());
    std::vector<std::int16_t> samples(stream.sampleCount());
    samples.resize(stream.read(samples));
    return samples;
}

// A program on the PATH, or nothing.
std::optional<fs::path> onPath(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::istringstream folders(path == nullptr ? "" : path);
    for (std::string folder; std::getline(folders, folder, ':');) {
        const fs::path candidate = fs::path(folder) / name;
        if (::access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    return std::nullopt;
}

// The 16-bit sample nearest `value` (in 16-bit units), clipped, as the program rounds.
std::int16_t rounded(double value) {
    return static_cast<std::int16_t>(std::lround(std::clamp(value, -32768.0, 32767.0)));
}

// One output frame from one input frame (both interleaved), as a listener expects the fold.
using FoldOfFrame = std::function<std::vector<double>(const std::int16_t*)>;

struct FoldCase {
    const char* label;
    unsigned inputChannels;
    const char* channels;  // --channels
    unsigned outputChannels;
    FoldOfFrame fold;
    const char* summary;  // what the summary line says of the channels
};

class FitChannels : public FitProgram, public ::testing::WithParamInterface<FoldCase> {};

TEST_P(FitChannels, WritesTheLibrarysStreamOfTheFoldedInput) {
    const FoldCase& c = GetParam();
    const std::size_t frames = 20000;
    const std::vector<std::int16_t> input = testSignal(frames, c.inputChannels, 11);
    testing::writeWav16(dir / "in.wav", static_cast<int>(c.inputChannels), kRate, input);
    std::vector<std::int16_t> folded;
    for (std::size_t frame = 0; frame < frames; ++frame) {
        for (const double value : c.fold(&input[frame * c.inputChannels]))
            folded.push_back(rounded(value));
    }

    const ProgramResult result = encode({"--channels", c.channels, "-o", "out.acm", "in.wav"});
    ASSERT_EQ(result.exitStatus, 0) << result.errors;
    EXPECT_NE(result.errors.find(std::string(": 0.91 s, ") + c.summary + ", 22050 Hz, "),
              std::string::npos)
        << result.errors;
    EXPECT_EQ(readFileBytes(dir / "out.acm"),
              testing::encodeWithLibrary(folded, c.outputChannels, kRate, {}).bytes);
}

INSTANTIATE_TEST_SUITE_P(
    Folds, FitChannels,
    ::testing::Values(
        FoldCase{"StereoToMono", 2, "1", 1,
                 [](const std::int16_t* f) { return std::vector<double>{(f[0] + f[1]) / 2.0}; },
                 "mono from stereo"},
        FoldCase{"MonoToStereo", 1, "2", 2,
                 [](const std::int16_t* f) {
                     return std::vector<double>{1.0 * f[0], 1.0 * f[0]};
                 },
                 "stereo from mono"},
        // WAV's 5.1: L R C LFE Ls Rs. The LFE is left out.
        FoldCase{"FivePointOneToStereo", 6, "2", 2,
                 [](const std::int16_t* f) {
                     return std::vector<double>{f[0] + kMinus3Db * (f[2] + f[4]),
                                                f[1] + kMinus3Db * (f[2] + f[5])};
                 },
                 "stereo from 6 channels"},
        FoldCase{"FivePointOneToMono", 6, "1", 1,
                 [](const std::int16_t* f) {
                     return std::vector<double>{(f[0] + f[1] + f[2] + f[4] + f[5]) / 5.0};
                 },
                 "mono from 6 channels"},
        // Quadraphonic: L R Ls Rs.
        FoldCase{"FourToStereo", 4, "2", 2,
                 [](const std::int16_t* f) {
                     return std::vector<double>{f[0] + kMinus3Db * f[2], f[1] + kMinus3Db * f[3]};
                 },
                 "stereo from 4 channels"},
        FoldCase{"FourToMono", 4, "1", 1,
                 [](const std::int16_t* f) {
                     return std::vector<double>{(f[0] + f[1] + f[2] + f[3]) / 4.0};
                 },
                 "mono from 4 channels"},
        FoldCase{
            "ThreeToMono", 3, "1", 1,
            [](const std::int16_t* f) { return std::vector<double>{(f[0] + f[1] + f[2]) / 3.0}; },
            "mono from 3 channels"}),
    [](const auto& test) { return std::string(test.param.label); });

// Asking for the channels the input has changes nothing: the stream is the input's own.
TEST_F(FitProgram, ChannelsTheInputHasLeaveItAsItIs) {
    const std::vector<std::int16_t> input = testSignal(15000, 2, 4);
    testing::writeWav16(dir / "in.wav", 2, kRate, input);
    const ProgramResult result = encode({"--channels=2", "-o", "out.acm", "in.wav"});
    ASSERT_EQ(result.exitStatus, 0) << result.errors;
    EXPECT_NE(result.errors.find(": 0.68 s, stereo, 22050 Hz, "), std::string::npos)
        << result.errors;
    EXPECT_EQ(readFileBytes(dir / "out.acm"),
              testing::encodeWithLibrary(input, 2, kRate, {}).bytes);
}

// A fold louder than full scale is clipped once, counted and warned of; a NaN silences its
// own sample only, not the channels it is folded into.
TEST_F(FitProgram, LoudFoldIsClippedAndNotANumberSilencesOneSample) {
    std::vector<float> input(6 * 1000, 0.9F);
    input[6 * 500 + 2] = std::nanf("");  // the centre of frame 500
    testing::writeSoundFile(dir / "in.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 6, kRate,
                            std::span<const float>(input));
    const ProgramResult result = encode({"--channels", "2", "-o", "out.acm", "in.wav"});
    ASSERT_EQ(result.exitStatus, 0) << result.errors;
    EXPECT_NE(result.errors.find("against the clipped input"), std::string::npos);
    EXPECT_NE(result.errors.find("in.wav: warning: 2000 samples beyond full scale were clipped"),
              std::string::npos)
        << result.errors;
    EXPECT_NE(result.errors.find("in.wav: warning: 1 samples were not numbers"), std::string::npos)
        << result.errors;
}

struct RefusedFitCase {
    const char* label;
    int channels;
    int rate;
    std::vector<std::string> options;
    const char* message;
};

class FitRefusal : public FitProgram, public ::testing::WithParamInterface<RefusedFitCase> {};

// Inputs an ACM file cannot carry as they are are refused with the option that helps, and
// nothing is written.
TEST_P(FitRefusal, NamesTheOptionThatHelps) {
    const RefusedFitCase& c = GetParam();
    testing::writeWav16(dir / "in.wav", c.channels, c.rate,
                        std::vector<std::int16_t>(300 * static_cast<std::size_t>(c.channels)));
    std::vector<std::string> arguments = c.options;
    arguments.push_back("in.wav");
    const ProgramResult result = encode(arguments);
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(result.errors, std::string("talveco-encode: in.wav: ") + c.message + "\n");
    EXPECT_FALSE(fs::exists(dir / "in.acm"));
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, FitRefusal,
    ::testing::Values(
        RefusedFitCase{"SixChannelsUnasked",
                       6,
                       kRate,
                       {},
                       "6 channels: an ACM file carries mono or stereo; --channels 1 or 2 folds "
                       "them"},
        RefusedFitCase{"FiveChannelsToStereo",
                       5,
                       kRate,
                       {"--channels", "2"},
                       "5 channels: there is no standard fold of them to stereo (only of 4 "
                       "channels and 5.1); --channels 1 averages them"},
        RefusedFitCase{"RateAboveHeaderFieldUnasked",
                       1,
                       96000,
                       {"--channels", "1"},
                       "96000 Hz: an ACM file states rates from 1 to 65535 Hz; --resample HZ "
                       "resamples it"}),
    [](const auto& test) { return std::string(test.param.label); });

// A 48 kHz stereo sweep coded at 22050 Hz mono decodes to what sox's very-high-quality
// resampling and channel averaging of it gives, to within the coding noise the summary reports,
// and has as many samples.
TEST_F(FitProgram, SweepResampledAndFoldedMatchesSox) {
    const std::optional<fs::path> sox = onPath("sox");
    if (!sox) GTEST_SKIP() << "sox is not installed";
    constexpr int kInputRate = 48000;
    constexpr std::size_t kFrames = 3 * kInputRate + 17;
    std::vector<std::int16_t> sweep(2 * kFrames);
    for (std::size_t i = 0; i < kFrames; ++i) {
        // Left sweeps 20 Hz to 20 kHz, right 30 Hz to 15 kHz, both linearly, at -6 dBFS.
        const double t = static_cast<double>(i) / kInputRate;
        const double seconds = static_cast<double>(kFrames) / kInputRate;
        for (const auto& [channel, high] : {std::pair{0, 20000.0}, std::pair{1, 15000.0}}) {
            const double low = channel == 0 ? 20.0 : 30.0;
            const double phase =
                2 * std::numbers::pi * (low * t + (high - low) * t * t / seconds / 2);
            sweep[2 * i + static_cast<std::size_t>(channel)] =
                static_cast<std::int16_t>(std::lround(16384 * std::sin(phase)));
        }
    }
    testing::writeWav16(dir / "sweep.wav", 2, kInputRate, sweep);

    const ProgramResult result =
        encode({"--resample", "22050", "--channels", "1", "-o", "out.acm", "sweep.wav"});
    ASSERT_EQ(result.exitStatus, 0) << result.errors;
    EXPECT_NE(result.errors.find(": 3.00 s, mono from stereo, 22050 Hz from 48000 Hz, "),
              std::string::npos)
        << result.errors;
    testing::RunOptions soxRun;
    soxRun.program = sox->string();
    const ProgramResult soxResult = testing::runProgram(
        {"-D", "sweep.wav", "-b", "16", "sox.wav", "rate", "-v", "22050", "channels", "1"},
        dir.path(), soxRun);
    ASSERT_EQ(soxResult.exitStatus, 0) << soxResult.errors;

    const std::vector<std::int16_t> decoded = decodeAll(dir / "out.acm");
    const std::vector<std::int16_t> bySox = testing::wavDataSamples(dir / "sox.wav");
    ASSERT_EQ(decoded.size(), bySox.size());
    const std::vector<double> reference(bySox.begin(), bySox.end());
    const double reported = reportedSnr(result.errors);
    EXPECT_GE(snrDb(decoded, reference, 0, reference.size()), reported - 1) << result.errors;
}

struct RateCase {
    const char* label;
    int inputRate;
    int channels;
    std::size_t frames;
    const char* outputRate;  // --resample
    std::size_t outputFrames;
    const char* summary;
};

class FitRate : public FitProgram, public ::testing::WithParamInterface<RateCase> {};

// A 1 kHz tone at -10 dBFS comes out at the rate asked for, as long as sox would make it
// (a half frame rounded up), and decodes to that tone sampled at the new rate to within the
// coding noise reported (its first and last milliseconds left out, where it starts and stops).
TEST_P(FitRate, ToneComesOutAtTheRateAskedFor) {
    const RateCase& c = GetParam();
    const double amplitude = 0.316 * 32768;
    const auto tone = [&](std::size_t frame, int rate) {
        return amplitude *
               std::sin(2 * std::numbers::pi * 1000 * static_cast<double>(frame) / rate);
    };
    std::vector<std::int16_t> input;
    for (std::size_t i = 0; i < c.frames; ++i)
        input.insert(input.end(), static_cast<std::size_t>(c.channels),
                     static_cast<std::int16_t>(std::lround(tone(i, c.inputRate))));
    testing::writeWav16(dir / "in.wav", c.channels, c.inputRate, input);

    const ProgramResult result = encode({"--resample", c.outputRate, "-o", "out.acm", "in.wav"});
    ASSERT_EQ(result.exitStatus, 0) << result.errors;
    EXPECT_NE(result.errors.find(c.summary), std::string::npos) << result.errors;
    AcmStream stream = AcmStream::openFile((dir / "out.acm").string());
    const unsigned rate = static_cast<unsigned>(std::stoul(c.outputRate));
    EXPECT_EQ(stream.sampleRate(), rate);
    ASSERT_EQ(stream.sampleCount(), c.outputFrames * static_cast<std::size_t>(c.channels));
    const std::vector<std::int16_t> decoded = decodeAll(dir / "out.acm");
    std::vector<double> expected;
    for (std::size_t i = 0; i < c.outputFrames; ++i)
        expected.insert(expected.end(), static_cast<std::size_t>(c.channels),
                        tone(i, static_cast<int>(rate)));
    const std::size_t edge = rate / 1000 * static_cast<std::size_t>(c.channels);
    EXPECT_GE(snrDb(decoded, expected, edge, expected.size() - edge),
              reportedSnr(result.errors) - 1)
        << result.errors;
}

INSTANTIATE_TEST_SUITE_P(
    Rates, FitRate,
    ::testing::Values(
        // 96160 x 44100 / 96000 = 44173.5
        RateCase{"From96kHz", 96000, 1, 96160, "44100", 44174, "mono, 44100 Hz from 96000 Hz, "},
        // 8080 x 22050 / 8000 = 22270.5
        RateCase{"From8kHz", 8000, 2, 8080, "22050", 22271, "stereo, 22050 Hz from 8000 Hz, "},
        // 48159 x 22050 / 48000 = 22123.04
        RateCase{"From48kHz", 48000, 2, 48159, "22050", 22123, "stereo, 22050 Hz from 48000 Hz, "}),
    [](const auto& test) { return std::string(test.param.label); });

struct LikeCase {
    const char* label;
    std::vector<std::string> options;
    unsigned channels;
    unsigned rate;
    const char* summary;
};

class FitLike : public FitProgram, public ::testing::WithParamInterface<LikeCase> {};

// An edit at 48 kHz stereo coded --like a 22050 Hz mono stream takes that stream's rate and
// channels, unless --channels or --resample say otherwise.
TEST_P(FitLike, TakesTheOldStreamsRateAndChannels) {
    const LikeCase& c = GetParam();
    testing::writeWav16(dir / "old.wav", 1, kRate, testSignal(11025, 1, 5));
    ASSERT_EQ(encode({"-s", "-o", "old.acm", "old.wav"}).exitStatus, 0);
    testing::writeWav16(dir / "edit.wav", 2, 48000, testSignal(24000, 2, 6));
    std::vector<std::string> arguments = {"--like", "old.acm"};
    arguments.insert(arguments.end(), c.options.begin(), c.options.end());
    arguments.insert(arguments.end(), {"-o", "new.acm", "edit.wav"});

    const ProgramResult result = encode(arguments);
    ASSERT_EQ(result.exitStatus, 0) << result.errors;
    EXPECT_NE(result.errors.find(std::string(": 0.50 s, ") + c.summary), std::string::npos)
        << result.errors;
    AcmStream stream = AcmStream::openFile((dir / "new.acm").string());
    EXPECT_EQ(stream.channels(), c.channels);
    EXPECT_EQ(stream.sampleRate(), c.rate);
    EXPECT_EQ(stream.sampleCount(), Resampler::outputFrames(24000, 48000, c.rate) * c.channels);
}

INSTANTIATE_TEST_SUITE_P(
    Streams, FitLike,
    ::testing::Values(
        LikeCase{"OldRateAndChannels", {}, 1, 22050, "mono from stereo, 22050 Hz from 48000 Hz, "},
        LikeCase{
            "ChannelsGiven", {"--channels", "2"}, 2, 22050, "stereo, 22050 Hz from 48000 Hz, "},
        LikeCase{"RateGiven",
                 {"--resample", "11025"},
                 1,
                 11025,
                 "mono from stereo, 11025 Hz from 48000 Hz, "},
        LikeCase{
            "BothGiven", {"--resample=48000", "--channels=2"}, 2, 48000, "stereo, 48000 Hz, "}),
    [](const auto& test) { return std::string(test.param.label); });

// An old stream whose header states no channels or no rate has nothing to fit the input to:
// it is refused with what it states, and nothing is written.
TEST_F(FitProgram, LikeStreamOfNoChannelsOrRateIsRefused) {
    testing::writeWav16(dir / "in.wav", 1, kRate, testSignal(1000, 1, 2));
    const std::pair<std::vector<std::uint8_t>, std::string> cases[] = {
        {{0x97, 0x28, 0x03, 0x01, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, "0 channels at 0 Hz"},
        {{0x97, 0x28, 0x03, 0x01, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0}, "1 channels at 0 Hz"},
        {{0x97, 0x28, 0x03, 0x01, 0, 0, 0, 0, 3, 0, 0x22, 0x56, 0, 0}, "3 channels at 22050 Hz"},
    };
    for (const auto& [header, states] : cases) {
        testing::writeFileBytes(dir / "old.acm", header);
        const ProgramResult result = encode({"--like", "old.acm", "in.wav"});
        EXPECT_EQ(result.exitStatus, 1);
        EXPECT_EQ(result.errors, "talveco-encode: in.wav: --like old.acm: the header states " +
                                     states +
                                     "; an ACM file carries mono or stereo at 1 to 65535 Hz\n");
        EXPECT_FALSE(fs::exists(dir / "in.acm"));
    }
}

// The length an ACM file can announce is that of the fitted input: an input that fits as it
// is but not resampled to a higher rate is refused before anything is coded.
TEST_F(FitProgram, InputTooLongOnceResampledIsRefused) {
    // 2^27 frames of 16-bit mono at 8000 Hz, the file sparse: 1.1 billion frames at 65535 Hz.
    constexpr std::uint64_t kFrames = std::uint64_t{1} << 27;
    testing::writeWav16(dir / "in.wav", 1, 8000, std::vector<std::int16_t>(8));
    std::vector<std::uint8_t> bytes = readFileBytes(dir / "in.wav");
    bytes.resize(44);
    const auto dataBytes = static_cast<std::uint32_t>(kFrames * 2);
    for (int i = 0; i < 4; ++i) {
        bytes[40 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(dataBytes >> (8 * i));
        bytes[4 + static_cast<std::size_t>(i)] =
            static_cast<std::uint8_t>((dataBytes + 36) >> (8 * i));
    }
    testing::writeFileBytes(dir / "in.wav", bytes);
    fs::resize_file(dir / "in.wav", 44 + kFrames * 2);

    const ProgramResult result = encode({"--resample", "65535", "in.wav"});
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(result.errors,
              "talveco-encode: in.wav: too long: an ACM file holds fewer than 2^30 samples (all "
              "channels together), this one has 1099494851 frames of 1 channels at 65535 Hz\n");
    EXPECT_FALSE(fs::exists(dir / "in.acm"));
}

// An ACM file as the input is fitted from what talveco's decoder makes of it, exactly.
TEST_F(FitProgram, AcmInputIsFittedFromItsDecodedSamples) {
    testing::writeWav16(dir / "old.wav", 1, kRate, testSignal(9000, 1, 8));
    ASSERT_EQ(encode({"-s", "-o", "old.acm", "old.wav"}).exitStatus, 0);
    const std::vector<std::int16_t> decoded = decodeAll(dir / "old.acm");
    std::vector<std::int16_t> both;
    for (const std::int16_t sample : decoded)
        both.insert(both.end(), {sample, sample});

    const ProgramResult result = encode({"--channels", "2", "-o", "new.acm", "old.acm"});
    ASSERT_EQ(result.exitStatus, 0) << result.errors;
    EXPECT_EQ(readFileBytes(dir / "new.acm"), testing::encodeWithLibrary(both, 2, kRate, {}).bytes);
}

// Resampling in pieces of any size gives what resampling all at once gives, as many frames
// as sox rounds to.
TEST(Resampler, PiecesGiveWhatTheWholeGives) {
    constexpr unsigned kChannels = 2;
    std::vector<double> input(2 * 10007);
    for (std::size_t i = 0; i < input.size(); ++i)
        input[i] = 0.5 * std::sin(0.01 * static_cast<double>(i)) * (i % 2 == 0 ? 1 : -0.5);
    const auto resample = [&](std::size_t pieceFrames) {
        Resampler resampler(44100, 22050, kChannels);
        std::vector<double> out;
        for (std::size_t at = 0; at < input.size(); at += pieceFrames * kChannels) {
            const std::size_t count = std::min(pieceFrames * kChannels, input.size() - at);
            resampler.process(std::span(input).subspan(at, count), out);
        }
        resampler.finish(out);
        return out;
    };
    const std::vector<double> whole = resample(input.size());
    EXPECT_EQ(whole.size(), 2 * Resampler::outputFrames(10007, 44100, 22050));
    for (const std::size_t piece : {1U, 7U, 4096U}) {
        const std::vector<double> pieces = resample(piece);
        ASSERT_EQ(pieces.size(), whole.size()) << piece;
        double largest = 0;
        for (std::size_t i = 0; i < whole.size(); ++i)
            largest = std::max(largest, std::abs(pieces[i] - whole[i]));
        EXPECT_LT(largest, 1e-9) << piece;
    }
}

TEST(Resampler, OutputFramesRoundAsSoxDoes) {
    struct Case {
        std::uint64_t frames;
        unsigned from, to;
        std::uint64_t expected;
    };
    const Case cases[] = {
        {160, 48000, 22050, 74},                 // 73.5: halves go up
        {159, 48000, 22050, 73},                 // 73.04
        {3, 44100, 22050, 2},                    // 1.5
        {0, 48000, 8000, 0},                     //
        {1, 8000, 65535, 8},                     // 8.19
        {8589934592, 65535, 65535, 8589934592},  // the longest input a pipe may bring
    };
    for (const Case& c : cases)
        EXPECT_EQ(Resampler::outputFrames(c.frames, c.from, c.to), c.expected)
            << c.frames << " at " << c.from << " to " << c.to;
}

// The fold's weights, each output channel's summing to what a listener expects: unity for
// the fronts, -3 dB for centre and surrounds, an average for mono.
TEST(ChannelFold, WeightsOfEachOutputChannel) {
    struct Case {
        unsigned inputs, outputs;
        std::vector<double> weights;
    };
    const double h = kMinus3Db;
    const Case cases[] = {
        {2, 1, {0.5, 0.5}},
        {1, 2, {1, 1}},
        {6, 1, {0.2, 0.2, 0.2, 0, 0.2, 0.2}},
        {6, 2, {1, 0, h, 0, h, 0, 0, 1, h, 0, 0, h}},
        {4, 2, {1, 0, h, 0, 0, 1, 0, h}},
        {8, 1, std::vector<double>(8, 0.125)},
    };
    for (const Case& c : cases) {
        const ChannelFold fold = ChannelFold::between(c.inputs, c.outputs);
        ASSERT_EQ(fold.weights.size(), c.weights.size()) << c.inputs << " to " << c.outputs;
        for (std::size_t i = 0; i < c.weights.size(); ++i)
            EXPECT_NEAR(fold.weights[i], c.weights[i], 1e-12) << c.inputs << " to " << c.outputs;
    }
    for (const unsigned inputs : {3U, 5U, 7U, 8U})
        EXPECT_THROW(ChannelFold::between(inputs, 2), InputRefused) << inputs;
    // A stream of more channels is no fold: the C interface may ask for one.
    for (const unsigned outputs : {0U, 3U, 4U})
        EXPECT_THROW(ChannelFold::between(6, outputs), InputRefused) << outputs;
}

}  // namespace
}  // namespace talveco
