// Block unpacking written as plainly as possible: the amplitude table as
// 65,536 entries rewritten in full by every block header, and one pattern at
// a time from ensured bits. The reference the decoder's unpacking is
// compared with.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "acm/AcmDecoder.h"
#include "acm/BitReader.h"

namespace talveco::reference {

// 65,536 signed 16-bit entries indexed from -32,768 to 32,767; a block header
// with range exponent p and step s sets entry k to k * s (wrapped to 16 bits)
// for -2^p <= k < 2^p and leaves every other entry alone.
class AmplitudeTable {
  public:
    static constexpr int lowest = -32768;
    static constexpr int highest = 32767;

    AmplitudeTable() : entries_{} {}

    // Entry k sign-extended to 32 bits; k must lie in [lowest, highest].
    std::int32_t operator[](int k) const { return entries_[static_cast<std::size_t>(k - lowest)]; }

    void rewrite(unsigned rangeExponent, std::uint16_t step) {
        const int count = 1 << rangeExponent;
        for (int k = -count; k < count; ++k) {
            // The product wraps: only its low 16 bits, read as two's
            // complement, are kept.
            const std::uint32_t product = static_cast<std::uint32_t>(k) * step;
            entries_[static_cast<std::size_t>(k - lowest)] =
                static_cast<std::int16_t>(static_cast<std::uint16_t>(product));
        }
    }

  private:
    std::array<std::int16_t, 65536> entries_;
};

struct ColumnTarget {
    BitReader& bits;
    const AmplitudeTable& amplitudes;
    std::span<std::int32_t> blockBuffer;
    std::size_t columns;
    std::size_t rows;
};

// The filler of `code` on one column; false for a code without a method.
bool fillColumn(ColumnTarget& target, unsigned code, std::size_t column);

bool unpackBlock(BitReader& bits, AmplitudeTable& amplitudes, const BlockGeometry& geometry,
                 std::span<std::int32_t> blockBuffer);

}  // namespace talveco::reference
