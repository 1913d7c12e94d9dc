// talveco encoder: interleaved 16-bit PCM samples into an ACM stream.
//
//     talveco::EncoderSettings settings;              // quality 5, geometry automatic
//     auto encoder = talveco::AcmEncoder::toFile("out.acm", channels, rate, settings);
//     encoder.write(samples);                          // whole frames, in pieces of any size
//     talveco::EncoderReport report = encoder.finish();
//
// Every stream the encoder writes decodes, with any exact decoder, to exactly the samples it
// predicted (see onDecoded). Failures are talveco::Failure exceptions, as for decoding; their
// kinds are listed in talveco.h, the limits they quote in talveco/limits.h.
//
// The contract:
// - The stream depends on the samples and the settings only, never on how the samples were
//   cut into write() calls: the same samples give the same bytes, the same predicted samples
//   and the same report whatever the pieces.
// - A failure is final. After any exception out of write() or finish() (a full disk, samples
//   that do not make whole frames, too many samples, an onDecoded callback that throws, memory
//   exhausted), the encoder is failed: every later call except the destructor raises
//   FailureKind::FailedEarlier, whose message names the first failure; the temporary file of
//   a file encoder is removed at once, so no file appears, and bytes() is refused. The
//   exception that failed it passes to the caller unchanged.
// - Misuse raises FailureKind::InvalidCall and leaves the encoder as it was: any call on a
//   moved-from encoder, write() or finish() after finish(), onDecoded() after the first
//   write(), bytes() on a file encoder or before finish().
// - Settings, channels and rates outside talveco/limits.h are refused by toFile() and
//   toMemory() (FailureKind::OutsideLimits) before any file is created.
// - An encoder is used from one thread at a time; different encoders (and decoders) may work
//   on different threads at once, also writing files.
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
    // In either mode the encoder codes nothing before finish(): the geometry (levels and rows)
    // is chosen to suit the whole input, and until then the input waits: its first MiB in
    // memory, the rest in a nameless scratch file (2 bytes a value) in $TMPDIR (or /tmp), never
    // beside the output, which vanishes however the process ends. Memory stays bounded; the
    // temporary folder's disk must hold it. Where no scratch file can be made, write() or
    // finish() fails with IoError and says where it tried; where it runs out of room, with
    // DiskFull and a text that names the scratch file's folder.
    //
    // Constant quality, 0 (smallest) to 10 (best), fractions allowed; 5 gives about 3 bits per
    // sample on speech. The noise stays a fixed distance below the sound around it, in quiet
    // passages and fades too, but for dense noise far under louder sound near it (a recording's
    // hiss), coded coarser where it would cost more a value than the louder sound does; the
    // bitrate mode gives the best overall SNR for a size. Ignored when bitrateKbps is set.
    double quality = 5.0;
    // Average bitrate of the whole stream in kbit/s, all channels together, from 1 to 16 bits
    // per value (limits::maxBitrateKbps). finish() chooses the quantisation to meet the rate:
    // the analysis of the input waits in a second scratch file (6 bytes a value with the
    // input), and memory grows by about 0.1 byte a value for the choice of steps.
    std::optional<double> bitrateKbps;
    // Transform levels (0 to 15) and rows per block (1 to 4095, and a block of at most
    // limits::maxEncoderBlockValues values); chosen from the material when empty.
    std::optional<unsigned> levels;
    std::optional<unsigned> rows;
    // An ACM stream this one codes an edit of (empty: none). Its geometry is
    // taken, and every block of the input whose samples are those the old
    // stream decodes to in one of its blocks (at the same place, or moved by
    // whole blocks) is coded with that block's values and step, so that the
    // parts left untouched come back exactly. A block holding the old
    // stream's samples at any other offset, or right after an edit, takes
    // the old values where the transform's rows line up (offsets of whole
    // rows of 2^levels samples): all but its first rows after an edit come
    // back exactly, and the rows after it start from the old carries. Where
    // they do not line up, a search in time order finds values that give
    // every sample exactly, kept where they cost at most 1.5 times the bits
    // of coding the block afresh. Blocks whose values come from two old
    // blocks of different steps take one step for both and give back
    // exactly the part whose step they take.
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
    // Of those samples, the largest distance of a decoded sample from the span between 0 and
    // its input sample. A start decoded within that span is a softer attack, as from a
    // fade-in of a few samples; one outside it (beyond the input, or of the other sign) adds
    // a sound the input does not have.
    unsigned onsetStray = 0;
    // The input's largest magnitude over its first 5 ms, or over those samples if longer:
    // the level the start is heard at.
    unsigned onsetPeak = 0;
    // Largest |decoded - input| after the first 2^(levels+1) samples: what the coding costs
    // anywhere else, beside which a start off by far more is heard as a click.
    unsigned afterOnsetError = 0;
    // Samples decoded exactly as they were given.
    std::uint64_t exactSamples = 0;

    // Whether the decoded start is heard as a click: off by more than about -30 dBFS (1024)
    // and by more than twice the largest error anywhere after it. Smaller, it is lost in
    // the coding's own noise. The encoder avoids such starts where the bits allow.
    bool startClicks() const;
};

class AcmEncoder {
  public:
    // Writes the stream to `path` through a temporary file in the same directory, which
    // replaces `path` only when finish() succeeds; a failed or abandoned encoder leaves no
    // file behind. Channels 1 to 65535, rate 1 to 65535. The file encoder writes the stream
    // in finish(); its temporary file is removed on failure, on destruction before finish() and
    // when the process is interrupted (SIGINT, SIGTERM, SIGHUP) in a program that installed the
    // interrupt cleanup.
    static AcmEncoder toFile(const std::string& path, unsigned channels, unsigned sampleRate,
                             const EncoderSettings& settings = {});
    // Keeps the stream in memory; after finish() it is in bytes().
    static AcmEncoder toMemory(unsigned channels, unsigned sampleRate,
                               const EncoderSettings& settings = {});

    AcmEncoder(AcmEncoder&&) noexcept;
    AcmEncoder& operator=(AcmEncoder&&) noexcept;
    ~AcmEncoder();

    // Receives the samples the stream decodes to, interleaved, in stream order, as they
    // become known, from inside finish(); by the time finish() returns it has seen all of
    // them. The pieces need not be whole frames, and their sizes do not depend on the pieces
    // written. Each span is valid only during the call: copy what you keep. A callback that
    // throws fails the encoder (the exception passes out of finish()). Set it before the
    // first write(); later raises InvalidCall.
    void onDecoded(std::function<void(std::span<const std::int16_t>)> sink);

    // All the coding happens in finish(), which calls `sink` now and then with the share of
    // that work done: rising, from 0 to 1 (the last call). It is an estimate; in bitrate mode
    // the choice of steps takes as many rounds as the material asks. A callback that throws
    // fails the encoder. Set it before finish(); later raises InvalidCall.
    void onProgress(std::function<void(double done)> sink);

    // Appends interleaved samples: whole frames (a multiple of the channel count, else
    // PartialFrame), fewer than 2^30 values in all (else TooManySamples). Either failure is
    // final, like any other.
    void write(std::span<const std::int16_t> samples);

    // Codes the input, completes the header and, for a file encoder, puts the file in place.
    // Call once.
    EncoderReport finish();

    // The finished stream of an encoder made by toMemory(), valid until the encoder is
    // destroyed or moved from. Raises InvalidCall before finish() and for a file encoder.
    const std::vector<std::uint8_t>& bytes() const;

  private:
    struct State;
    explicit AcmEncoder(std::unique_ptr<State> state);
    State& usable() const;

    std::unique_ptr<State> state_;
};

}  // namespace talveco
