// Fuzz target for the encoder's sample path: any samples, in pieces of any
// size, with any settings (see EncodeInput.h). Besides the sanitizers it
// checks what the encoder promises:
// - the stream decodes, with the project's decoder, to exactly the samples
//   the encoder handed to onDecoded, and to as many as it was given;
// - the header states the channels and rate, the report the sample count,
//   the stream's size and the geometry asked for;
// - no decoded sample wraps: no value leaves the 16-bit range after the
//   decoder's output shift, where only its low 16 bits would be kept.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <vector>

#include "fuzz/EncodeInput.h"
#include "talveco/encoder.h"
#include "talveco/talveco.h"
#include "tests/support/WrappedSamples.h"

namespace talveco::fuzzing {
namespace {

constexpr unsigned kRate = 22050;

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "talveco encode fuzzer: %s\n", what);
    std::abort();
}

void check(bool condition, const char* what) {
    if (!condition) fail(what);
}

std::vector<std::int16_t> samplesFrom(std::span<const std::uint8_t> bytes) {
    std::vector<std::int16_t> samples(bytes.size() / 2);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        samples[i] = static_cast<std::int16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
    }
    return samples;
}

// Piece sizes from 1 up to a few thousand, drawn from the seed.
std::size_t nextPiece(std::uint32_t& state) {
    state = state * 1103515245u + 12345u;
    return 1 + (state >> 16) % 3000;
}

void encodeAndCheck(const EncodeRun& run, const std::vector<std::int16_t>& input) {
    AcmEncoder encoder = AcmEncoder::toMemory(run.channels, kRate, run.settings);
    std::vector<std::int16_t> predicted;
    encoder.onDecoded([&predicted](std::span<const std::int16_t> decoded) {
        predicted.insert(predicted.end(), decoded.begin(), decoded.end());
    });
    std::uint32_t state = run.pieceSeed;
    const std::span<const std::int16_t> all(input);
    for (std::size_t at = 0; at < all.size();) {
        // Whole frames, as write() takes them.
        const std::size_t frames = std::max<std::size_t>(1, nextPiece(state) / run.channels);
        const std::size_t piece = std::min(frames * run.channels, all.size() - at);
        encoder.write(all.subspan(at, piece));
        at += piece;
    }
    const EncoderReport report = encoder.finish();
    const std::vector<std::uint8_t>& bytes = encoder.bytes();

    check(report.sampleCount == input.size(), "report: wrong sample count");
    check(report.streamBytes == bytes.size(), "report: wrong stream size");
    check(!run.settings.levels || report.levels == *run.settings.levels, "levels not as asked");
    check(!run.settings.rows || report.rows == *run.settings.rows, "rows not as asked");
    check(predicted.size() == input.size(), "prediction of the wrong length");

    AcmStream stream = AcmStream::openMemory(bytes);
    check(stream.channels() == run.channels && stream.sampleRate() == kRate,
          "header: wrong channels or rate");
    check(stream.sampleCount() == input.size(), "header: wrong sample count");
    std::vector<std::int16_t> decoded(input.size() + 1);
    decoded.resize(stream.read(decoded));
    check(decoded == predicted, "decoded samples differ from the prediction");

    check(testing::wrappedSamples(bytes) == 0, "a decoded sample wrapped");
}

}  // namespace
}  // namespace talveco::fuzzing

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace talveco::fuzzing;
    const std::span<const std::uint8_t> bytes(data, size);
    if (bytes.size() < kEncodeSettingsBytes) return 0;
    const EncodeRun run = takeEncodeSettings(bytes.first(kEncodeSettingsBytes));
    std::vector<std::int16_t> samples = samplesFrom(bytes.subspan(kEncodeSettingsBytes));
    samples.resize(samples.size() / run.channels * run.channels);
    encodeAndCheck(run, samples);
    return 0;
}
