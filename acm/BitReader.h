// The ACM bit stream: fields of any width packed least significant bit first.
#pragma once

#include <algorithm>
#include <bit>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <cstring>
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

    // Like ensureBits, but when it has to take bytes it takes as many as fit:
    // from the middle of the read buffer eight bytes are loaded at once and
    // at least `refillTarget` bits are held afterwards. Near the end of the
    // buffer it takes bytes one at a time, so the input is never read
    // earlier than ensureBits would read it. The column decoders use it to
    // take bits for several values with one refill.
    // Inlined by force: the column decoders call it once per few values, and
    // a call there costs as much as the refill itself.
    static constexpr unsigned refillTarget = 56;
    [[gnu::always_inline]] void refillBits(unsigned n) {
        assert(n <= refillTarget);
        if (bitCount_ >= n) return;
        if (readLeft_ < 8) [[unlikely]] {
            ensureBitsNearEnd(n);
            return;
        }
        takeBytesThatFit();
    }

    // Takes as many bytes as fit when the read buffer holds eight more, and
    // nothing otherwise: it never asks the input for bytes. For looking
    // further ahead than a caller must, as for a run of zero bits.
    void topUp() {
        if (readLeft_ >= 8) takeBytesThatFit();
    }

    // How many of the held bits, from the next one on, are zero.
    unsigned zeroBitsHeld() const {
        // Bits above bitCount_ are zero too, so the count is capped there.
        return static_cast<unsigned>(
            std::min<std::uint64_t>(std::uint64_t(std::countr_zero(bitBuffer_)), bitCount_));
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

    // The same, refilling with refillBits.
    std::uint32_t takeBits(unsigned n) {
        refillBits(n);
        const std::uint32_t value = peek(n);
        consume(n);
        return value;
    }

    unsigned bitCount() const { return static_cast<unsigned>(bitCount_); }

    // Bits consumed since the start of the stream.
    std::uint64_t bitPosition() const { return (bytesFetched_ - readLeft_) * 8 - bitCount_; }

    // Whether bits beyond the end of the input have been consumed: zeros
    // that stand in for data the input did not have.
    bool pastEndOfInput() const { return inputEnded_ && bitPosition() > endOfInputBit_; }

  private:
    // Whole bytes that fit above the bits held (7 when none are held), from
    // the middle of the read buffer, which must hold eight more.
    [[gnu::always_inline]] void takeBytesThatFit() {
        const std::size_t taken = (63 - bitCount_) / 8;
        const std::uint64_t fresh = loadWord(readBuffer_.data() + readPos_);
        bitBuffer_ |= (fresh & ((std::uint64_t{1} << (8 * taken)) - 1)) << bitCount_;
        bitCount_ += 8 * taken;
        readPos_ += taken;
        readLeft_ -= taken;
    }

    // Eight bytes of the stream, the first one lowest.
    static std::uint64_t loadWord(const std::uint8_t* bytes) {
        std::uint64_t word;
        std::memcpy(&word, bytes, sizeof word);
        if constexpr (std::endian::native == std::endian::big) word = byteSwapped(word);
        return word;
    }
    static std::uint64_t byteSwapped(std::uint64_t word) {
        std::uint64_t swapped = 0;
        for (int i = 0; i < 8; ++i, word >>= 8)
            swapped = (swapped << 8) | (word & 0xFF);
        return swapped;
    }

    std::uint8_t nextByte() {
        if (readLeft_ == 0) refillReadBuffer();
        --readLeft_;
        return readBuffer_[readPos_++];
    }

    void refillReadBuffer();
    // ensureBits, out of line: the rare path of refillBits, kept apart so
    // that the common one stays small enough to inline everywhere.
    void ensureBitsNearEnd(unsigned n);

    ByteSource& input_;
    std::vector<std::uint8_t> readBuffer_;
    std::size_t readPos_ = 0;
    std::size_t readLeft_ = 0;        // 0 at the start, so the first byte refills
    std::uint64_t bytesFetched_ = 0;  // zeros past the end of the input included
    bool inputEnded_ = false;
    std::uint64_t endOfInputBit_ = 0;  // where the input first ended
    std::uint64_t bitBuffer_ = 0;      // bits at and above bitCount_ are always zero
    // As wide as the buffer: stores of 32-bit values by the column decoders
    // cannot alias it, so it stays in a register across them.
    std::uint64_t bitCount_ = 0;
};

}  // namespace talveco
