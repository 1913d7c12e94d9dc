// The encoder against the project's decoder: every stream decodes to exactly
// the samples the encoder predicted, never wraps, and meets its quality and
// bitrate on generated material.
#include <sys/resource.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <latch>
#include <limits>
#include <optional>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/Interrupts.h"
#include "talveco/encoder.h"
#include "talveco/talveco.h"
#include "tests/support/AcmStreamBuilder.h"
#include "tests/support/EncoderRuns.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestSignals.h"
#include "tests/support/WrappedSamples.h"

namespace talveco {
namespace {

using testing::fullScaleSquare;
using testing::impulses;
using testing::tones;
using testing::whiteNoise;

using testing::Encoded;

Encoded encode(const std::vector<std::int16_t>& samples, unsigned channels,
               const EncoderSettings& settings, std::size_t piece = 0) {
    return testing::encodeInMemory(samples, channels, settings, piece);
}

std::vector<std::int16_t> decode(const std::vector<std::uint8_t>& bytes, unsigned channels) {
    AcmStream stream = AcmStream::openMemory(bytes);
    EXPECT_EQ(stream.channels(), channels);
    EXPECT_EQ(stream.sampleRate(), 22050u);
    std::vector<std::int16_t> samples(stream.sampleCount() + 1);
    samples.resize(stream.read(samples));
    return samples;
}

// The largest difference among samples first .. last - 1.
int largestError(const std::vector<std::int16_t>& a, const std::vector<std::int16_t>& b,
                 std::size_t first = 0, std::size_t last = SIZE_MAX) {
    int largest = 0;
    for (std::size_t i = first; i < std::min({a.size(), b.size(), last}); ++i)
        largest = std::max(largest, std::abs(int(a[i]) - int(b[i])));
    return largest;
}

// The largest distance of a decoded sample among the first `count` from the span between 0
// and its input sample.
int largestStray(const std::vector<std::int16_t>& input, const std::vector<std::int16_t>& decoded,
                 std::size_t count) {
    int largest = 0;
    for (std::size_t i = 0; i < std::min({input.size(), decoded.size(), count}); ++i) {
        const int x = input[i];
        const int d = decoded[i];
        const int outside = x >= 0 ? (d > x ? d - x : -d) : (d < x ? x - d : d);
        largest = std::max(largest, outside);
    }
    return largest;
}

EncoderSettings geometry(unsigned levels, unsigned rows) {
    EncoderSettings settings;
    settings.levels = levels;
    settings.rows = rows;
    return settings;
}

EncoderSettings bitrate(double kbps) {
    return testing::atBitrate(kbps);
}

// The seed of the random material, printed so that a failure can be redone.
std::uint32_t testSeed() {
    static const std::uint32_t seed = [] {
        const char* given = std::getenv("TALVECO_TEST_SEED");
        const std::uint32_t value =
            given ? std::uint32_t(std::strtoul(given, nullptr, 10)) : std::random_device{}();
        std::printf("random material from seed %u (TALVECO_TEST_SEED)\n", value);
        return value;
    }();
    return seed;
}

struct RoundTripCase {
    std::string name;
    std::function<std::vector<std::int16_t>()> signal;
    unsigned channels = 1;
    EncoderSettings settings;
    // Past the start; none for loud noise, where clipped stage-1 values can
    // put a sample far off (without wrapping it).
    std::optional<int> largestAllowedError = 4096;
};

class RoundTrip : public ::testing::TestWithParam<RoundTripCase> {};

TEST_P(RoundTrip, DecodesToThePredictionWithoutWrapping) {
    const RoundTripCase& c = GetParam();
    const std::vector<std::int16_t> input = c.signal();
    const Encoded encoded = encode(input, c.channels, c.settings);
    const std::vector<std::int16_t> decoded = decode(encoded.bytes, c.channels);
    ASSERT_EQ(decoded.size(), input.size());
    EXPECT_EQ(decoded, encoded.predicted);
    EXPECT_EQ(testing::wrappedSamples(encoded.bytes), 0u);
    EXPECT_EQ(encoded.report.sampleCount, input.size());
    EXPECT_EQ(encoded.report.streamBytes, encoded.bytes.size());
    // The transform starts from rest, so a loud start is only approached.
    const std::size_t onset = std::size_t{2} << encoded.report.levels;
    EXPECT_EQ(largestError(input, decoded, 0, onset), int(encoded.report.onsetError));
    EXPECT_EQ(largestStray(input, decoded, onset), int(encoded.report.onsetStray));
    EXPECT_EQ(largestError(input, decoded, onset), int(encoded.report.afterOnsetError));
    const std::size_t attack = std::max<std::size_t>(onset, c.channels * ((22050 + 199) / 200));
    EXPECT_EQ(largestError(input, std::vector<std::int16_t>(input.size()), 0, attack),
              int(encoded.report.onsetPeak));
    if (c.largestAllowedError) {
        EXPECT_LE(largestError(input, decoded, onset), *c.largestAllowedError);
    }
    if (!input.empty() && decoded != input) {
        EXPECT_NEAR(encoded.report.snrDb, testing::snrDb(input, decoded), 1e-6);
    }
    if (c.settings.levels) {
        EXPECT_EQ(encoded.report.levels, *c.settings.levels);
    }
    if (c.settings.rows) {
        EXPECT_EQ(encoded.report.rows, *c.settings.rows);
    }
}

RoundTripCase roundTrip(const std::string& name, std::function<std::vector<std::int16_t>()> signal,
                        unsigned channels = 1, EncoderSettings settings = {},
                        std::optional<int> largestAllowedError = 4096) {
    return {name, std::move(signal), channels, settings, largestAllowedError};
}

RoundTripCase tone(const std::string& name, EncoderSettings settings) {
    return roundTrip(
        name,
        [] {
            return tones(9000, 22050, {440, 3100}, 0.2);
        },
        1, settings);
}

INSTANTIATE_TEST_SUITE_P(
    Signals, RoundTrip,
    ::testing::Values(
        roundTrip("silence", [] { return std::vector<std::int16_t>(5000, 0); }),
        roundTrip("empty", [] { return std::vector<std::int16_t>{}; }),
        roundTrip("one_sample", [] { return std::vector<std::int16_t>{-1234}; }),
        roundTrip("dc", [] { return std::vector<std::int16_t>(7000, 20000); }),
        roundTrip("negative_full_scale_dc", [] { return std::vector<std::int16_t>(3000, -32768); }),
        roundTrip(
            "full_scale_square", [] { return fullScaleSquare(20000, 37); }, 1, {}, 32767),
        roundTrip(
            "full_scale_square_fast", [] { return fullScaleSquare(5000, 1); }, 1, {}, 32767),
        roundTrip(
            "full_scale_sine", [] { return tones(20000, 22050, {1000}, 1.0); }, 1, {}, 32767),
        // Block 512 values, stripes of 126 rows of 16 at levels 4.
        roundTrip("impulses_at_boundaries",
                  [] {
                      return impulses(6000, {0, 511, 512, 1023, 2015, 2016, 4096}, 30000);
                  }),
        roundTrip(
            "impulses_wide_stripes",
            [] {
                return impulses(6000, {0, 2015, 2016, 4031, 4032}, -32768);
            },
            1, geometry(4, 300), 32767),
        roundTrip(
            "stereo",
            [] {
                return tones(8000, 22050, {300, 5000}, 0.3);
            },
            2),
        roundTrip(
            "loud_noise", [] { return whiteNoise(20000, 1.0, testSeed()); }, 1, {}, std::nullopt),
        // Far too loud for 7 levels: blocks are coded again with less level,
        // and the silence after each must not wrap either.
        roundTrip(
            "loud_noise_levels_7_rows_3", [] { return whiteNoise(19998, 1.0, testSeed()); }, 3,
            geometry(7, 3), std::nullopt),
        roundTrip(
            "loud_noise_bitrate", [] { return whiteNoise(20000, 0.9, testSeed()); }, 1, bitrate(60),
            std::nullopt),
        // Near full scale the stream is coded aside while its bits are checked, then sent
        // out in pieces: here more than one piece of bytes and of samples.
        roundTrip(
            "loud_noise_bitrate_long", [] { return whiteNoise(220500, 0.9, testSeed()); }, 1,
            bitrate(60), std::nullopt),
        tone("levels_0", geometry(0, 512)), tone("levels_1", geometry(1, 256)),
        tone("levels_2", geometry(2, 128)), tone("levels_3", geometry(3, 64)),
        tone("levels_4", geometry(4, 32)), tone("levels_5_rows_16", geometry(5, 16)),
        tone("levels_7_rows_3", geometry(7, 3)), tone("levels_9_rows_1", geometry(9, 1)),
        tone("levels_1_rows_1", geometry(1, 1)), tone("bitrate", bitrate(50))),
    [](const auto& test) { return test.param.name; });

// The pieces write() is given do not change the stream, also past the look-ahead in which
// the geometry is chosen: quiet, then loud enough that fewer levels would be chosen had the
// loud part been in view.
TEST(AcmEncoder, PiecesOfAnySizeGiveTheSameStream) {
    auto input = whiteNoise((std::size_t{1} << 19) + 60000, 0.01, testSeed());
    const auto loud = whiteNoise(60000, 1.0, testSeed());
    std::copy(loud.begin(), loud.end(), input.end() - 60000);
    const Encoded whole = encode(input, 1, {});
    for (const std::size_t piece : {1u, 7u, 4096u, 70001u}) {
        SCOPED_TRACE(piece);
        const Encoded pieces = encode(input, 1, {}, piece);
        EXPECT_EQ(pieces.bytes, whole.bytes);
        EXPECT_EQ(pieces.predicted, whole.predicted);
    }
}

struct QualityCase {
    std::string name;
    std::function<std::vector<std::int16_t>()> signal;
    EncoderSettings settings;
    double leastSnrDb;
    double mostBitsPerSample;
};

class Quality : public ::testing::TestWithParam<QualityCase> {};

TEST_P(Quality, MeetsItsFloor) {
    const QualityCase& c = GetParam();
    const Encoded encoded = encode(c.signal(), 1, c.settings);
    EXPECT_GE(encoded.report.snrDb, c.leastSnrDb);
    EXPECT_LE(encoded.report.bitsPerSample, c.mostBitsPerSample);
}

EncoderSettings quality(double q) {
    return testing::atQuality(q);
}

INSTANTIATE_TEST_SUITE_P(
    Material, Quality,
    ::testing::Values(QualityCase{"chord_quality_5",
                                  [] {
                                      return tones(44100, 22050, {220, 277, 330, 440}, 0.1);
                                  },
                                  quality(5), 25, 4},
                      QualityCase{"chord_3_bits",
                                  [] {
                                      return tones(44100, 22050, {220, 277, 330, 440}, 0.1);
                                  },
                                  bitrate(66.15), 30, 3.06},
                      QualityCase{"noise_4_bits",
                                  [] { return whiteNoise(44100, 0.05, testSeed()); }, bitrate(88.2),
                                  15, 4.08}),
    [](const auto& test) { return test.param.name; });

TEST(AcmEncoder, HigherQualitySpendsMoreBitsOnLessNoise) {
    const auto input = tones(30000, 22050, {150, 900, 2500}, 0.1);
    EncoderReport previous;
    for (const double q : {0.0, 2.5, 5.0, 7.5, 10.0}) {
        SCOPED_TRACE(q);
        const EncoderReport report = encode(input, 1, quality(q)).report;
        if (q > 0) {
            EXPECT_GT(report.bitsPerSample, previous.bitsPerSample);
            EXPECT_GT(report.snrDb, previous.snrDb);
        }
        previous = report;
    }
}

// Quantisation must not shift the sound: rounding in the transform's output shift is centred,
// so a quiet tone at the best quality is off by less than 0.2 of a step on average.
TEST(AcmEncoder, AQuietToneKeepsItsMean) {
    const auto input = tones(44100, 22050, {440}, 0.002);
    const Encoded encoded = encode(input, 1, quality(10));
    double sum = 0;
    for (std::size_t i = 0; i < input.size(); ++i)
        sum += double(encoded.predicted[i]) - input[i];
    EXPECT_LT(std::abs(sum / double(input.size())), 0.2);
}

// A sound that ends just past a block boundary leaves a last block that is mostly padding,
// which without a transform costs what samples cost: its few samples must come back as well
// as the rest, at a rate as at a quality (its 16 samples once came back as silence at every
// rate). A square burst of two values is coded exactly in both modes.
TEST(AcmEncoder, TheEndOfASoundInAMostlyPaddedLastBlockComesBack) {
    std::vector<std::int16_t> input(11 * 512 + 16);
    for (std::size_t i = 0; i < input.size(); ++i)
        input[i] = i / 37 % 2 == 0 ? 9889 : -9889;
    for (EncoderSettings settings : {quality(5), bitrate(40), bitrate(200)}) {
        SCOPED_TRACE(settings.bitrateKbps ? "bitrate " + std::to_string(*settings.bitrateKbps)
                                          : "quality");
        settings.levels = 0;
        settings.rows = 512;
        const Encoded encoded = encode(input, 1, settings);
        EXPECT_TRUE(std::equal(input.begin(), input.end(), encoded.predicted.begin()));
    }
}

// The average bitrate lands within a few percent of the one asked for, on
// a full-scale tone too, where blocks that would wrap are coded again.
TEST(AcmEncoder, BitrateModeMeetsTheRate) {
    auto mixture = tones(66150, 22050, {180, 1200, 4400}, 0.15);
    const auto noise = whiteNoise(mixture.size(), 0.02, testSeed());
    for (std::size_t i = 0; i < mixture.size(); ++i)
        mixture[i] = static_cast<std::int16_t>(mixture[i] + noise[i]);
    const auto fullScale = tones(66150, 22050, {1000}, 1.0);
    for (const auto* input :
         std::array<const std::vector<std::int16_t>*, 2>{&mixture, &fullScale}) {
        for (const double bitsPerSample : {2.0, 3.0, 4.0}) {
            SCOPED_TRACE(bitsPerSample);
            const Encoded encoded = encode(*input, 1, bitrate(bitsPerSample * 22.05));
            EXPECT_NEAR(encoded.report.bitsPerSample, bitsPerSample, 0.02 * bitsPerSample);
        }
    }
}

// Bitrate mode checks the rows by trials at the rate asked, whatever the channels and
// sample rate: at the lowest and the highest bitrate the limits allow, the file is coded.
TEST(AcmEncoder, BitrateModeCodesAtTheLimitsOfTheRate) {
    struct Case {
        unsigned channels;
        unsigned rate;
        double kbps;
    };
    const Case cases[] = {{8, 48000, limits::minBitrateKbps},
                          {1, 8000, limits::minBitrateKbps},
                          {2, 8000, limits::maxBitrateKbps(2, 8000)}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.channels) + " channels at " + std::to_string(c.rate) +
                     " Hz, " + std::to_string(c.kbps) + " kbit/s");
        const auto input = tones(20000 * std::size_t{c.channels}, c.rate, {500}, 0.3);
        AcmEncoder encoder = AcmEncoder::toMemory(c.channels, c.rate, bitrate(c.kbps));
        encoder.write(input);
        EncoderReport report;
        EXPECT_NO_THROW(report = encoder.finish());
        EXPECT_EQ(report.sampleCount, input.size());
    }
}

