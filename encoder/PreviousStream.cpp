#include "encoder/PreviousStream.h"

#include <algorithm>
#include <string>

#include "acm/AmplitudeTable.h"
#include "acm/BitReader.h"
#include "acm/BlockUnpacker.h"
#include "acm/InverseTransform.h"
#include "acm/SampleOutput.h"
#include "platform/ByteSource.h"
#include "platform/Failure.h"
#include "talveco/limits.h"

namespace talveco {
namespace {

// FNV-1a over the samples' bits.
std::uint64_t contentKey(std::span<const std::int16_t> samples) {
    std::uint64_t key = 14695981039346656037u;
    for (const std::int16_t s : samples) {
        key ^= static_cast<std::uint16_t>(s);
        key *= 1099511628211u;
    }
    return key;
}

}  // namespace

PreviousStream::PreviousStream(std::span<const std::uint8_t> bytes) {
    BytesInView source(bytes);
    BitReader bits(source);
    if (bits.readBits(24) != 0x032897 || bits.readBits(8) != 1)
        throw Failure(FailureKind::NotAcmFile);
    sampleCount_ = bits.readBits(16);
    sampleCount_ += std::size_t{bits.readBits(16)} << 16;
    bits.readBits(32);  // channels and rate: the new stream has its own
    const unsigned levels = bits.readBits(4);
    const unsigned rows = bits.readBits(12);
    if (rows == 0) throw Failure(FailureKind::NotAcmFile);
    if (rows > limits::maxEncoderRows(levels)) {
        throw Failure(FailureKind::OutsideLimits, "the earlier stream's blocks of " +
                                                      std::to_string(rows) + " rows at levels " +
                                                      std::to_string(levels) +
                                                      " are larger than the encoder makes");
    }
    geometry_ = blockGeometry(levels, rows);
    const std::size_t blockSize = geometry_.blockSize;
    const std::size_t blocks = (sampleCount_ + blockSize - 1) / blockSize;
    AmplitudeTable amplitudes;
    std::vector<std::uint32_t> carries(geometry_.carryCount, 0);
    std::vector<std::int32_t> block(blockSize);
    for (std::size_t b = 0; b < blocks; ++b) {
        bits.ensureBits(20);
        const auto step = static_cast<std::uint16_t>(bits.peek(20) >> 4);
        // A block made of bits past the end holds nothing of the earlier
        // sound; a header that promises more than the bytes hold must not
        // make the encoder fill memory with such blocks.
        if (!unpackBlock(bits, amplitudes, geometry_, block) || bits.pastEndOfInput()) break;
        unpacked_.insert(unpacked_.end(), block.begin(), block.end());
        steps_.push_back(step);
        inverseTransform(geometry_, block, carries);
        decoded_.resize(decoded_.size() + blockSize);
        storeSamples(block, levels, decoded_.data() + decoded_.size() - blockSize);
        if ((b + 1) * blockSize <= sampleCount_)
            wholeBlocks_.emplace(
                contentKey(std::span<const std::int16_t>(decoded_).last(blockSize)), b);
    }
}

bool PreviousStream::decodesTo(std::size_t block, std::span<const std::int16_t> samples) const {
    const std::size_t first = block * geometry_.blockSize;
    return first + samples.size() <= decoded_.size() &&
           std::equal(samples.begin(), samples.end(),
                      decoded_.begin() + static_cast<std::ptrdiff_t>(first));
}

std::optional<std::size_t> PreviousStream::blockDecodingTo(std::span<const std::int16_t> samples,
                                                           std::size_t position) const {
    const std::size_t block = position / geometry_.blockSize;
    if (block < steps_.size() && decodesTo(block, samples)) return block;
    if (samples.size() != geometry_.blockSize) {
        // The end of the sound, moved: the real part of the last block.
        const std::size_t last = steps_.size() - 1;
        const bool endsAlike = !steps_.empty() &&
                               last * geometry_.blockSize + samples.size() == sampleCount_ &&
                               decodesTo(last, samples);
        return endsAlike ? std::optional<std::size_t>(last) : std::nullopt;
    }
    const auto [first, last] = wholeBlocks_.equal_range(contentKey(samples));
    for (auto it = first; it != last; ++it)
        if (decodesTo(it->second, samples)) return it->second;
    return std::nullopt;
}

std::span<const std::int32_t> PreviousStream::unpacked(std::size_t block) const {
    return std::span<const std::int32_t>(unpacked_).subspan(block * geometry_.blockSize,
                                                            geometry_.blockSize);
}

}  // namespace talveco
