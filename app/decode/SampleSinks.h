// Writers of decoded samples in each output format.
#pragma once

#include <cstdint>
#include <memory>
#include <span>

#include "app/decode/OutputFormat.h"
#include "app/decode/Outputs.h"

namespace talveco {

// What an output holds: interleaved 16-bit samples, whole frames.
struct SoundShape {
    unsigned channels = 0;
    unsigned rate = 0;
    std::uint32_t samples = 0;  // expected, all channels together
};

class SampleSink {
  public:
    virtual ~SampleSink() = default;

    virtual void write(std::span<const std::int16_t> samples) = 0;
    // After the last samples: the lengths the file states become those of
    // what was written.
    virtual void finish() = 0;
};

// WAV goes through the project's own writer, which needs nothing but the
// header in front of the data; FLAC into an output that cannot go back
// through libFLAC's streaming encoder; the other formats through libsndfile.
// Raises FileRefused, before a byte is written, for an output the format
// cannot be written to (see OutputFormat.h: an unlisted extension, a rate the
// format cannot hold, a format that must go back to its header on an output
// that cannot).
std::unique_ptr<SampleSink> makeSampleSink(OutputFormat format, OutputStream& out,
                                           const SoundShape& shape);

}  // namespace talveco