FailureKind failureOf(const std::function<void()>& call) {
    try {
        call();
    } catch (const Failure& failure) {
        return failure.kind();
    }
    ADD_FAILURE() << "no Failure raised";
    return FailureKind::IoError;
}

std::vector<std::string> fileNames(const testing::TempDir& dir) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
        names.push_back(entry.path().filename().string());
    return names;
}

struct LimitCase {
    std::string label;
    unsigned channels;
    unsigned rate;
    std::function<void(EncoderSettings&)> change;
    const char* message;  // part of what() that says what would do, or nothing
};

TEST(AcmEncoder, RefusesSettingsOutsideTheLimitsSayingWhatWouldDo) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const LimitCase cases[] = {
        {"levels_16", 1, 22050, [](auto& s) { s.levels = 16; },
         "levels must be from 0 to 15, not 16"},
        {"rows_0", 1, 22050, [](auto& s) { s.rows = 0; }, "rows must be from 1 to 4095"},
        {"rows_4096", 1, 22050, [](auto& s) { s.rows = 4096; }, "rows must be from 1 to 4095"},
        {"block_too_large", 1, 22050,
         [](auto& s) {
             s.levels = 15;
             s.rows = 4095;
         },
         "with levels 15 use at most 32 rows"},
        {"quality_negative", 1, 22050, [](auto& s) { s.quality = -3; },
         "the quality must be from 0 to 10, not -3"},
        {"quality_50", 1, 22050, [](auto& s) { s.quality = 50; }, "from 0 to 10"},
        {"quality_nan", 1, 22050, [nan](auto& s) { s.quality = nan; }, "from 0 to 10"},
        {"bitrate_0", 1, 22050, [](auto& s) { s.bitrateKbps = 0; },
         "the bitrate must be from 1 to 352.8 kbit/s"},
        {"bitrate_nan", 1, 22050, [nan](auto& s) { s.bitrateKbps = nan; }, "from 1 to"},
        {"bitrate_above_16_bits", 2, 8000, [](auto& s) { s.bitrateKbps = 256.5; },
         "from 1 to 256 kbit/s"},
        {"no_channels", 0, 22050, [](auto&) {}, "channels must be from 1 to 65535, not 0"},
        {"rate_65536", 1, 65536, [](auto&) {}, "the rate must be from 1 to 65535 Hz"},
    };
    testing::TempDir dir;
    for (const LimitCase& c : cases) {
        SCOPED_TRACE(c.label);
        EncoderSettings settings;
        c.change(settings);
        try {
            AcmEncoder::toFile((dir / "out.acm").string(), c.channels, c.rate, settings);
            ADD_FAILURE() << "accepted";
        } catch (const Failure& failure) {
            EXPECT_EQ(failure.kind(), FailureKind::OutsideLimits);
            EXPECT_NE(std::string(failure.what()).find(c.message), std::string::npos)
                << failure.what();
        }
    }
    EXPECT_EQ(fileNames(dir), std::vector<std::string>{});
    EncoderSettings largest;
    largest.levels = limits::maxLevels;
    largest.rows = limits::maxEncoderRows(limits::maxLevels);
    largest.bitrateKbps = limits::maxBitrateKbps(2, 8000);
    EXPECT_NO_THROW(AcmEncoder::toMemory(2, 8000, largest));
    EXPECT_NO_THROW(AcmEncoder::toMemory(limits::maxChannels, limits::maxSampleRate));
}

