#include "acm/BlockProducer.h"

#include <algorithm>
#include <system_error>
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
    return BlockOutcome::good;
}

BlockPipeline::BlockPipeline(BlockProducer&& producer, std::size_t blockSize, std::size_t slotCount)
    : producer_(std::move(producer)), slots_(slotCount) {
    for (Slot& slot : slots_)
        slot.values.resize(blockSize);
}

BlockPipeline::~BlockPipeline() {
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    slotFreed_.notify_all();
    if (worker_.joinable()) worker_.join();
}

void BlockPipeline::startProducer() {
    started_ = true;
    try {
        worker_ = std::thread([this] { produce(); });
    } catch (const std::system_error&) {
        // Without a second thread the blocks are unpacked as they are needed.
        inline_ = true;
    }
}

// The producer's loop: waits for a free slot, fills it outside the lock and
// hands it over, until the samples are all taken, a read fails or the
// pipeline is stopped.
void BlockPipeline::produce() {
    while (!producer_.finished()) {
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
        if (slot.failure) break;
    }
    {
        const std::lock_guard lock(mutex_);
        producerDone_ = true;
    }
    slotFilled_.notify_one();
}

void BlockPipeline::fill(Slot& slot) noexcept {
    try {
        slot.outcome = producer_.unpackNext(slot.values);
    } catch (...) {
        slot.failure = std::current_exception();
    }
}

// The slot with the next outcome, or none when the producer has stopped and
// every slot it filled has been taken.
BlockPipeline::Slot* BlockPipeline::awaitFilledSlot() {
    std::unique_lock lock(mutex_);
    slotFilled_.wait(lock, [this] { return filledCount_ > 0 || producerDone_; });
    return filledCount_ > 0 ? &slots_[takeIndex_] : nullptr;
}

void BlockPipeline::releaseSlot() {
    takeIndex_ = (takeIndex_ + 1) % slots_.size();
    {
        const std::lock_guard lock(mutex_);
        --filledCount_;
    }
    slotFreed_.notify_one();
}

BlockOutcome BlockPipeline::takeNext(std::vector<std::int32_t>& block) {
    if (failure_) std::rethrow_exception(failure_);
    if (!started_) startProducer();
    if (inline_) return producer_.unpackNext(block);
    Slot* slot = awaitFilledSlot();
    if (slot == nullptr) return BlockOutcome::end;
    if (slot->failure) {
        // The producer has stopped; the slot stays taken.
        failure_ = slot->failure;
        std::rethrow_exception(failure_);
    }
    const BlockOutcome outcome = slot->outcome;
    if (outcome == BlockOutcome::good) block.swap(slot->values);
    releaseSlot();
    return outcome;
}

}  // namespace talveco
