// The unpacking half of decoding: bits in, unpacked blocks out. Internal to
// the decoder.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <mutex>
#include <span>
#include <thread>
#include <vector>

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

  private:
    BitReader bits_;
    BlockGeometry geometry_;
    AmplitudeTable amplitudes_;
    std::uint32_t samplesLeft_;
};

// A BlockProducer on a thread of its own that unpacks ahead of the reader
// into a small ring of slots. A slot holds a run of good blocks and how the
// run ended: the slot was full, a bad block, the end of the samples, or a
// read failure, after which the producer stops. Handing over runs of blocks
// rather than single ones keeps the cost of the hand-over small beside the
// work on a block even when blocks are a few values long. The reader takes
// the outcomes in stream order, so a read failure reaches it when it gets
// to the block the failure interrupted.
class BlockPipeline {
  public:
    // Allocates every slot, each for `blocksPerSlot` blocks; the thread
    // starts with the first takeNext.
    BlockPipeline(BlockProducer&& producer, std::size_t blockSize, std::size_t blocksPerSlot,
                  std::size_t slotCount);
    BlockPipeline(const BlockPipeline&) = delete;
    BlockPipeline& operator=(const BlockPipeline&) = delete;
    // Stops the producer, also while it waits for a free slot, and joins it.
    ~BlockPipeline();

    // The next outcome in stream order. For a good block `block` shows its
    // values in a slot, where the caller may change them until the next
    // call. Rethrows the producer's failure, on this call and every later
    // one.
    BlockOutcome takeNext(std::span<std::int32_t>& block);

  private:
    enum class RunEnd { full, badBlock, end };

    // The two threads work at once, so what only one of them writes is kept
    // apart from what the other one reads: each group on its own cache lines.
    static constexpr std::size_t cacheLine = 64;

    struct alignas(cacheLine) Slot {
        std::vector<std::int32_t> values;  // blocksPerSlot blocks one after another
        std::size_t goodBlocks = 0;
        RunEnd runEnd = RunEnd::end;
        std::exception_ptr failure;  // if set, it ended the run
    };

    void startProducer();
    void produce();
    void fill(Slot& slot) noexcept;
    void fillRun(Slot& slot);
    bool awaitFilledSlot();
    void releaseSlot();
    std::span<std::int32_t> blockOf(Slot& slot, std::size_t index);

    std::size_t blockSize_;
    std::size_t blocksPerSlot_;

    // Only the producer's thread touches these once it runs (the reader's
    // thread when no thread could be started).
    alignas(cacheLine) BlockProducer producer_;
    std::size_t fillIndex_ = 0;

    // Only the reader's thread touches these.
    alignas(cacheLine) std::size_t takeIndex_ = 0;
    bool holdingSlot_ = false;     // slots_[takeIndex_] is being read
    std::size_t blocksTaken_ = 0;  // of the held slot
    std::exception_ptr failure_;
    bool started_ = false;
    bool inline_ = false;  // no thread could be had: unpack on the reader's thread

    alignas(cacheLine)
        std::vector<Slot> slots_;  // a slot belongs to whichever side the counts give it to
    std::mutex mutex_;
    std::condition_variable slotFilled_;
    std::condition_variable slotFreed_;
    std::size_t filledCount_ = 0;  // guarded by mutex_
    bool producerDone_ = false;    // guarded by mutex_
    bool stopping_ = false;        // guarded by mutex_
    std::thread worker_;
};

}  // namespace talveco
