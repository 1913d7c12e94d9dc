// Bytes in memory as a ByteSource that records how it is read.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <span>
#include <vector>

#include "platform/ByteSource.h"
#include "platform/Failure.h"

namespace talveco::testing {

class MemoryByteSource final : public ByteSource {
  public:
    // Each read delivers at most `chunkLimit` bytes, to imitate short reads.
    explicit MemoryByteSource(std::vector<std::uint8_t> bytes,
                              std::size_t chunkLimit = std::numeric_limits<std::size_t>::max())
        : bytes_(std::move(bytes)), chunkLimit_(chunkLimit) {}

    // The read with this number (counted from 0) raises an I/O failure.
    void failReadNumber(std::size_t number) { failingRead_ = number; }

    std::size_t readSome(std::span<std::uint8_t> buffer) override {
        requested_.push_back(buffer.size());
        if (failingRead_ && *failingRead_ == requested_.size() - 1) {
            throw Failure(FailureKind::IoError, 5);
        }
        const std::size_t count = std::min({buffer.size(), chunkLimit_, bytes_.size() - position_});
        std::copy_n(bytes_.begin() + static_cast<std::ptrdiff_t>(position_), count, buffer.begin());
        position_ += count;
        delivered_.push_back(count);
        return count;
    }

    std::size_t readCount() const { return requested_.size(); }
    const std::vector<std::size_t>& requestedSizes() const { return requested_; }
    const std::vector<std::size_t>& deliveredSizes() const { return delivered_; }

  private:
    std::vector<std::uint8_t> bytes_;
    std::size_t chunkLimit_;
    std::size_t position_ = 0;
    std::optional<std::size_t> failingRead_;
    std::vector<std::size_t> requested_;
    std::vector<std::size_t> delivered_;
};

}  // namespace talveco::testing