// After any exception out of write() or finish() every later call fails, and nothing is
// committed: no file, no bytes.
struct FailureCase {
    std::string label;
    unsigned channels;
    // Makes one call throw; `throwNow` arms the onDecoded callback.
    std::function<void(AcmEncoder&, bool& throwNow)> failOnce;
};

TEST(AcmEncoder, AFailureIsFinalAndCommitsNothing) {
    const auto input = tones(200000, 22050, {500}, 0.3);
    const FailureCase cases[] = {
        {"callback_throws_in_finish", 1,
         [&](AcmEncoder& e, bool& throwNow) {
             e.write(std::span(input).first(100));
             throwNow = true;
             e.finish();
         }},
        {"half_a_frame", 2,
         [&](AcmEncoder& e, bool&) {
             e.write(std::span(input).first(4000));
             e.write(std::span(input).first(3));
         }},
    };
    for (const FailureCase& c : cases) {
        SCOPED_TRACE(c.label);
        testing::TempDir dir;
        for (const bool toFile : {true, false}) {
            AcmEncoder encoder = toFile ? AcmEncoder::toFile((dir / "x.acm").string(), c.channels,
                                                             22050, geometry(4, 32))
                                        : AcmEncoder::toMemory(c.channels, 22050, geometry(4, 32));
            bool throwNow = false;
            encoder.onDecoded([&throwNow](std::span<const std::int16_t>) {
                if (throwNow) throw std::runtime_error("callback failed");
            });
            EXPECT_ANY_THROW(c.failOnce(encoder, throwNow));
            throwNow = false;
            EXPECT_EQ(failureOf([&] { encoder.write(std::span(input).first(2)); }),
                      FailureKind::FailedEarlier);
            EXPECT_EQ(failureOf([&] { encoder.finish(); }), FailureKind::FailedEarlier);
            EXPECT_EQ(failureOf([&] { encoder.bytes(); }), FailureKind::FailedEarlier);
            EXPECT_EQ(fileNames(dir), std::vector<std::string>{});
        }
    }
}

