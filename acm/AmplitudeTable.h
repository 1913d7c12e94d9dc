// The amplitude step table that every block header rewrites.
#pragma once

#include <array>
#include <bit>
#include <cassert>
#include <cstddef>
#include <cstdint>

namespace talveco {

// For each range exponent p, the bits of four 64-bit words, four 16-bit
// steps each with band 0 lowest, that hold the steps of bands 0 .. p.
constexpr auto buildBandRewriteMasks() {
    std::array<std::array<std::uint64_t, 4>, 16> masks{};
    for (unsigned p = 0; p < 16; ++p)
        for (unsigned q = 0; q <= p; ++q)
            masks[p][q / 4] |= std::uint64_t{0xFFFF} << (16 * (q % 4));
    return masks;
}
inline constexpr auto bandRewriteMasks = buildBandRewriteMasks();

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
    std::int32_t operator[](int k) const { return entryValue(k, stepOf(band(k))); }

    void rewrite(unsigned rangeExponent, std::uint16_t step) {
        assert(rangeExponent < bandCount);
        // Bands 0 .. p are the low 16 * (p + 1) bits of stepWords_, so the
        // rewrite is a masked store of the step into each word, with masks
        // looked up: a few operations and no branch, where a condition per
        // band compiles to branches that the headers' exponents make
        // unpredictable.
        const std::uint64_t steps = std::uint64_t{step} * 0x0001'0001'0001'0001u;
        const auto& masks = bandRewriteMasks[rangeExponent];
        for (std::size_t w = 0; w < stepWords_.size(); ++w)
            stepWords_[w] = (stepWords_[w] & ~masks[w]) | (steps & masks[w]);
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
        step = stepOf(0);
        if (topBand < rewrittenBands_) return true;  // the usual case: one block wrote them all
        for (unsigned q = rewrittenBands_; q <= topBand; ++q) {
            if (stepOf(q) != step) return false;
        }
        return true;
    }

    // k * step wrapped to 16 bits, sign-extended.
    static std::int32_t entryValue(int k, std::uint16_t step) {
        return static_cast<std::int16_t>(
            static_cast<std::uint16_t>(static_cast<std::uint32_t>(k) * step));
    }

    // The steps of all bands: band q's in bits 16 * (q % 4) .. 16 * (q % 4)
    // + 15 of word q / 4. For code that works out entries itself.
    const std::uint64_t* bandStepWords() const { return stepWords_.data(); }

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

    static constexpr std::size_t stepWordCount = 4;  // of 64 bits, four bands each

    // The step of band q; 0 while nothing has been written.
    std::uint16_t stepOf(unsigned q) const {
        return static_cast<std::uint16_t>(stepWords_[q / 4] >> (16 * (q % 4)));
    }

    // Band q's step in bits 16 * (q % 4) .. 16 * (q % 4) + 15 of word q / 4.
    std::array<std::uint64_t, stepWordCount> stepWords_{};
    unsigned rewrittenBands_ = bandCount;  // bands the last rewrite set, all of them at first
    // A cache of entries of the bands, made by the first near() after a rewrite.
    mutable std::array<std::int32_t, nearHighest - nearLowest + 1> nearEntries_{};
    mutable bool nearStale_ = true;
};

}  // namespace talveco
