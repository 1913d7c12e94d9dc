// Handing out decoded samples, unpacking and transforming blocks on demand.
#include <algorithm>
#include <bit>

#include "acm/AcmDecoder.h"
#include "acm/BlockPipeline.h"
#include "acm/BlockProducer.h"
#include "acm/InverseTransform.h"
#include "acm/SampleOutput.h"
#include "acm/TransformKernels.h"

namespace talveco {
namespace {

constexpr bool littleEndian = std::endian::native == std::endian::little;

}  // namespace

void storeSamples(std::span<const std::int32_t> values, unsigned levels, std::int16_t* out,
                  const TransformKernels& kernels) {
    if constexpr (littleEndian) {
        // The samples' bytes in little-endian order are the samples themselves.
        kernels.narrow(values.data(), values.size(), levels, reinterpret_cast<std::uint8_t*>(out));
    } else {
        for (std::size_t i = 0; i < values.size(); ++i)
            out[i] = outputSample(values[i], levels);
    }
}

void storeSampleBytes(std::span<const std::int32_t> values, unsigned levels, std::uint8_t* out,
                      const TransformKernels& kernels) {
    kernels.narrow(values.data(), values.size(), levels, out);
}

// Makes the next blocks current: one block from the pipeline, and up to
// blocksPerRefill_ blocks unpacked here, so that small blocks do not pay the
// way from here to the unpacker and the store of their few samples each. A
// run stops before a block that cannot be unpacked and before a failed read
// of the input; both are kept and met again by the call after the blocks
// before them are handed out, exactly as if the blocks came one by one.
// False at the end of the stream and when the next block cannot be
// unpacked; in both cases nothing of the position changes, so a later call
// tries again from the bits the failed block left.
bool AcmDecoder::refillBlock() {
    if (badBlockNext_) {
        badBlockNext_ = false;
        return false;
    }
    if (samplesLeft_ == 0) return false;
    const std::size_t values = pipeline_ ? takePipelinedBlock() : unpackBlockRun();
    if (values == 0) return false;
    outPos_ = 0;
    outLeft_ = values;
    return true;
}

// The next block from the pipeline's thread, transformed; returns the
// samples it holds, 0 for a block that cannot be unpacked. A read failure
// of the input is kept and raised again by every later call.
std::size_t AcmDecoder::takePipelinedBlock() {
    if (failure_) std::rethrow_exception(failure_);
    try {
        if (pipeline_->takeNext(block_) != BlockOutcome::good) return 0;
    } catch (...) {
        failure_ = std::current_exception();
        throw;
    }
    inverseTransform(geometry_, block_, wrapBuffer_, kernels_);
    if (!pastEndFrom_ && pipeline_->lastTakenPastEnd()) {
        pastEndFrom_ = header_.sampleCount - samplesLeft_;
    }
    return takeSamples(1);
}

// Unpacks up to blocksPerRefill_ blocks here and transforms them; returns
// the samples they hold, 0 when the first block cannot be unpacked. A bad
// block or a read failure after good ones is kept for the next call.
std::size_t AcmDecoder::unpackBlockRun() {
    if (failure_) std::rethrow_exception(failure_);
    BlockRun run;
    try {
        producer_->unpackRun(blockBuffer_, blocksPerRefill_, run);
    } catch (...) {
        failure_ = std::current_exception();
        // A kept read failure is raised by the next call on its own.
        if (run.goodBlocks == 0) throw;
    }
    if (run.goodBlocks == 0) return 0;
    if (run.stoppedAtBadBlock) badBlockNext_ = true;
    const std::size_t blockSize = geometry_.blockSize;
    // The transform goes on from block to block as if they were one, so the
    // run is transformed at once: blocks of a few rows would otherwise pay
    // the carries' loads and stores and a call each.
    BlockGeometry runGeometry = geometry_;
    runGeometry.rows *= run.goodBlocks;
    runGeometry.blockSize *= run.goodBlocks;
    inverseTransform(runGeometry, blockBuffer_, wrapBuffer_, kernels_);
    if (!pastEndFrom_ && run.firstPastEnd) {
        pastEndFrom_ = header_.sampleCount - samplesLeft_ +
                       static_cast<std::uint32_t>(*run.firstPastEnd * blockSize);
    }
    const std::size_t values = takeSamples(run.goodBlocks);
    block_ = std::span<std::int32_t>(blockBuffer_).first(values);
    return values;
}

// Counts the samples of `blocks` blocks as taken; the last block of the
// stream is cut to the samples still owed.
std::size_t AcmDecoder::takeSamples(std::size_t blocks) {
    const std::size_t taken = std::min<std::size_t>(blocks * geometry_.blockSize, samplesLeft_);
    samplesLeft_ -= static_cast<std::uint32_t>(taken);
    return taken;
}

std::uint64_t AcmDecoder::samplesPastEndOfInput() const {
    if (!pastEndFrom_) return 0;
    const std::uint64_t handedOut = header_.sampleCount - samplesLeft_ - outLeft_;
    return handedOut - *pastEndFrom_;
}

// Hands out up to `count` samples through store(first, values), which
// converts `values` into the samples from number `first` on.
template <typename StoreSamples>
std::size_t AcmDecoder::deliverSamples(std::size_t count, StoreSamples store) {
    std::size_t produced = 0;
    while (produced < count) {
        if (outLeft_ == 0 && !refillBlock()) break;
        const std::size_t run = std::min(count - produced, outLeft_);
        store(produced, std::span<const std::int32_t>(block_).subspan(outPos_, run));
        outPos_ += run;
        outLeft_ -= run;
        produced += run;
    }
    return produced;
}

std::size_t AcmDecoder::readSamples(std::span<std::int16_t> out) {
    const unsigned levels = geometry_.levels;
    const TransformKernels& kernels = kernels_;
    return deliverSamples(out.size(), [out, levels, &kernels](std::size_t first, auto values) {
        storeSamples(values, levels, out.data() + first, kernels);
    });
}

std::size_t AcmDecoder::readSampleBytes(std::span<std::uint8_t> out) {
    const unsigned levels = geometry_.levels;
    const TransformKernels& kernels = kernels_;
    return 2 *
           deliverSamples(out.size() / 2, [out, levels, &kernels](std::size_t first, auto values) {
               storeSampleBytes(values, levels, out.data() + 2 * first, kernels);
           });
}

}  // namespace talveco
