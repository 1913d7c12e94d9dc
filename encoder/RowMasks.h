// Rows of a column as bits of a 64-bit mask, made without a branch per row,
// so that the rows that matter can be visited or counted at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace talveco {

// Bit i set where `holds(values[i])`, for `count` (at most 64) values. The
// flags are made a byte each, which the compiler does in vector lanes; a
// multiplication then gathers the low bits of eight bytes into one byte.
template <typename Holds>
std::uint64_t rowMask(const int* values, std::size_t count, Holds holds) {
    std::uint8_t flags[64 + 8] = {};
    for (std::size_t i = 0; i < count; ++i)
        flags[i] = holds(values[i]) ? 1 : 0;
    std::uint64_t mask = 0;
    for (std::size_t first = 0; first < count; first += 8) {
        std::uint64_t eight = 0;
        std::memcpy(&eight, flags + first, sizeof eight);
        // Byte k's bit lands in bit 56 + k, and no two products meet there.
        mask |= ((eight * 0x0102040810204080u) >> 56) << first;
    }
    return mask;
}

// The set bits of a mask, without the library call that std::popcount
// makes on processors without a population-count instruction.
inline unsigned setBits(std::uint64_t mask) {
    mask -= (mask >> 1) & 0x5555555555555555u;
    mask = (mask & 0x3333333333333333u) + ((mask >> 2) & 0x3333333333333333u);
    mask = (mask + (mask >> 4)) & 0x0F0F0F0F0F0F0F0Fu;
    return static_cast<unsigned>((mask * 0x0101010101010101u) >> 56);
}

}  // namespace talveco
