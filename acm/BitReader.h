// The ACM bit stream: fields of any width packed least significant bit first.
#pragma once

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/ByteSource.h"

namespace talveco {

// Feeds an accumulator from a ByteSource one byte at a time. Callers make sure
// enough bits are held (ensureBits), look at the low bits (peek) and take out
// only as many as they used (consume); variable-length codes depend on looking
// further ahead than they finally consume. Past the end of the input the
// stream goes on with zero bits for ever.
class BitReader {
  public:
    static constexpr std::size_t defaultReadSize = 64 * 1024;
    // The most bits one ensureBits may ask for: a byte is added only while
    // fewer than n bits are held, so the accumulator never needs more than
    // n + 7 bits.
    static constexpr unsigned maxEnsure = 57;

    // `input` must outlive the reader; each refill asks it for `readSize` bytes.
    explicit BitReader(ByteSource& input, std::size_t readSize = defaultReadSize);

    // Afterwards at least n bits are held. Takes no byte when enough are held
    // already, and ends with at most n + 7 bits when it takes any.
    void ensureBits(unsigned n) {
        assert(n <= maxEnsure);
        while (bitCount_ < n) {
            bitBuffer_ |= std::uint64_t{nextByte()} << bitCount_;
            bitCount_ += 8;
        }
    }

    // The next n (at most 32) bits of the stream, the first one least
    // significant. Only bits made sure of by ensureBits are meaningful.
    std::uint32_t peek(unsigned n) const {
        return static_cast<std::uint32_t>(bitBuffer_ & ((std::uint64_t{1} << n) - 1));
    }

    void consume(unsigned n) {
        bitBuffer_ >>= n;
        bitCount_ -= n;
    }

    // A fixed-width field of n bits.
    std::uint32_t readBits(unsigned n) {
        ensureBits(n);
        const std::uint32_t value = peek(n);
        consume(n);
        return value;
    }

    unsigned bitCount() const { return bitCount_; }

    // Bits consumed since the start of the stream.
    std::uint64_t bitPosition() const { return (bytesFetched_ - readLeft_) * 8 - bitCount_; }

  private:
    std::uint8_t nextByte() {
        if (readLeft_ == 0) refillReadBuffer();
        --readLeft_;
        return readBuffer_[readPos_++];
    }

    void refillReadBuffer();

    ByteSource& input_;
    std::vector<std::uint8_t> readBuffer_;
    std::size_t readPos_ = 0;
    std::size_t readLeft_ = 0;  // 0 at the start, so the first byte refills
    std::uint64_t bytesFetched_ = 0;
    std::uint64_t bitBuffer_ = 0;  // bits at and above bitCount_ are always zero
    unsigned bitCount_ = 0;
};

}  // namespace talveco
