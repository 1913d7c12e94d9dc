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

// The part of a bit reader that changes with every field: the bits held and
// where the next byte lies in the read buffer. Plain values, so that a
// decoding loop can keep a copy of them in registers (see BitCursor).
struct BitWindow {
    std::uint64_t bits = 0;    // held bits, the next one lowest; zero at and above `count`
    std::uint64_t count = 0;   // as wide as `bits`, so 32-bit stores cannot alias it
    std::size_t readPos = 0;   // next byte of the read buffer
    std::size_t readLeft = 0;  // bytes of the read buffer not yet taken

    // The next n (at most 32) bits, the first one least significant.
    std::uint32_t peek(unsigned n) const {
        return static_cast<std::uint32_t>(bits & ((std::uint64_t{1} << n) - 1));
    }

    void consume(unsigned n) {
        bits >>= n;
        count -= n;
    }

    // Whole bytes that fit above the bits held (7 when none are held), from
    // the middle of `readBuffer`, which must hold eight more.
    [[gnu::always_inline]] void takeBytesThatFit(const std::uint8_t* readBuffer) {
        const std::size_t taken = (63 - count) / 8;
        const std::uint64_t fresh = loadWord(readBuffer + readPos);
        bits |= (fresh & ((std::uint64_t{1} << (8 * taken)) - 1)) << count;
        count += 8 * taken;
        readPos += taken;
        readLeft -= taken;
    }

  private:
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
};

class BitCursor;

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
        while (window_.count < n) {
            window_.bits |= std::uint64_t{nextByte()} << window_.count;
            window_.count += 8;
        }
    }

    // The next n (at most 32) bits of the stream, the first one least
    // significant. Only bits made sure of by ensureBits are meaningful.
    std::uint32_t peek(unsigned n) const { return window_.peek(n); }

    void consume(unsigned n) { window_.consume(n); }

    // A fixed-width field of n bits.
    std::uint32_t readBits(unsigned n) {
        ensureBits(n);
        const std::uint32_t value = peek(n);
        consume(n);
        return value;
    }

    unsigned bitCount() const { return static_cast<unsigned>(window_.count); }

    // Bits consumed since the start of the stream.
    std::uint64_t bitPosition() const { return positionAt(window_); }

    // Whether bits beyond the end of the input have been consumed: zeros
    // that stand in for data the input did not have.
    bool pastEndOfInput() const { return pastEndAt(window_); }

  private:
    friend class BitCursor;

    std::uint64_t positionAt(const BitWindow& window) const {
        return (bytesFetched_ - window.readLeft) * 8 - window.count;
    }
    bool pastEndAt(const BitWindow& window) const {
        return inputEnded_ && positionAt(window) > endOfInputBit_;
    }

    std::uint8_t nextByte() {
        if (window_.readLeft == 0) refillReadBuffer();
        --window_.readLeft;
        return readBuffer_[window_.readPos++];
    }

    void refillReadBuffer();

    // ensureBits from `window` on, which then replaces the reader's own;
    // returns the window afterwards. Out of line: the rare path of a
    // BitCursor refill, which hands its window over by value so that its
    // own copy never needs an address.
    BitWindow ensureBitsFrom(BitWindow window, unsigned n);

    ByteSource& input_;
    std::vector<std::uint8_t> readBuffer_;
    BitWindow window_;                // readLeft 0 at the start, so the first byte refills
    std::uint64_t bytesFetched_ = 0;  // zeros past the end of the input included
    bool inputEnded_ = false;
    std::uint64_t endOfInputBit_ = 0;  // where the input first ended
};

// Reads on from where a BitReader stands with a copy of its window, which a
// decoding loop keeps in registers instead of going through the reader's
// memory for every field; release() hands the position back. In between
// the reader must not be used. When the read buffer runs short the cursor
// falls back to the reader's byte-by-byte path, so the input is read no
// earlier than with ensureBits.
class BitCursor {
  public:
    explicit BitCursor(BitReader& reader)
        : reader_(reader), readBuffer_(reader.readBuffer_.data()), window_(reader.window_) {}

    void release() { reader_.window_ = window_; }