// A caller that catches a full disk out of write(), frees space and calls finish(): true when
// the disk was full, finish() refused and no file appeared.
bool finishAfterAFullDiskCommitsNothing(const std::string& path,
                                        const std::vector<std::int16_t>& input) {
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit{};
    ::getrlimit(RLIMIT_FSIZE, &limit);
    const rlimit small{100000, limit.rlim_max};
    ::setrlimit(RLIMIT_FSIZE, &small);
    AcmEncoder encoder = AcmEncoder::toFile(path, 1, 22050, geometry(4, 32));
    const bool full = failureOf([&] { encoder.write(input); }) == FailureKind::DiskFull;
    ::setrlimit(RLIMIT_FSIZE, &limit);
    const bool refused = failureOf([&] { encoder.finish(); }) == FailureKind::FailedEarlier;
    return full && refused && !std::filesystem::exists(path);
}

// In a child process, since it sets a file size limit.
TEST(AcmEncoderDeathTest, FinishAfterAWriteErrorCommitsNothing) {
    testing::TempDir dir;
    // More than the scratch file holds in memory, so that write() reaches the disk.
    const auto input = whiteNoise(600000, 0.5, testSeed());
    EXPECT_EXIT(
        std::exit(finishAfterAFullDiskCommitsNothing((dir / "full.acm").string(), input) ? 0 : 1),
        ::testing::ExitedWithCode(0), "");
    EXPECT_EQ(fileNames(dir), std::vector<std::string>{});
}

