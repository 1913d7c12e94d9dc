// The amplitude step table that every block header rewrites.
#pragma once

#include <array>
#include <cstdint>

namespace talveco {

// 65,536 signed 16-bit entries indexed from -32,768 to 32,767. A block header
// with range exponent p and step s sets entry k to k * s (wrapped to 16 bits)
// for -2^p <= k < 2^p and leaves every other entry as an earlier block left
// it. Entries no block has written yet read as 0.
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

}  // namespace talveco