    // Like ensureBits, but when it has to take bytes it takes as many as
    // fit: from the middle of the read buffer eight bytes are loaded at once
    // and at least `refillTarget` bits are held afterwards. Near the end of
    // the buffer it takes bytes one at a time. The column decoders use it to
    // take bits for several values with one refill.
    static constexpr unsigned refillTarget = 56;
    [[gnu::always_inline]] void refillBits(unsigned n) {
        assert(n <= refillTarget);
        if (window_.count >= n) return;
        if (window_.readLeft < 8) [[unlikely]] {
            window_ = reader_.ensureBitsFrom(window_, n);
            return;
        }
        window_.takeBytesThatFit(readBuffer_);
    }

    // The same, but from the middle of the read buffer it takes bytes even
    // when n bits are held already: cheaper than a check that a decoder
    // cannot predict.
    [[gnu::always_inline]] void refillAhead(unsigned n) {
        assert(n <= refillTarget);
        if (window_.readLeft < 8) [[unlikely]] {
            if (window_.count < n) window_ = reader_.ensureBitsFrom(window_, n);
            return;
        }
        window_.takeBytesThatFit(readBuffer_);
    }

    // Takes as many bytes as fit when the read buffer holds eight more, and
    // nothing otherwise: it never asks the input for bytes. For looking
    // further ahead than a caller must, as for a run of zero bits.
    [[gnu::always_inline]] void topUp() {
        if (window_.readLeft >= 8) window_.takeBytesThatFit(readBuffer_);
    }

    // Whether the next n bits lie in the read buffer with at least `slack`
    // bytes after them, and the held bits came from it too: then they can
    // be read straight from the buffer (bufferBits) and passed over
    // (skipInBuffer).
    bool inBuffer(std::size_t n, std::size_t slack) const {
        return window_.readPos * 8 >= window_.count &&
               window_.readLeft * 8 + window_.count >= n + 8 * slack;
    }

    // The read buffer from the byte that holds the next bit on, and that
    // bit's place in it (0 = lowest). Only meaningful where inBuffer holds.
    const std::uint8_t* bufferBits(unsigned& firstBit) const {
        const std::size_t position = window_.readPos * 8 - window_.count;
        firstBit = static_cast<unsigned>(position % 8);
        return readBuffer_ + position / 8;
    }

    // Moves on by n bits for which inBuffer(n, 8) holds, without looking at
    // them.
    void skipInBuffer(std::size_t n) {
        const std::size_t target = window_.readPos * 8 - window_.count + n;
        // readLeft goes down by the bytes moved over (up, when more than n
        // bits were held), in wrapping unsigned arithmetic.
        window_.readLeft -= target / 8 - window_.readPos;
        window_.readPos = target / 8;
        window_.bits = 0;
        window_.count = 0;
        window_.takeBytesThatFit(readBuffer_);
        window_.consume(static_cast<unsigned>(target % 8));
    }

    // How many of the held bits from the next one on are zero, counting no
    // further than `limit` bits (at most those held). A bit set at the limit
    // ends the count, where a comparison after it would lengthen the chain
    // from one field to the next.
    unsigned zeroBitsWithin(std::size_t limit) const {
        assert(limit <= window_.count && limit < 64);
        return static_cast<unsigned>(std::countr_zero(window_.bits | std::uint64_t{1} << limit));
    }

    std::uint32_t peek(unsigned n) const { return window_.peek(n); }
    void consume(unsigned n) { window_.consume(n); }
    unsigned bitCount() const { return static_cast<unsigned>(window_.count); }

    // BitReader::pastEndOfInput at the cursor's position. The reader's own
    // counts change only through ensureBitsFrom, which leaves them current.
    bool pastEndOfInput() const { return reader_.pastEndAt(window_); }

    // A fixed-width field of n bits.
    std::uint32_t takeBits(unsigned n) {
        refillBits(n);
        const std::uint32_t value = peek(n);
        consume(n);
        return value;
    }

  private:
    BitReader& reader_;
    const std::uint8_t* readBuffer_;
    BitWindow window_;
};

}  // namespace talveco