// Misuse is refused and changes nothing: the encoder still finishes.
TEST(AcmEncoder, MisuseIsRefusedAndChangesNothing) {
    testing::TempDir dir;
    const auto input = tones(3000, 22050, {500}, 0.3);
    AcmEncoder inMemory = AcmEncoder::toMemory(1, 22050);
    AcmEncoder toFile = AcmEncoder::toFile((dir / "f.acm").string(), 1, 22050);
    for (AcmEncoder* encoder : {&inMemory, &toFile}) {
        encoder->write(input);
        EXPECT_EQ(failureOf([&] { encoder->onDecoded([](auto) {}); }), FailureKind::InvalidCall);
        EXPECT_EQ(failureOf([&] { encoder->bytes(); }), FailureKind::InvalidCall);
        encoder->finish();
        EXPECT_EQ(failureOf([&] { encoder->finish(); }), FailureKind::InvalidCall);
        EXPECT_EQ(failureOf([&] { encoder->write(input); }), FailureKind::InvalidCall);
        EXPECT_EQ(failureOf([&] { encoder->onProgress({}); }), FailureKind::InvalidCall);
    }
    EXPECT_EQ(failureOf([&] { toFile.bytes(); }), FailureKind::InvalidCall);
    EXPECT_EQ(inMemory.bytes(), encode(input, 1, {}).bytes);
    EXPECT_EQ(testing::readFileBytes(dir / "f.acm"), inMemory.bytes());

    AcmEncoder taken = std::move(inMemory);
    EXPECT_EQ(taken.bytes().size(), testing::readFileBytes(dir / "f.acm").size());
    EXPECT_EQ(failureOf([&] { inMemory.write(input); }), FailureKind::InvalidCall);
    EXPECT_EQ(failureOf([&] { inMemory.finish(); }), FailureKind::InvalidCall);
    EXPECT_EQ(failureOf([&] { inMemory.bytes(); }), FailureKind::InvalidCall);
    EXPECT_EQ(failureOf([&] { inMemory.onDecoded({}); }), FailureKind::InvalidCall);
}

