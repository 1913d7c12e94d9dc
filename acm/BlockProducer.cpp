#include "acm/BlockProducer.h"

#include <algorithm>
#include <utility>

namespace talveco {

BlockProducer::BlockProducer(BitReader&& bits, const BlockGeometry& geometry,
                             std::uint32_t sampleCount)
    : bits_(std::move(bits)), geometry_(geometry), samplesLeft_(sampleCount) {}

BlockOutcome BlockProducer::unpackNext(std::span<std::int32_t> values) {
    if (samplesLeft_ == 0) return BlockOutcome::end;
    BlockRun run;
    unpackRun(values, 1, run);
    return run.goodBlocks == 1 ? BlockOutcome::good : BlockOutcome::bad;
}

void BlockProducer::unpackRun(std::span<std::int32_t> values, std::size_t maxBlocks,
                              BlockRun& run) {
    run = {};
    if (samplesLeft_ == 0) return;
    // Samples are owed, so the header guarantees rows and a block is not empty.
    const std::size_t blocksOwed = (samplesLeft_ + geometry_.blockSize - 1) / geometry_.blockSize;
    try {
        unpackBlocks(bits_, amplitudes_, geometry_, values, std::min(maxBlocks, blocksOwed), run,
                     zeroRuns_);
    } catch (...) {
        takeSamples(run);
        throw;
    }
    takeSamples(run);
}

void BlockProducer::takeSamples(const BlockRun& run) {
    if (run.goodBlocks == 0) return;
    // The last block is cut to the samples still owed.
    const std::size_t taken =
        std::min<std::size_t>(run.goodBlocks * geometry_.blockSize, samplesLeft_);
    samplesLeft_ -= static_cast<std::uint32_t>(taken);
    lastBlockPastEnd_ = run.firstPastEnd.has_value();
}

}  // namespace talveco
