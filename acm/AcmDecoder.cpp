#include "acm/AcmDecoder.h"

#include <algorithm>
#include <new>
#include <utility>

#include "acm/BlockPipeline.h"
#include "acm/BlockProducer.h"

#include "platform/Failure.h"
#include "platform/Pages.h"
#include "platform/Processors.h"
#include "talveco/limits.h"

namespace talveco {
namespace {

constexpr std::uint32_t signatureLow = 0x032897;  // the bytes 0x97 0x28 0x03
constexpr std::uint32_t signatureHigh = 1;

[[noreturn]] void rejectFile() {
    throw Failure(FailureKind::NotAcmFile);
}

// The signature is checked as soon as each of its parts is read, so that a
// short or foreign file is rejected without reading further.
AcmHeader readAcmHeader(BitReader& bits) {
    if (bits.readBits(24) != signatureLow) rejectFile();
    if (bits.readBits(8) != signatureHigh) rejectFile();
    AcmHeader header;
    header.sampleCount = bits.readBits(16);
    header.sampleCount += bits.readBits(16) << 16;
    header.channels = static_cast<std::uint16_t>(bits.readBits(16));
    header.sampleRate = static_cast<std::uint16_t>(bits.readBits(16));
    header.levels = bits.readBits(4);
    header.rows = bits.readBits(12);
    return header;
}

// Headers the decoder could not honour: samples promised by blocks without
// rows, and more samples than a WAV length can count.
void checkHeader(const AcmHeader& header) {
    if (header.rows == 0 && header.sampleCount != 0) rejectFile();
    if (header.sampleCount > limits::maxSamples) rejectFile();
}

// Slots of a pipeline: one being filled, one being read, one spare so that
// neither side waits for the other over small differences in pace.
constexpr std::size_t pipelineSlots = 3;
// Blocks larger than a slot go one to a slot, in two slots: at 15 levels
// measured faster than three (125 against 133 ms for 100 MB) and 2 MiB
// smaller.
constexpr std::size_t largeBlockSlots = 2;
// Values of the blocks one slot hands over at once (256 KiB): enough that
// handing over costs little beside unpacking, few enough to stay in cache.
constexpr std::size_t pipelineSlotValues = std::size_t{64} * 1024;
// Values of the small blocks sequential decoding unpacks and transforms in
// one go (8 KiB), so that blocks of a few values do not each pay the way
// to the unpacker and the store of their samples.
constexpr std::size_t sequentialRefillValues = 2048;
// Measured on two cores, pipelining pays for 4 to 15 levels (at 15 levels of
// 16 rows since unpacking became cheaper: 164 against 125 ms) and costs for
// 0 levels (the reader's share of the work is too small: handing over
// 16-value blocks costs more than it saves). So it is kept to streams with
// at least 4 levels and more than a few blocks, of at most 1 Mi values
// (4 MiB) a block: each of the two slots then holds one, and larger blocks
// would double the decoder's memory for little.
constexpr unsigned pipelinedLevelsMinimum = 4;
constexpr std::size_t pipelinedBlocksMinimum = 4;
constexpr std::size_t pipelinedBlockValuesMaximum = std::size_t{1} << 20;

constexpr std::size_t transformPassValues = 8192;

bool pipelinePays(const AcmHeader& header, const BlockGeometry& geometry) {
    // A second thread on the same processor only adds the cost of handing over.
    if (usableProcessors() < 2) return false;
    if (geometry.levels < pipelinedLevelsMinimum) return false;
    if (geometry.blockSize > pipelinedBlockValuesMaximum) return false;
    const std::size_t blocks = (header.sampleCount + geometry.blockSize - 1) / geometry.blockSize;
    return blocks > pipelinedBlocksMinimum;
}

bool usePipeline(const AcmHeader& header, const BlockGeometry& geometry, DecodeThreads threads) {
    // Without samples there is nothing to unpack (and the block may be empty).
    if (header.sampleCount == 0) return false;
    switch (threads) {
        case DecodeThreads::sequential:
            return false;
        case DecodeThreads::pipelined:
            return true;
        case DecodeThreads::automatic:
            break;
    }
    return pipelinePays(header, geometry);
}

}  // namespace

BlockGeometry blockGeometry(unsigned levels, unsigned rows) {
    BlockGeometry geometry;
    geometry.levels = levels;
    geometry.columns = std::size_t{1} << levels;
    geometry.rows = rows;
    geometry.blockSize = geometry.columns * rows;
    // A pass of the transform runs every stage over 8192 values (32 KiB) or
    // one row: the most that stays in the first-level cache, measured
    // fastest against passes of 2048 to 65536 values.
    geometry.stripeRows = std::max<std::size_t>(1, transformPassValues / geometry.columns);
    geometry.stripeSize = geometry.stripeRows * geometry.columns;
    geometry.carryCount = levels == 0 ? 0 : 2 * geometry.columns - 2;
    return geometry;
}

std::unique_ptr<AcmDecoder> createAcmDecoder(ByteSource& input, std::size_t readSize,
                                             DecodeThreads threads, ThreadStarter startThread) {
    try {
        auto stoppable = std::make_unique<StoppableInput>(input);
        BitReader bits(*stoppable, readSize);
        const AcmHeader header = readAcmHeader(bits);
        checkHeader(header);
        return std::unique_ptr<AcmDecoder>(new AcmDecoder(
            header, std::move(bits), std::move(stoppable), threads, std::move(startThread)));
    } catch (const std::bad_alloc&) {
        throw Failure(FailureKind::OutOfMemory);
    }
}

AcmDecoder::AcmDecoder(const AcmHeader& header, BitReader&& bits,
                       std::unique_ptr<StoppableInput> input, DecodeThreads threads,
                       ThreadStarter startThread)
    : header_(header),
      geometry_(blockGeometry(header.levels, header.rows)),
      samplesLeft_(header.sampleCount),
      input_(std::move(input)) {
    resizeWithPagesMapped(wrapBuffer_, geometry_.carryCount);
    BlockProducer producer(std::move(bits), geometry_, header.sampleCount);
    if (usePipeline(header_, geometry_, threads)) {
        const std::size_t blocksPerSlot =
            std::max<std::size_t>(1, pipelineSlotValues / geometry_.blockSize);
        const std::size_t slots =
            geometry_.blockSize > pipelineSlotValues ? largeBlockSlots : pipelineSlots;
        pipeline_ =
            std::make_unique<BlockPipeline>(std::move(producer), *input_, geometry_.blockSize,
                                            blocksPerSlot, slots, std::move(startThread));
    } else {
        // A stream without rows has empty blocks, and none to unpack.
        blocksPerRefill_ = std::max<std::size_t>(
            1, sequentialRefillValues / std::max<std::size_t>(geometry_.blockSize, 1));
        resizeWithPagesMapped(blockBuffer_, geometry_.blockSize * blocksPerRefill_);
        block_ = blockBuffer_;
        producer_ = std::make_unique<BlockProducer>(std::move(producer));
    }
}

AcmDecoder::~AcmDecoder() = default;

}  // namespace talveco