// The wrap check itself: one level, the pair (32767, -32768) makes 2 * 32767
// + 32768 in the lower value, which shifts down to 49151.
TEST(WrappedSamples, FindsAValueBeyondTheRange) {
    testing::AcmStreamBuilder builder(4, 1, 2);
    builder.blockHeader(15, 1).column(16, {32767, 0}).column(16, {-32768, 0});
    EXPECT_EQ(testing::wrappedSamples(builder.bytes()), 1u);
}

// A stream whose amplitude entries wrap past 16 bits (index -1471 at step 30
// is 21406) and whose samples wrap, decoded and coded again like itself,
// comes back whole: such blocks are copied as they were.
TEST(Like, GivesBackEntriesAndSamplesThatWrap) {
    constexpr unsigned levels = 5;
    constexpr unsigned columns = 1u << levels;
    testing::AcmStreamBuilder builder(3 * columns, levels, 1, 1);
    builder.blockHeader(15, 30).column(16, {-1471});
    for (unsigned c = 1; c < columns; ++c)
        builder.column(16, {int(c * 37 % 11) - 5});
    builder.blockHeader(15, 1).column(16, {32767}).column(16, {-32768});
    for (unsigned c = 2; c < columns; ++c)
        builder.zeroColumn();
    builder.blockHeader(0, 1);
    for (unsigned c = 0; c < columns; ++c)
        builder.zeroColumn();
    const std::vector<std::int16_t> old = decode(builder.bytes(), 1);
    ASSERT_EQ(old.size(), 3 * columns);
    EncoderSettings like;
    like.likeStream = builder.bytes();
    const Encoded again = encode(old, 1, like);
    EXPECT_EQ(decode(again.bytes, 1), old);
    EXPECT_EQ(again.report.exactSamples, old.size());
}

