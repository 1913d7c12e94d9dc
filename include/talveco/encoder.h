// talveco encoder: interleaved 16-bit PCM samples into an ACM stream.
//
//     talveco::EncoderSettings settings;              // quality 5, geometry automatic
//     auto encoder = talveco::AcmEncoder::toFile("out.acm", channels, rate, settings);
//     encoder.write(samples);                          // any number of pieces, any sizes
//     talveco::EncoderReport report = encoder.finish();
//
// Every stream the encoder writes decodes, with any exact decoder, to exactly the samples it
// predicted (see onDecoded). Failures are talveco::Failure exceptions, as for decoding.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "talveco/talveco.h"

namespace talveco {

struct EncoderSettings {
    // Constant quality, 0 (smallest) to 10 (best); 5 gives about 3 bits per sample on speech.
    // Memory stays bounded whatever the length of the input. Ignored when bitrateKbps is set.
    double quality = 5.0;
    // Average bitrate of the whole stream in kbit/s, all channels together. In this mode the
    // encoder holds the whole input until finish() and chooses its quantisation to meet it.
    std::optional<double> bitrateKbps;
    // Transform levels (0 to 15) and rows per block (1 to 4095); chosen from the material
    // when empty.
    std::optional<unsigned> levels;
    std::optional<unsigned> rows;
    // An ACM stream this one codes an edit of (empty: none). Its geometry is
    // taken, and every block of the input whose samples are those the old
    // stream decodes to in one of its blocks (at the same place, or moved by
    // whole blocks) is coded with that block's values and step, so that the
    // parts left untouched come back exactly.
    std::vector<std::uint8_t> likeStream;
};

// What finish() wrote.
struct EncoderReport {
    std::uint64_t sampleCount = 0;  // 16-bit values, all channels together (the header's count)
    std::uint64_t streamBytes = 0;  // the whole stream, header included
    double bitsPerSample = 0;       // streamBytes * 8 / sampleCount
    double snrDb = 0;               // decoded samples against the input; +infinity when equal
    unsigned levels = 0;            // the geometry in the header
    unsigned rows = 0;
    // Largest |decoded - input| among the first 2^(levels+1) samples, where the transform
    // starts from rest and a loud onset cannot be reproduced exactly.
    unsigned onsetError = 0;
    // Samples decoded exactly as they were given.
    std::uint64_t exactSamples = 0;
};

class AcmEncoder {
  public:
    // Writes the stream to `path` through a temporary file in the same directory, which
    // replaces `path` only when finish() succeeds; a failed or abandoned encoder leaves no
    // file behind. Channels 1 to 65535, rate 1 to 65535.
    static AcmEncoder toFile(const std::string& path, unsigned channels, unsigned sampleRate,
                             const EncoderSettings& settings = {});
    // Keeps the stream in memory; after finish() it is in bytes().
    static AcmEncoder toMemory(unsigned channels, unsigned sampleRate,
                               const EncoderSettings& settings = {});

    AcmEncoder(AcmEncoder&&) noexcept;
    AcmEncoder& operator=(AcmEncoder&&) noexcept;
    ~AcmEncoder();

    // Receives the samples the stream decodes to, in stream order and in pieces of any size,
    // as they become known; by the time finish() returns it has seen all of them. Set it
    // before the first write().
    void onDecoded(std::function<void(std::span<const std::int16_t>)> sink);

    // Appends interleaved samples. Raises Failure when the stream would reach 2^30 values.
    void write(std::span<const std::int16_t> samples);

    // Codes the rest, completes the header and puts the file in place. Call once.
    EncoderReport finish();

    // The finished stream of an encoder made by toMemory().
    const std::vector<std::uint8_t>& bytes() const;

  private:
    struct State;
    explicit AcmEncoder(std::unique_ptr<State> state);

    std::unique_ptr<State> state_;
};

}  // namespace talveco
