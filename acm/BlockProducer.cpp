#include "acm/BlockProducer.h"

#include <algorithm>
#include <utility>

#include "acm/BlockUnpacker.h"

namespace talveco {

BlockProducer::BlockProducer(BitReader&& bits, const BlockGeometry& geometry,
                             std::uint32_t sampleCount)
    : bits_(std::move(bits)), geometry_(geometry), samplesLeft_(sampleCount) {}

BlockOutcome BlockProducer::unpackNext(std::span<std::int32_t> values) {
    if (samplesLeft_ == 0) return BlockOutcome::end;
    if (!unpackBlock(bits_, amplitudes_, geometry_, values)) return BlockOutcome::bad;
    // The last block is cut to the samples still owed.
    const std::size_t taken = std::min<std::size_t>(geometry_.blockSize, samplesLeft_);
    samplesLeft_ -= static_cast<std::uint32_t>(taken);
    lastBlockPastEnd_ = bits_.pastEndOfInput();
    return BlockOutcome::good;
}

}  // namespace talveco