// Two file encoders on two threads: one finishes while the other is still writing, then the
// process is interrupted. The finished file is the one encoded in memory, and the unfinished
// one's temporary file is removed: finishing one encoder must not drop the other's clean-up.
void finishOneInterruptTheOther(const testing::TempDir& dir,
                                const std::vector<std::int16_t>& input) {
    installInterruptCleanup();
    std::optional<AcmEncoder> unfinished;
    std::latch started(1);  // the unfinished file exists before the other is made
    std::thread writing([&] {
        unfinished.emplace(AcmEncoder::toFile((dir / "cut.acm").string(), 1, 22050));
        started.count_down();
        unfinished->write(input);
    });
    std::thread finishing([&] {
        started.wait();
        AcmEncoder encoder = AcmEncoder::toFile((dir / "done.acm").string(), 1, 22050);
        encoder.write(input);
        encoder.finish();
    });
    finishing.join();
    writing.join();
    std::raise(SIGTERM);
}

TEST(AcmEncoderDeathTest, EncodersOnTwoThreadsKeepTheirOwnFilesAndCleanUp) {
    testing::TempDir dir;
    const auto input = whiteNoise(300000, 0.2, testSeed());
    EXPECT_EXIT(finishOneInterruptTheOther(dir, input), ::testing::KilledBySignal(SIGTERM), "");
    EXPECT_EQ(fileNames(dir), std::vector<std::string>{"done.acm"});
    EXPECT_EQ(testing::readFileBytes(dir / "done.acm"), encode(input, 1, {}).bytes);
}

