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

// Makes the next block current. False at the end of the stream and when the
// block cannot be unpacked; in both cases nothing of the position changes,
// so a later call tries again from the bits the failed block left.
bool AcmDecoder::refillBlock() {
    if (samplesLeft_ == 0) return false;
    if (!unpackNextBlock()) return false;
    inverseTransform(geometry_, block_, wrapBuffer_, kernels_);
    if (!pastEndFrom_ && lastBlockPastEnd()) pastEndFrom_ = header_.sampleCount - samplesLeft_;
    // The header guarantees rows (so a non-empty block) while samples are
    // owed; the last block is cut to the samples still owed.
    outPos_ = 0;
    outLeft_ = std::min<std::size_t>(geometry_.blockSize, samplesLeft_);
    samplesLeft_ -= static_cast<std::uint32_t>(outLeft_);
    return true;
}

// Makes block_ the next unpacked block, unpacked here or on the pipeline's
// thread. False for a block that cannot be unpacked. A read failure of the
// input is kept and raised again by every later call, whichever thread met it.
bool AcmDecoder::unpackNextBlock() {
    if (failure_) std::rethrow_exception(failure_);
    try {
        const BlockOutcome outcome =
            pipeline_ ? pipeline_->takeNext(block_) : producer_->unpackNext(block_);
        return outcome == BlockOutcome::good;
    } catch (...) {
        failure_ = std::current_exception();
        throw;
    }
}

bool AcmDecoder::lastBlockPastEnd() const {
    return pipeline_ ? pipeline_->lastTakenPastEnd() : producer_->lastBlockPastEnd();
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
