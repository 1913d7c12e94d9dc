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
#include "acm/BlockUnpacker.h"

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

    // Unpacks up to `maxBlocks` blocks into `values` (that many blocks one
    // after another) with the results of as many unpackNext calls, stopping
    // after a bad block and at the end of the samples. `run` tells how far
    // it got, also when a failed read of the input ends the run: the blocks
    // before that one have then been taken as good ones.
    void unpackRun(std::span<std::int32_t> values, std::size_t maxBlocks, BlockRun& run);

    bool finished() const { return samplesLeft_ == 0; }

    // Whether the last good block needed bits from beyond the end of the
    // input, which decode as if they were zero: from that block on the
    // samples are made up, not read.
    bool lastBlockPastEnd() const { return lastBlockPastEnd_; }

  private:
    void takeSamples(const BlockRun& run);

    BitReader bits_;
    BlockGeometry geometry_;
    AmplitudeTable amplitudes_;
    ZeroRunHint zeroRuns_;
    std::uint32_t samplesLeft_;
    bool lastBlockPastEnd_ = false;
};

}  // namespace talveco