TEST(AcmEncoder, WritesTheFileOnlyWhenFinished) {
    testing::TempDir dir;
    const auto input = tones(3000, 22050, {500}, 0.3);
    const Encoded inMemory = encode(input, 1, {});
    {
        AcmEncoder abandoned = AcmEncoder::toFile((dir / "gone.acm").string(), 1, 22050);
        abandoned.write(input);
    }
    AcmEncoder encoder = AcmEncoder::toFile((dir / "kept.acm").string(), 1, 22050);
    encoder.write(input);
    encoder.finish();
    EXPECT_EQ(testing::readFileBytes(dir / "kept.acm"), inMemory.bytes);
    EXPECT_EQ(fileNames(dir), std::vector<std::string>{"kept.acm"});
}

// In both modes the input waits outside memory until finish() and is read back in windows:
// over many windows, stereo, loud enough that blocks are coded again, the stream is the same
// whatever the pieces, decodes as predicted, the report measures it against the right input,
// and the waiting leaves no file of its own beside the output, before finish() or after.
// finish()'s progress rises to 1, and moves before the coding does.
TEST(AcmEncoder, BothModesOverManyWindows) {
    auto input = tones(400000, 22050, {300, 2200}, 0.2);
    const auto loud = whiteNoise(100000, 0.95, testSeed());
    std::copy(loud.begin(), loud.end(), input.begin() + 250000);
    for (const EncoderSettings& settings : {bitrate(120), quality(5)}) {
        SCOPED_TRACE(settings.bitrateKbps ? "bitrate" : "quality");
        const Encoded whole = encode(input, 2, settings);
        testing::TempDir dir;
        AcmEncoder encoder = AcmEncoder::toFile((dir / "x.acm").string(), 2, 22050, settings);
        std::vector<double> progress;
        std::size_t beforeCoding = 0;
        encoder.onDecoded([&](std::span<const std::int16_t>) {
            if (beforeCoding == 0) beforeCoding = progress.size();
        });
        encoder.onProgress([&](double done) { progress.push_back(done); });
        for (std::size_t i = 0; i < input.size(); i += 70002)
            encoder.write(
                std::span(input).subspan(i, std::min<std::size_t>(70002, input.size() - i)));
        EXPECT_EQ(fileNames(dir).size(), 1u);  // the output's own temporary file
        encoder.finish();
        EXPECT_EQ(fileNames(dir), std::vector<std::string>{"x.acm"});
        EXPECT_EQ(testing::readFileBytes(dir / "x.acm"), whole.bytes);
        EXPECT_GT(beforeCoding, settings.bitrateKbps ? 10u : 0u);
        EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
        EXPECT_GT(progress.front(), 0.0);
        EXPECT_EQ(progress.back(), 1.0);
        const std::vector<std::int16_t> decoded = decode(whole.bytes, 2);
        EXPECT_EQ(decoded, whole.predicted);
        EXPECT_NEAR(whole.report.snrDb, testing::snrDb(input, decoded), 1e-6);
        EXPECT_EQ(testing::wrappedSamples(whole.bytes), 0u);
    }
}

}  // namespace
}  // namespace talveco
