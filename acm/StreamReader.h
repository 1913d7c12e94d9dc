// One ACM stream read as the library's users read it: a damaged block is
// skipped and reading goes on behind it, so that what a caller gets does not
// depend on where its reads begin and end. AcmStream is this behind the
// public header; the programs use it directly for the header's geometry.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "acm/AcmDecoder.h"
#include "platform/ByteSource.h"

namespace talveco {

class StreamReader {
  public:
    // Reads the header from `input`, which the reader owns from then on.
    StreamReader(std::unique_ptr<ByteSource> input, DecodeThreads threads);

    const AcmHeader& header() const { return decoder_->header(); }

    // Fills `out` until the stream ends: after the announced samples, or at
    // two damaged blocks with nothing decodable between them.
    std::size_t read(std::span<std::int16_t> out);

    std::uint64_t damagedBlocks() const noexcept { return damagedBlocks_; }
    std::uint64_t samplesPastEndOfInput() const { return decoder_->samplesPastEndOfInput(); }

  private:
    std::unique_ptr<ByteSource> input_;  // declared first: the decoder reads from it
    std::unique_ptr<AcmDecoder> decoder_;
    std::uint64_t damagedBlocks_ = 0;
    bool damagedSinceSamples_ = false;  // a damaged block, and no sample decoded since
    bool stopped_ = false;              // two damaged blocks in a row ended the stream
};

}  // namespace talveco
