// Writes a bit stream least significant bit first, the way the ACM stream is
// packed: the first bit written is bit 0 of the first byte.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace talveco {

class BitWriter {
  public:
    // The low `count` bits of `value` (at most 32), its least significant bit
    // first.
    void write(std::uint32_t value, unsigned count) {
        if (count == 0) return;
        std::uint64_t bits = value & (count >= 32 ? 0xFFFF'FFFFu : (1u << count) - 1u);
        unsigned used = bitCount_ % 8;
        if (used != 0) {
            bits <<= used;
            bytes_.back() = static_cast<std::uint8_t>(bytes_.back() | (bits & 0xFF));
            bits >>= 8;
        }
        for (unsigned filled = 8 - (used == 0 ? 8 : used); filled < count; filled += 8) {
            bytes_.push_back(static_cast<std::uint8_t>(bits & 0xFF));
            bits >>= 8;
        }
        bitCount_ += count;
    }

    // Bits in stream order, as '0' and '1'; spaces and other characters are
    // ignored so patterns can be grouped for reading.
    void writeBitString(std::string_view bits) {
        for (const char c : bits) {
            if (c == '0' || c == '1') write(c == '1' ? 1 : 0, 1);
        }
    }

    void writeBytes(const std::vector<std::uint8_t>& bytes) {
        for (const std::uint8_t byte : bytes)
            write(byte, 8);
    }

    // Bits written since the writer was made, taken bytes included.
    std::uint64_t bitCount() const { return bitCount_; }

    // The bytes not yet taken, the last one filled up with zero bits.
    const std::vector<std::uint8_t>& bytes() const { return bytes_; }

    // Moves every complete byte not yet taken to the end of `out`; a partly
    // written last byte stays for the bits still to come.
    void takeCompleteBytes(std::vector<std::uint8_t>& out) {
        const std::size_t complete = bitCount_ % 8 == 0 ? bytes_.size() : bytes_.size() - 1;
        out.insert(out.end(), bytes_.begin(),
                   bytes_.begin() + static_cast<std::ptrdiff_t>(complete));
        bytes_.erase(bytes_.begin(), bytes_.begin() + static_cast<std::ptrdiff_t>(complete));
    }

  private:
    std::vector<std::uint8_t> bytes_;
    std::uint64_t bitCount_ = 0;
};

}  // namespace talveco
