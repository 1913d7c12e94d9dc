#include "encoder/ColumnCoder.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <stdexcept>
#include <string>

#include "encoder/RowMasks.h"

namespace talveco {
namespace {

[[noreturn]] void reject(const std::string& what) {
    throw std::invalid_argument(what);
}

// A bit pattern, its first bit lowest.
struct Pattern {
    std::uint32_t bits = 0;
    unsigned length = 0;  // 0: the index cannot be written
};

// Position of index k in {-2, -1, 1, 2}, {-3, -2, 2, 3} or {-4 .. -1, 1 .. 4}.
std::uint32_t rangePosition(int k, int range) {
    if (range == 3) return k < 0 ? std::uint32_t(k + 3) : std::uint32_t(k);
    return k < 0 ? std::uint32_t(k + range) : std::uint32_t(k + range - 1);
}

// The pattern of a nonzero index in a range code. Codes 17, 20, 23 and 26
// are the zero-pair forms of 18, 21, 24 and 27: their patterns start with
// "1 1" instead of "1", as "1 0" is their single zero.
Pattern nonZeroPattern(unsigned code, int k) {
    const bool pairCode = code % 3 == 2;
    const std::uint32_t lead = pairCode ? 3 : 1;
    const unsigned leadLength = pairCode ? 2 : 1;
    const auto after = [&](std::uint32_t bits, unsigned length) {
        return Pattern{lead | (bits << leadLength), leadLength + length};
    };
    const int magnitude = k < 0 ? -k : k;
    switch (code) {
        case 17:
        case 18:
            if (magnitude == 1) return after(k > 0 ? 1 : 0, 1);
            break;
        case 20:
        case 21:
            if (magnitude <= 2) return after(rangePosition(k, 2), 2);
            break;
        case 23:
        case 24:
            // "0 s" for +-1, "1 x y" for the others.
            if (magnitude == 1) return after(k > 0 ? 2 : 0, 2);
            if (magnitude <= 3) return after(1 | (rangePosition(k, 3) << 1), 3);
            break;
        case 26:
        case 27:
            if (magnitude <= 4) return after(rangePosition(k, 4), 3);
            break;
        default:
            break;
    }
    return {};
}

// The range codes: `zero` writes the zero patterns, `nonZero` the others.
// With zero pairs allowed, a zero followed by another zero, or standing in
// the last row, is written as a pair.
template <typename Zero, typename NonZero>
void encodeRows(std::span<const int> indices, bool pairs, Zero zero, NonZero nonZero) {
    for (std::size_t row = 0; row < indices.size(); ++row) {
        if (indices[row] != 0) {
            nonZero(indices[row]);
            continue;
        }
        const bool last = row + 1 == indices.size();
        if (pairs && (last || indices[row + 1] == 0)) {
            zero(true);
            ++row;
        } else {
            zero(false);
        }
    }
}

// Groups of digits (index + offset) in base `base`, lowest first, `perGroup`
// to a group of `groupBits` bits; the last group is filled up with the digit
// of index 0.
void encodeGroups(BitWriter& bits, std::span<const int> indices, int base, int perGroup,
                  unsigned groupBits) {
    const int offset = base / 2;
    for (std::size_t first = 0; first < indices.size(); first += std::size_t(perGroup)) {
        std::uint32_t group = 0;
        std::uint32_t weight = 1;
        for (std::size_t d = 0; d < std::size_t(perGroup); ++d) {
            const int index = first + d < indices.size() ? indices[first + d] : 0;
            if (index < -offset || index > offset) {
                reject("index " + std::to_string(index) + " not codable");
            }
            group += static_cast<std::uint32_t>(index + offset) * weight;
            weight *= static_cast<std::uint32_t>(base);
        }
        bits.write(group, groupBits);
    }
}

void encodeLinear(BitWriter& bits, unsigned width, std::span<const int> indices) {
    const int bias = 1 << (width - 1);
    for (const int index : indices) {
        if (index < -bias || index >= bias)
            reject("index " + std::to_string(index) + " not codable");
        bits.write(static_cast<std::uint32_t>(index + bias), width);
    }
}

// The patterns of indices -4 .. 4 of every range code 17 .. 27, made once:
// columns are many and short.
using RangePatterns = std::array<std::array<Pattern, 9>, 11>;

const RangePatterns& rangePatterns() {
    static const RangePatterns table = [] {
        RangePatterns patterns{};
        for (unsigned code = 17; code <= 27; ++code) {
            for (int k = -4; k <= 4; ++k)
                patterns[code - 17][std::size_t(k + 4)] =
                    k == 0 ? Pattern{} : nonZeroPattern(code, k);
        }
        return patterns;
    }();
    return table;
}

void encodeRangeCode(BitWriter& bits, unsigned code, std::span<const int> indices, bool usePairs) {
    const bool pairCode = code % 3 == 2;
    const bool pairs = pairCode && usePairs;
    const std::array<Pattern, 9>& patterns = rangePatterns()[code - 17];
    encodeRows(
        indices, pairs,
        [&bits, pairCode](bool pair) {
            if (pairCode && !pair) {
                bits.write(1, 2);  // "1 0"
            } else {
                bits.write(0, 1);
            }
        },
        [&bits, &patterns](int index) {
            const Pattern pattern =
                index >= -4 && index <= 4 ? patterns[std::size_t(index + 4)] : Pattern{};
            if (pattern.length == 0) reject("index " + std::to_string(index) + " not codable");
            bits.write(pattern.bits, pattern.length);
        });
}

}  // namespace

std::vector<std::uint8_t> acmHeaderBytes(std::uint32_t sampleCount, unsigned levels, unsigned rows,
                                         std::uint16_t channels, std::uint16_t sampleRate) {
    BitWriter bits;
    bits.write(0x032897, 24);
    bits.write(1, 8);
    bits.write(sampleCount & 0xFFFF, 16);
    bits.write(sampleCount >> 16, 16);
    bits.write(channels, 16);
    bits.write(sampleRate, 16);
    bits.write(levels, 4);
    bits.write(rows, 12);
    return bits.bytes();
}

std::pair<int, int> columnIndexRange(unsigned code) {
    if (code >= 3 && code <= 16) return {-(1 << (code - 1)), (1 << (code - 1)) - 1};
    switch (code) {
        case 0:
            return {0, 0};
        case 17:
        case 18:
        case 19:
            return {-1, 1};
        case 20:
        case 21:
        case 22:
            return {-2, 2};
        case 23:
        case 24:
            return {-3, 3};
        case 26:
        case 27:
            return {-4, 4};
        case 29:
            return {-5, 5};
        default:
            reject("code " + std::to_string(code) + " selects no method");
    }
}

void encodeColumn(BitWriter& bits, unsigned code, std::span<const int> indices,
                  ZeroPairs zeroPairs) {
    columnIndexRange(code);  // rejects the codes without a method
    bits.write(code, 5);
    const bool pairs = zeroPairs == ZeroPairs::Use;
    if (code == 0) {
        if (std::any_of(indices.begin(), indices.end(), [](int i) { return i != 0; })) {
            reject("code 0 holds zeros only");
        }
    } else if (code <= 16) {
        encodeLinear(bits, code, indices);
    } else if (code == 19) {
        encodeGroups(bits, indices, 3, 3, 5);
    } else if (code == 22) {
        encodeGroups(bits, indices, 5, 3, 7);
    } else if (code == 29) {
        encodeGroups(bits, indices, 11, 2, 7);
    } else {
        encodeRangeCode(bits, code, indices, pairs);
    }
}

ColumnStats columnStatsByRows(std::span<const int> indices) {
    ColumnStats stats;
    stats.rows = static_cast<std::uint32_t>(indices.size());
    for (std::size_t row = 0; row < indices.size(); ++row) {
        const int index = indices[row];
        stats.lowest = std::min(stats.lowest, index);
        stats.highest = std::max(stats.highest, index);
        if (index != 0) {
            ++stats.magnitudes[std::min(std::abs(index), 5)];
            continue;
        }
        ++stats.zeros;
        const bool last = row + 1 == indices.size();
        if (last || indices[row + 1] == 0) {
            // A pair of zeros, or a zero in the last row, in one bit.
            stats.zeroPairBits += 1;
            if (!last) ++stats.zeros;
            ++row;
        } else {
            stats.zeroPairBits += 2;
        }
    }
    return stats;
}

// The zeros that open a pair, or stand alone, as the writer pairs them:
// greedily from the start of each run of zeros, so that the rows at an even
// distance from the run's start open. Sixty-four rows at a time as a mask:
// adding the start of each run that starts on an even row carries through
// that run and clears it, which picks out those runs. A run that goes on
// from the rows before keeps its pairing: where the row before opened a pair,
// the first row closes it, as in a run that started on an odd row. `open`
// tells whether the last row opened one.
std::uint32_t openingZeros(std::span<const int> indices, std::uint32_t& open) {
    constexpr std::uint64_t evenRows = 0x5555555555555555u;
    std::uint32_t opened = 0;
    std::uint64_t lastOpened = 0;
    for (std::size_t first = 0; first < indices.size(); first += 64) {
        const std::size_t count = std::min<std::size_t>(64, indices.size() - first);
        const std::uint64_t zeros =
            rowMask(indices.data() + first, count, [](int index) { return index == 0; });
        const std::uint64_t starts = zeros & ~(zeros << 1);
        const std::uint64_t evenStarts = starts & evenRows & ~lastOpened;
        const std::uint64_t evenRuns = zeros & ~(zeros + evenStarts);
        const std::uint64_t opening = (evenRuns & evenRows) | (zeros & ~evenRuns & ~evenRows);
        opened += setBits(opening);
        lastOpened = (opening >> (count - 1)) & 1u;
    }
    open = static_cast<std::uint32_t>(lastOpened);
    return opened;
}

// The same statistics as the walk of the rows, without a branch per row:
// columns hold zeros scattered among the other values, so that the walk
// mispredicts often, and this runs for every column of every block at every
// step tried. An opening zero costs 2 bits (a single zero), a closing one
// takes 1 back (the pair costs 1), and a zero left open in the last row
// costs 1.
ColumnStats columnStats(std::span<const int> indices) {
    int lowest = 0;
    int highest = 0;
    // Counted with arithmetic, not comparisons: the compiler turns exclusive
    // comparisons back into branches. (m - 1) >> 31 is 1 for m == 0 only.
    std::uint32_t counts[6] = {};
    for (const int index : indices) {
        lowest = std::min(lowest, index);
        highest = std::max(highest, index);
        const auto magnitude = static_cast<std::uint32_t>(std::abs(index));
        counts[0] += (magnitude - 1) >> 31;
        counts[1] += ((magnitude ^ 1) - 1) >> 31;
        counts[2] += ((magnitude ^ 2) - 1) >> 31;
        counts[3] += ((magnitude ^ 3) - 1) >> 31;
        counts[4] += ((magnitude ^ 4) - 1) >> 31;
        counts[5] += (4 - magnitude) >> 31;
    }
    std::uint32_t open = 0;
    const std::uint32_t opened = openingZeros(indices, open);
    ColumnStats stats;
    stats.rows = static_cast<std::uint32_t>(indices.size());
    stats.lowest = lowest;
    stats.highest = highest;
    stats.zeros = counts[0];
    stats.zeroPairBits = 3 * opened - counts[0] - open;
    for (int m = 1; m <= 5; ++m)
        stats.magnitudes[m] = counts[m];
    return stats;
}

ColumnStats clampedStats(const ColumnStats& stats, int bound) {
    ColumnStats clamped = stats;
    clamped.lowest = std::max(stats.lowest, -bound);
    clamped.highest = std::min(stats.highest, bound);
    if (bound >= 5) return clamped;
    for (int m = bound + 1; m <= 5; ++m) {
        clamped.magnitudes[bound] += clamped.magnitudes[m];
        clamped.magnitudes[m] = 0;
    }
    return clamped;
}

namespace {

constexpr std::uint32_t codeBits = 5;
constexpr std::uint32_t impossible = ~std::uint32_t{0};

std::uint32_t groups(std::uint32_t rows, std::uint32_t perGroup) {
    return (rows + perGroup - 1) / perGroup;
}

// Data bits of `code` for a column with these statistics, or `impossible`
// when an index lies outside the code's range.
// The index ranges of all 32 codes, as columnIndexRange gives them; (1, -1)
// for the codes without a method, so that no column fits them.
constexpr std::array<std::pair<int, int>, 32> codeRanges = [] {
    std::array<std::pair<int, int>, 32> ranges{};
    for (unsigned code = 0; code < 32; ++code) {
        ranges[code] = {1, -1};
        if (code >= 3 && code <= 16) ranges[code] = {-(1 << (code - 1)), (1 << (code - 1)) - 1};
    }
    ranges[0] = {0, 0};
    ranges[17] = ranges[18] = ranges[19] = {-1, 1};
    ranges[20] = ranges[21] = ranges[22] = {-2, 2};
    ranges[23] = ranges[24] = {-3, 3};
    ranges[26] = ranges[27] = {-4, 4};
    ranges[29] = {-5, 5};
    return ranges;
}();

std::uint32_t dataBits(unsigned code, const ColumnStats& s) {
    const auto [lowest, highest] = codeRanges[code & 31];
    if (s.lowest < lowest || s.highest > highest) return impossible;
    const std::uint32_t rows = s.rows;
    const std::uint32_t nonZero = rows - s.zeros;
    const std::uint32_t ones = s.magnitudes[1];
    const std::uint32_t twosAndThrees = s.magnitudes[2] + s.magnitudes[3];
    switch (code) {
        case 0:
            return 0;
        case 17:
            return s.zeroPairBits + 3 * nonZero;
        case 18:
            return s.zeros + 2 * nonZero;
        case 19:
            return 5 * groups(rows, 3);
        case 20:
            return s.zeroPairBits + 4 * nonZero;
        case 21:
            return s.zeros + 3 * nonZero;
        case 22:
            return 7 * groups(rows, 3);
        case 23:
            return s.zeroPairBits + 4 * ones + 5 * twosAndThrees;
        case 24:
            return s.zeros + 3 * ones + 4 * twosAndThrees;
        case 26:
            return s.zeroPairBits + 5 * nonZero;
        case 27:
            return s.zeros + 4 * nonZero;
        case 29:
            return 7 * groups(rows, 2);
        default:
            return code * rows;
    }
}

// The narrowest linear code that holds lowest .. highest.
unsigned linearCode(int lowest, int highest) {
    unsigned width = 3;
    while (width < 16 && (lowest < -(1 << (width - 1)) || highest > (1 << (width - 1)) - 1))
        ++width;
    return width;
}

}  // namespace

std::uint64_t columnBits(unsigned code, std::span<const int> indices) {
    const std::uint32_t bits = dataBits(code, columnStats(indices));
    if (bits == impossible) reject("index outside the range of code " + std::to_string(code));
    return codeBits + bits;
}

ColumnChoice cheapestColumnCode(const ColumnStats& stats) {
    if (stats.lowest == 0 && stats.highest == 0) return {0, codeBits};
    const unsigned linear = linearCode(stats.lowest, stats.highest);
    ColumnChoice best{linear, impossible};
    const std::uint32_t linearBits = dataBits(linear, stats);
    if (linearBits == impossible) reject("index outside the 16-bit range");
    best.bits = codeBits + linearBits;
    // The other codes in order, each where it holds -m .. m for the largest
    // magnitude m; their data bits as dataBits() counts them, without its
    // dispatch: this runs for every column and every bound tried on it.
    const int largest = std::max(-stats.lowest, stats.highest);
    if (largest > 5) return best;
    const std::uint32_t rows = stats.rows;
    const std::uint32_t nonZero = rows - stats.zeros;
    const std::uint32_t ones = stats.magnitudes[1];
    const std::uint32_t twosAndThrees = stats.magnitudes[2] + stats.magnitudes[3];
    const auto consider = [&best](unsigned code, std::uint32_t data) {
        if (codeBits + data < best.bits) best = {code, codeBits + data};
    };
    if (largest <= 1) {
        consider(17, stats.zeroPairBits + 3 * nonZero);
        consider(18, stats.zeros + 2 * nonZero);
        consider(19, 5 * groups(rows, 3));
    }
    if (largest <= 2) {
        consider(20, stats.zeroPairBits + 4 * nonZero);
        consider(21, stats.zeros + 3 * nonZero);
        consider(22, 7 * groups(rows, 3));
    }
    if (largest <= 3) {
        consider(23, stats.zeroPairBits + 4 * ones + 5 * twosAndThrees);
        consider(24, stats.zeros + 3 * ones + 4 * twosAndThrees);
    }
    if (largest <= 4) {
        consider(26, stats.zeroPairBits + 5 * nonZero);
        consider(27, stats.zeros + 4 * nonZero);
    }
    consider(29, 7 * groups(rows, 2));
    return best;
}

ColumnChoice cheapestColumnCode(std::span<const int> indices) {
    return cheapestColumnCode(columnStats(indices));
}

}  // namespace talveco
