// Unpacking ahead on a second thread. Internal to the decoder.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <thread>
#include <vector>

#include "acm/BlockProducer.h"
#include "platform/ByteSource.h"

namespace talveco {

// The decoder's input as the producer reads it: once a stop is requested,
// the next read raises InputStopped instead of waiting on the input, so a
// decoder that is destroyed waits at most for the read in progress.
class StoppableInput final : public ByteSource {
  public:
    struct InputStopped : std::exception {};

    explicit StoppableInput(ByteSource& input) : input_(input) {}

    std::size_t readSome(std::span<std::uint8_t> buffer) override {
        if (stopRequested_.load(std::memory_order_acquire)) throw InputStopped{};
        return input_.readSome(buffer);
    }

    void requestStop() { stopRequested_.store(true, std::memory_order_release); }

  private:
    ByteSource& input_;
    std::atomic<bool> stopRequested_{false};
};

// A BlockProducer on a thread of its own that unpacks ahead of the reader
// into a small ring of slots. A slot holds a run of good blocks and how the
// run ended: the slot was full, a bad block, the end of the samples, or a
// read failure, after which the producer stops. Handing over runs of blocks
// rather than single ones keeps the cost of the hand-over small beside the
// work on a block even when blocks are a few values long. The reader takes
// the outcomes in stream order, so a read failure reaches it when it gets
// to the block the failure interrupted.
//
// The ring's invariants, kept under mutex_ by filledCount_:
// - Slots fillIndex_ .. fillIndex_ + (slots - filledCount_ - 1) (mod slots)
//   belong to the producer, which alone writes them, outside the lock.
// - Slots takeIndex_ .. takeIndex_ + filledCount_ - 1 belong to the reader,
//   which alone reads them; the producer has finished writing a slot before
//   it raises filledCount_ (the mutex orders the writes before the reads).
// - The reader holds slot takeIndex_ from its first block to the call after
//   its last one, since the caller may still use that block's values; only
//   then does it lower filledCount_ and give the slot back.
// - The producer reads the input only to fill a slot, and stops at the end
//   of the samples, at a read failure and when the pipeline is destroyed,
//   so it never reads further than sequential decoding would by then.
class BlockPipeline {
  public:
    // Allocates every slot, each for `blocksPerSlot` blocks; the thread
    // starts with the first takeNext. `input` is what the producer's bits
    // are read from. When no thread can be started, the blocks are unpacked
    // on the reader's thread as they are needed.
    BlockPipeline(BlockProducer&& producer, StoppableInput& input, std::size_t blockSize,
                  std::size_t blocksPerSlot, std::size_t slotCount, ThreadStarter startThread = {});
    BlockPipeline(const BlockPipeline&) = delete;
    BlockPipeline& operator=(const BlockPipeline&) = delete;
    // Stops the producer, also while it waits for a free slot or on its
    // input (after the read in progress), and joins it.
    ~BlockPipeline();

    // The next outcome in stream order. For a good block `block` shows its
    // values in a slot, where the caller may change them until the next
    // call. Rethrows the producer's failure, on this call and every later
    // one: the slot that holds it is never given back.
    BlockOutcome takeNext(std::span<std::int32_t>& block);

    // Whether the block takeNext gave last was decoded from beyond the end
    // of the input.
    bool lastTakenPastEnd() const { return lastTakenPastEnd_; }

  private:
    enum class RunEnd { full, badBlock, end };

    // The two threads work at once, so what only one of them writes is kept
    // apart from what the other one reads: each group on its own cache lines.
    static constexpr std::size_t cacheLine = 64;

    struct alignas(cacheLine) Slot {
        // blocksPerSlot blocks one after another, not initialised: unpacking
        // writes every value of a block it hands over.
        std::unique_ptr<std::int32_t[]> values;
        bool pagesMapped = false;  // by the thread that fills the slot first
        BlockRun run;              // its good blocks
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
    std::span<std::int32_t> valuesOf(Slot& slot);
    BlockOutcome takeInline(std::span<std::int32_t>& block);

    std::size_t blockSize_;
    std::size_t blocksPerSlot_;
    StoppableInput& input_;
    ThreadStarter startThread_;

    // Only the producer's thread touches these once it runs (the reader's
    // thread when no thread could be had).
    alignas(cacheLine) BlockProducer producer_;
    std::size_t fillIndex_ = 0;

    // Only the reader's thread touches these.
    alignas(cacheLine) std::size_t takeIndex_ = 0;
    bool holdingSlot_ = false;     // slots_[takeIndex_] is being read
    std::size_t blocksTaken_ = 0;  // of the held slot
    bool lastTakenPastEnd_ = false;
    bool started_ = false;
    bool inline_ = false;  // no thread could be had: unpack on the reader's thread

    alignas(cacheLine) std::vector<Slot> slots_;
    std::mutex mutex_;
    std::condition_variable slotFilled_;
    std::condition_variable slotFreed_;
    // Changed under mutex_ only; atomic so that a thread about to wait can
    // watch them for a while without the lock first (see spinUntil).
    std::atomic<std::size_t> filledCount_ = 0;
    std::atomic<bool> producerDone_ = false;
    bool stopping_ = false;  // guarded by mutex_
    std::thread worker_;
};

}  // namespace talveco
