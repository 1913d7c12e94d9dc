// The unpacking half of decoding: bits in, unpacked blocks out. Internal to
// the decoder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "acm/AcmDecoder.h"
#include "acm/AmplitudeTable.h"
#include "acm/BitReader.h"

namespace talveco {

enum class BlockOutcome {
    good,  // a whole block was unpacked
    bad,   // a column code selects no method; the bits stand behind it
    end,   // the header's samples have all been taken into blocks
};

// Everything unpacking needs and nothing the transform or the output uses:
// the bits, the amplitude table and the count of samples not yet taken into
// a block. A bad block takes no samples, so the next block is read from the
// bits behind it.
class BlockProducer {
  public:
    BlockProducer(BitReader&& bits, const BlockGeometry& geometry, std::uint32_t sampleCount);

    // Unpacks the next block into `values` (geometry.blockSize of them).
    BlockOutcome unpackNext(std::span<std::int32_t> values);

    bool finished() const { return samplesLeft_ == 0; }

    // Whether the last good block needed bits from beyond the end of the
    // input, which decode as if they were zero: from that block on the
    // samples are made up, not read.
    bool lastBlockPastEnd() const { return lastBlockPastEnd_; }

  private:
    BitReader bits_;
    BlockGeometry geometry_;
    AmplitudeTable amplitudes_;
    std::uint32_t samplesLeft_;
    bool lastBlockPastEnd_ = false;
};

}  // namespace talveco
