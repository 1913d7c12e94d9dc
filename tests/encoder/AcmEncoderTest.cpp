// The encoder against the project's decoder: every stream decodes to exactly
// the samples the encoder predicted, never wraps, and meets its quality and
// bitrate on generated material.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <limits>
#include <optional>
#include <random>
#include <string>
#include <vector>

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
            "loud_noise_levels_7_rows_3", [] { return whiteNoise(20000, 1.0, testSeed()); }, 3,
            geometry(7, 3), std::nullopt),
        roundTrip(
            "loud_noise_bitrate", [] { return whiteNoise(20000, 0.9, testSeed()); }, 1, bitrate(60),
            std::nullopt),
        tone("levels_0", geometry(0, 512)), tone("levels_1", geometry(1, 256)),
        tone("levels_2", geometry(2, 128)), tone("levels_3", geometry(3, 64)),
        tone("levels_4", geometry(4, 32)), tone("levels_5_rows_16", geometry(5, 16)),
        tone("levels_7_rows_3", geometry(7, 3)), tone("levels_9_rows_1", geometry(9, 1)),
        tone("levels_1_rows_1", geometry(1, 1)), tone("bitrate", bitrate(50))),
    [](const auto& test) { return test.param.name; });

// The pieces write() is given do not change the stream.
TEST(AcmEncoder, PiecesOfAnySizeGiveTheSameStream) {
    const auto input = whiteNoise(150000, 0.1, testSeed());
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

TEST(AcmEncoder, RefusesSettingsOutsideTheFormat) {
    const auto with = [](auto change) {
        EncoderSettings settings;
        change(settings);
        return settings;
    };
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const EncoderSettings bad[] = {
        with([](EncoderSettings& s) { s.levels = 16; }),
        with([](EncoderSettings& s) { s.rows = 0; }),
        with([](EncoderSettings& s) { s.rows = 4096; }),
        with([](EncoderSettings& s) { s.bitrateKbps = 0; }),
        with([nan](EncoderSettings& s) { s.bitrateKbps = nan; }),
        with([nan](EncoderSettings& s) { s.quality = nan; }),
    };
    for (const EncoderSettings& settings : bad)
        EXPECT_THROW(AcmEncoder::toMemory(1, 22050, settings), std::invalid_argument);
    EXPECT_THROW(AcmEncoder::toMemory(0, 22050), std::invalid_argument);
    EXPECT_THROW(AcmEncoder::toMemory(1, 65536), std::invalid_argument);
    EXPECT_NO_THROW(AcmEncoder::toMemory(65535, 65535, with([](EncoderSettings& s) {
                                             s.levels = 15;
                                             s.rows = 4095;
                                         })));
}

// The wrap check itself: one level, the pair (32767, -32768) makes 2 * 32767
// + 32768 in the lower value, which shifts down to 49151.
TEST(WrappedSamples, FindsAValueBeyondTheRange) {
    testing::AcmStreamBuilder builder(4, 1, 2);
    builder.blockHeader(15, 1).column(16, {32767, 0}).column(16, {-32768, 0});
    EXPECT_EQ(testing::wrappedSamples(builder.bytes()), 1u);
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
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
        names.push_back(entry.path().filename().string());
    EXPECT_EQ(names, std::vector<std::string>{"kept.acm"});
}

}  // namespace
}  // namespace talveco
