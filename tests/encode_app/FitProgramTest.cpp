// talveco-encode fitting its input to the stream wanted (--channels), run as a user runs it:
// the stream it writes is the library's stream of the input folded as a listener expects.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <functional>
#include <numbers>

#include "app/encode/InputFitting.h"
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
    std::vector<std::string> options;
    const char* message;
};

class FitRefusal : public FitProgram, public ::testing::WithParamInterface<RefusedFitCase> {};

// Inputs an ACM file cannot carry as they are are refused with the option that helps, and
// nothing is written.
TEST_P(FitRefusal, NamesTheOptionThatHelps) {
    const RefusedFitCase& c = GetParam();
    testing::writeWav16(dir / "in.wav", c.channels, kRate,
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
                       {},
                       "6 channels: an ACM file carries mono or stereo; --channels 1 or 2 folds "
                       "them"},
        RefusedFitCase{"FiveChannelsToStereo",
                       5,
                       {"--channels", "2"},
                       "5 channels: there is no standard fold of them to stereo (only of 4 "
                       "channels and 5.1); --channels 1 averages them"}),
    [](const auto& test) { return std::string(test.param.label); });

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
}

}  // namespace
}  // namespace talveco
