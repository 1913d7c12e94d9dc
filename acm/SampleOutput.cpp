// Handing out decoded samples, unpacking and transforming blocks on demand.
#include <algorithm>

#include "acm/AcmDecoder.h"
#include "acm/BlockUnpacker.h"
#include "acm/InverseTransform.h"
#include "acm/SampleOutput.h"

namespace talveco {

// Makes the next block current. False at the end of the stream and when the
// block cannot be unpacked; in both cases nothing of the position changes,
// so a later call tries again from the bits the failed block left.
bool AcmDecoder::refillBlock() {
    if (samplesLeft_ == 0) return false;
    if (!unpackBlock(bits_, amplitudes_, geometry_, blockBuffer_)) return false;
    inverseTransform(geometry_, blockBuffer_, wrapBuffer_);
    // The header guarantees rows (so a non-empty block) while samples are
    // owed; the last block is cut to the samples still owed.
    outPos_ = 0;
    outLeft_ = std::min<std::size_t>(geometry_.blockSize, samplesLeft_);
    samplesLeft_ -= static_cast<std::uint32_t>(outLeft_);
    return true;
}

// Hands out up to `count` samples through store(index, sample).
template <typename StoreSample>
std::size_t AcmDecoder::deliverSamples(std::size_t count, StoreSample store) {
    std::size_t produced = 0;
    while (produced < count) {
        if (outLeft_ == 0 && !refillBlock()) break;
        const std::size_t run = std::min(count - produced, outLeft_);
        for (std::size_t i = 0; i < run; ++i) {
            store(produced + i, outputSample(blockBuffer_[outPos_ + i], geometry_.levels));
        }
        outPos_ += run;
        outLeft_ -= run;
        produced += run;
    }
    return produced;
}

std::size_t AcmDecoder::readSamples(std::span<std::int16_t> out) {
    return deliverSamples(out.size(),
                          [out](std::size_t index, std::int16_t sample) { out[index] = sample; });
}

std::size_t AcmDecoder::readSampleBytes(std::span<std::uint8_t> out) {
    const auto store = [out](std::size_t index, std::int16_t sample) {
        const auto bits = static_cast<std::uint16_t>(sample);
        out[2 * index] = static_cast<std::uint8_t>(bits & 0xFF);
        out[2 * index + 1] = static_cast<std::uint8_t>(bits >> 8);
    };
    return 2 * deliverSamples(out.size() / 2, store);
}

}  // namespace talveco
