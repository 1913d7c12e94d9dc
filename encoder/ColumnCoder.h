// The ACM stream's own vocabulary, in the writing direction: the file header
// and the 32 column codes.
#pragma once

#include <cstdint>
#include <span>
#include <utility>
#include <vector>

#include "encoder/BitWriter.h"

namespace talveco {

// How the codes with a zero-pair pattern (17, 20, 23, 26) write zeros: a pair
// of zero rows in one bit wherever two zeros follow each other (and a single
// trailing zero at the last row the same way), or every zero on its own.
enum class ZeroPairs { Use, Avoid };

// The 14 header bytes. The sample count counts the values of all channels.
std::vector<std::uint8_t> acmHeaderBytes(std::uint32_t sampleCount, unsigned levels, unsigned rows,
                                         std::uint16_t channels, std::uint16_t sampleRate);

// The lowest and highest amplitude index a column code can express; (0, 0)
// for code 0. Raises std::invalid_argument for the codes that select no
// method.
std::pair<int, int> columnIndexRange(unsigned code);

// Writes the code and the data of one column. `indices` are amplitude-table
// indices, one per row. Raises std::invalid_argument for an index the code
// cannot express. The unused digits of a group that overhangs the end of the
// column are written as the digit of index 0.
void encodeColumn(BitWriter& bits, unsigned code, std::span<const int> indices,
                  ZeroPairs zeroPairs = ZeroPairs::Use);

// Bits of one column, its 5-bit code included, as encodeColumn writes it with
// zero pairs; the indices must lie in the code's range.
std::uint64_t columnBits(unsigned code, std::span<const int> indices);

// What the bit counts of all codes depend on, gathered in one pass.
struct ColumnStats {
    std::uint32_t rows = 0;
    int lowest = 0;
    int highest = 0;
    std::uint32_t zeros = 0;
    std::uint32_t zeroPairBits = 0;    // the zeros as the zero-pair codes write them
    std::uint32_t magnitudes[6] = {};  // rows of index +-1 .. +-4 at [1] .. [4], beyond at [5]
};
ColumnStats columnStats(std::span<const int> indices);
// The same, found by walking the rows as the writer does: the plain form that
// columnStats() must always agree with.
ColumnStats columnStatsByRows(std::span<const int> indices);

// The statistics of the same column with every index held inside -bound ..
// bound, bound at least 1: the zeros stay where they are.
ColumnStats clampedStats(const ColumnStats& stats, int bound);

// The code that writes a column in the fewest bits, and those bits.
struct ColumnChoice {
    unsigned code = 0;
    std::uint64_t bits = 0;
};
ColumnChoice cheapestColumnCode(const ColumnStats& stats);
ColumnChoice cheapestColumnCode(std::span<const int> indices);

}  // namespace talveco
