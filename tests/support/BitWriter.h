// Writes a bit stream least significant bit first, the way the ACM stream is
// packed: the first bit written is bit 0 of the first byte.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string_view>
#include <vector>

namespace talveco::testing {

class BitWriter {
  public:
    // The low `count` bits of `value` (at most 32), its least significant bit
    // first.
    void write(std::uint32_t value, unsigned count) {
        for (unsigned i = 0; i < count; ++i)
            writeBit(((value >> i) & 1) != 0);
    }

    // Bits in stream order, as '0' and '1'; spaces and other characters are
    // ignored so patterns can be grouped for reading.
    void writeBitString(std::string_view bits) {
        for (const char c : bits) {
            if (c == '0' || c == '1') writeBit(c == '1');
        }
    }

    void writeBytes(const std::vector<std::uint8_t>& bytes) {
        for (const std::uint8_t byte : bytes)
            write(byte, 8);
    }

    std::uint64_t bitCount() const { return bitCount_; }

    // The stream so far, its last byte filled up with zero bits.
    const std::vector<std::uint8_t>& bytes() const { return bytes_; }

  private:
    void writeBit(bool bit) {
        if (bitCount_ % 8 == 0) bytes_.push_back(0);
        if (bit) bytes_.back() = static_cast<std::uint8_t>(bytes_.back() | (1u << (bitCount_ % 8)));
        ++bitCount_;
    }

    std::vector<std::uint8_t> bytes_;
    std::uint64_t bitCount_ = 0;
};

// The bytes of a stream given as a bit string in stream order.
inline std::vector<std::uint8_t> bytesFromBitString(std::string_view bits) {
    BitWriter writer;
    writer.writeBitString(bits);
    return writer.bytes();
}

}  // namespace talveco::testing
