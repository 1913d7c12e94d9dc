// The amplitude step table that every block header rewrites.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>

namespace talveco {

// 65,536 signed 16-bit entries indexed from -32,768 to 32,767. A block header
// with range exponent p and step s sets entry k to k * s (wrapped to 16 bits)
// for -2^p <= k < 2^p and leaves every other entry as an earlier block left
// it. Entries no block has written yet read as 0.
//
// The ranges a block header rewrites are nested, so the table is kept as
// bands instead of entries: band 0 holds the entries -1 and 0, band q > 0
// the entries -2^q .. -2^(q-1) - 1 and 2^(q-1) .. 2^q - 1. Range exponent p
// covers exactly the bands 0 .. p, so every entry of a band was last written
// by the same block and equals k times that block's step. A rewrite then
// costs sixteen steps at most instead of up to 65,536 entries, whatever p
// is, and the content is exactly that of the entries.
class AmplitudeTable {
  public:
    static constexpr int lowest = -32768;
    static constexpr int highest = 32767;
    static constexpr unsigned bandCount = 16;
    // The indices of the entries kept ready as 32-bit values (see near()).
    static constexpr int nearLowest = -8;
    static constexpr int nearHighest = 7;

    AmplitudeTable() = default;

    // Entry k sign-extended to 32 bits; k must lie in [lowest, highest].
    std::int32_t operator[](int k) const { return entryValue(k, steps_[band(k)]); }

    void rewrite(unsigned rangeExponent, std::uint16_t step) {
        // Every band is looked at, so that this compiles to a few vector
        // blends instead of a loop whose length depends on the header.
        for (unsigned q = 0; q < bandCount; ++q)
            steps_[q] = q <= rangeExponent ? step : steps_[q];
        rewrittenBands_ = rangeExponent + 1;
        // Most blocks of few columns use none of the ready entries, so they
        // are made when first asked for.
        nearStale_ = true;
    }

    // The band that holds entry k.
    static unsigned band(int k) {
        // k and -k - 1 lie in the same band; the latter is ~k.
        const auto magnitude = static_cast<std::uint32_t>(k < 0 ? ~k : k);
        return static_cast<unsigned>(std::bit_width(magnitude));
    }

    // The step shared by every entry of the bands 0 .. topBand, or nothing
    // when they hold different steps. Then entry k of those bands is
    // entryValue(k, step) without a look at the bands.
    bool uniformThrough(unsigned topBand, std::uint16_t& step) const {
        step = steps_[0];
        if (topBand < rewrittenBands_) return true;  // the usual case: one block wrote them all
        for (unsigned q = rewrittenBands_; q <= topBand; ++q) {
            if (steps_[q] != step) return false;
        }
        return true;
    }

    // k * step wrapped to 16 bits, sign-extended.
    static std::int32_t entryValue(int k, std::uint16_t step) {
        return static_cast<std::int16_t>(
            static_cast<std::uint16_t>(static_cast<std::uint32_t>(k) * step));
    }

    // Entries nearLowest .. nearHighest, ready as 32-bit values: near()[k]
    // for k in that range. They are what the short codes select.
    const std::int32_t* near() const {
        if (nearStale_) refreshNear();
        return nearEntries_.data() - nearLowest;
    }

  private:
    // Runs at most once per block header; the usual case (one step across the
    // bands of the ready entries) is a multiplication of all of them at once.
    void refreshNear() const {
        constexpr unsigned nearTopBand = 3;  // the band of nearLowest and nearHighest
        std::uint16_t step = 0;
        nearStale_ = false;
        if (uniformThrough(nearTopBand, step)) {
            for (int k = nearLowest; k <= nearHighest; ++k)
                nearEntries_[static_cast<std::size_t>(k - nearLowest)] = entryValue(k, step);
            return;
        }
        for (int k = nearLowest; k <= nearHighest; ++k)
            nearEntries_[static_cast<std::size_t>(k - nearLowest)] = (*this)[k];
    }

    std::array<std::uint16_t, bandCount> steps_{};  // 0: nothing written yet
    unsigned rewrittenBands_ = bandCount;  // bands the last rewrite set, all of them at first
    // A cache of entries of steps_, made by the first near() after a rewrite.
    mutable std::array<std::int32_t, nearHighest - nearLowest + 1> nearEntries_{};
    mutable bool nearStale_ = true;
};

}  // namespace talveco
