#include "acm/BlockPipeline.h"

#include <chrono>
#include <utility>

#include "platform/Interrupts.h"
#include "platform/Pages.h"

namespace talveco {
namespace {

// A thread that waits on a condition variable goes to sleep, and on a
// virtual machine its processor halts: waking it takes the other thread a
// system call and this one tens of microseconds before it runs again. The
// two threads keep nearly the same pace and hand over a slot every hundred
// microseconds or so, so a wait first watches the count for a while, which
// spares both threads most of those sleeps (measured on two processors:
// 2 to 10 % faster at 4 to 15 levels, for up to a fifth more processor
// time), and only then sleeps.
constexpr auto spinLimit = std::chrono::microseconds(200);

void pauseBriefly() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#elif defined(__aarch64__)
    asm volatile("yield");
#endif
}

// Returns once ready() holds or spinLimit has passed; the clock is read
// once in 64 looks.
template <typename Ready>
void spinUntil(Ready ready) {
    constexpr int looksPerClockRead = 64;
    const auto deadline = std::chrono::steady_clock::now() + spinLimit;
    do {
        for (int look = 0; look < looksPerClockRead; ++look) {
            if (ready()) return;
            pauseBriefly();
        }
    } while (std::chrono::steady_clock::now() < deadline);
}

}  // namespace

BlockPipeline::BlockPipeline(BlockProducer&& producer, StoppableInput& input, std::size_t blockSize,
                             std::size_t blocksPerSlot, std::size_t slotCount,
                             ThreadStarter startThread)
    : blockSize_(blockSize),
      blocksPerSlot_(blocksPerSlot),
      input_(input),
      startThread_(std::move(startThread)),
      producer_(std::move(producer)),
      slots_(slotCount) {
    for (Slot& slot : slots_)
        slot.values = std::make_unique_for_overwrite<std::int32_t[]>(blockSize * blocksPerSlot);
}

// The slot's values. Their pages are mapped when the slot is first used, by
// the thread that fills it: the reader's thread need not wait for the pages
// of every slot before the first block comes.
std::span<std::int32_t> BlockPipeline::valuesOf(Slot& slot) {
    const std::span<std::int32_t> values(slot.values.get(), blockSize_ * blocksPerSlot_);
    if (!slot.pagesMapped) {
        mapPagesNow(values.data(), values.size_bytes());
        slot.pagesMapped = true;
    }
    return values;
}

std::span<std::int32_t> BlockPipeline::blockOf(Slot& slot, std::size_t index) {
    return std::span<std::int32_t>(slot.values.get() + index * blockSize_, blockSize_);
}

BlockPipeline::~BlockPipeline() {
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    input_.requestStop();
    slotFreed_.notify_all();
    if (worker_.joinable()) worker_.join();
}

void BlockPipeline::startProducer() {
    started_ = true;
    // The interrupt cleanup must run on the caller's thread, which registers
    // and removes the temporary file with these signals blocked; the new
    // thread inherits this mask.
    const InterruptsBlocked blocked;
    try {
        auto work = [this] { produce(); };
        worker_ = startThread_ ? startThread_(work) : std::thread(work);
    } catch (...) {
        // No thread (no resources, no memory for one): the blocks are
        // unpacked on this thread as they are needed, with the same results.
        inline_ = true;
    }
}

// The producer's loop: waits for a free slot, fills it outside the lock and
// hands it over, until the samples are all taken, a read fails or the
// pipeline is stopped.
void BlockPipeline::produce() {
    while (!producer_.finished()) {
        spinUntil([this] { return filledCount_.load(std::memory_order_relaxed) < slots_.size(); });
        {
            std::unique_lock lock(mutex_);
            slotFreed_.wait(lock, [this] { return stopping_ || filledCount_ < slots_.size(); });
            if (stopping_) break;
        }
        Slot& slot = slots_[fillIndex_];
        fill(slot);
        fillIndex_ = (fillIndex_ + 1) % slots_.size();
        {
            const std::lock_guard lock(mutex_);
            ++filledCount_;
        }
        slotFilled_.notify_one();
        if (slot.failure || slot.runEnd == RunEnd::end) break;
    }
    {
        const std::lock_guard lock(mutex_);
        producerDone_ = true;
    }
    slotFilled_.notify_one();
}

void BlockPipeline::fill(Slot& slot) noexcept {
    slot.failure = nullptr;
    try {
        fillRun(slot);
    } catch (...) {
        slot.failure = std::current_exception();
    }
}

// The run keeps its good blocks current, so after a failed read it holds
// the blocks before the failure.
void BlockPipeline::fillRun(Slot& slot) {
    producer_.unpackRun(valuesOf(slot), blocksPerSlot_, slot.run);
    if (slot.run.stoppedAtBadBlock) {
        slot.runEnd = RunEnd::badBlock;
    } else {
        slot.runEnd = producer_.finished() ? RunEnd::end : RunEnd::full;
    }
}

// Waits until the next slot is filled; false when the producer has stopped
// and every slot it filled has been taken.
bool BlockPipeline::awaitFilledSlot() {
    spinUntil([this] {
        return filledCount_.load(std::memory_order_relaxed) > 0 ||
               producerDone_.load(std::memory_order_relaxed);
    });
    std::unique_lock lock(mutex_);
    slotFilled_.wait(lock, [this] { return filledCount_ > 0 || producerDone_; });
    return filledCount_ > 0;
}

void BlockPipeline::releaseSlot() {
    holdingSlot_ = false;
    takeIndex_ = (takeIndex_ + 1) % slots_.size();
    {
        const std::lock_guard lock(mutex_);
        --filledCount_;
    }
    slotFreed_.notify_one();
}

BlockOutcome BlockPipeline::takeInline(std::span<std::int32_t>& block) {
    block = valuesOf(slots_.front()).first(blockSize_);
    const BlockOutcome outcome = producer_.unpackNext(block);
    lastTakenPastEnd_ = producer_.lastBlockPastEnd();
    return outcome;
}

// A slot stays held while its blocks are read, and is released on the call
// after its last block, when the caller is done with that block's values.
BlockOutcome BlockPipeline::takeNext(std::span<std::int32_t>& block) {
    if (!started_) startProducer();
    if (inline_) return takeInline(block);
    for (;;) {
        if (!holdingSlot_) {
            if (!awaitFilledSlot()) return BlockOutcome::end;
            holdingSlot_ = true;
            blocksTaken_ = 0;
        }
        Slot& slot = slots_[takeIndex_];
        if (blocksTaken_ < slot.run.goodBlocks) {
            lastTakenPastEnd_ = slot.run.firstPastEnd && blocksTaken_ >= *slot.run.firstPastEnd;
            block = blockOf(slot, blocksTaken_++);
            return BlockOutcome::good;
        }
        // The producer has stopped; the slot stays held, so every later
        // call comes back here.
        if (slot.failure) std::rethrow_exception(slot.failure);
        const RunEnd runEnd = slot.runEnd;
        releaseSlot();
        if (runEnd == RunEnd::badBlock) return BlockOutcome::bad;
        if (runEnd == RunEnd::end) return BlockOutcome::end;
    }
}

}  // namespace talveco
