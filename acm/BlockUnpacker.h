// Reading one block of the stream: its header, then one coded column after
// another. Internal to the decoder; exposed for its tests.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "acm/AcmDecoder.h"
#include "acm/AmplitudeTable.h"
#include "acm/BitReader.h"

namespace talveco {

// Lookup tables that split a small number into its digits in base 3, 5 or
// 11, packed lowest digit first into fields of 2, 3 or 4 bits. Each table
// covers every value of the group field that indexes it; the values beyond
// the last digit combination stay 0, so all their digits read as 0.
constexpr std::array<std::uint8_t, 32> buildTriple3Table() {
    std::array<std::uint8_t, 32> table{};
    for (unsigned c = 0; c < 3; ++c)
        for (unsigned b = 0; b < 3; ++b)
            for (unsigned a = 0; a < 3; ++a)
                table[a + 3 * b + 9 * c] = std::uint8_t(a + 4 * b + 16 * c);
    return table;
}

constexpr std::array<std::uint16_t, 128> buildTriple5Table() {
    std::array<std::uint16_t, 128> table{};
    for (unsigned c = 0; c < 5; ++c)
        for (unsigned b = 0; b < 5; ++b)
            for (unsigned a = 0; a < 5; ++a)
                table[a + 5 * b + 25 * c] = std::uint16_t(a + 8 * b + 64 * c);
    return table;
}

constexpr std::array<std::uint8_t, 128> buildPair11Table() {
    std::array<std::uint8_t, 128> table{};
    for (unsigned b = 0; b < 11; ++b)
        for (unsigned a = 0; a < 11; ++a)
            table[a + 11 * b] = std::uint8_t(a + 16 * b);
    return table;
}

inline constexpr auto Triple3Table = buildTriple3Table();
inline constexpr auto Triple5Table = buildTriple5Table();
inline constexpr auto Pair11Table = buildPair11Table();

// What a column filler works on: the bits, the block's amplitudes and the
// block buffer with its shape.
struct ColumnTarget {
    BitReader& bits;
    const AmplitudeTable& amplitudes;
    std::span<std::int32_t> blockBuffer;  // rows * columns values, row after row
    std::size_t columns;
    std::size_t rows;
};

// Decodes the `rows` values of one column with the method of `code` into
// every columns-th entry of the block buffer from entry `column` on. Returns
// false for a code that selects no method; then it reads and writes nothing.
bool fillColumn(ColumnTarget& target, unsigned code, std::size_t column);

// Reads the next block: rewrites `amplitudes` from the block header, clears
// the block's part of `blockBuffer` and fills it column by column. Returns
// false as soon as a column code is invalid; the columns before it then hold
// this block's values, the rest zeros (nothing reads them: a bad block is
// neither transformed nor handed out), and the bits stand just behind the
// bad code.
bool unpackBlock(BitReader& bits, AmplitudeTable& amplitudes, const BlockGeometry& geometry,
                 std::span<std::int32_t> blockBuffer);

// How far a run of blocks got.
struct BlockRun {
    std::size_t goodBlocks = 0;
    // The first good block that needed bits from beyond the end of the
    // input; every later one needs them too.
    std::optional<std::size_t> firstPastEnd;
    bool stoppedAtBadBlock = false;  // the block after the good ones is bad
};

// How the blocks of a stream take the zero codes (silent columns) in front
// of a coded column. Where many columns are silent, taking them before
// every coded column, without a branch on whether there are any, costs
// less than a branch no predictor can learn; where few are, that look costs
// more than the branch, which then rarely fails. Each block takes them the
// way the block before it calls for, so the hint lasts from one run of
// blocks to the next. Blocks of fewer than takenFirstColumnsMinimum columns
// always take the branch.
struct ZeroRunHint {
    static constexpr std::size_t takenFirstColumnsMinimum = 16;

    bool takenFirst = false;
    std::size_t silentColumns = 0;  // of the block being filled

    // Chooses for the next block, of `columns` columns: first where at
    // least an eighth of this block's were silent.
    void nextBlock(std::size_t columns) {
        takenFirst = 8 * silentColumns >= columns;
        silentColumns = 0;
    }
};

// Unpacks up to `count` blocks into `values`, one after another, as that
// many unpackBlock calls would, but with one cursor on the bits
// for all of them: blocks of a few values cost little more than their
// values. Stops after a bad block, which is left as unpackBlock leaves it.
// `run` is kept current block by block, so that it also tells how far the
// run got when a read of the input fails and ends it; `zeroRuns` goes on
// from the stream's previous run.
void unpackBlocks(BitReader& bits, AmplitudeTable& amplitudes, const BlockGeometry& geometry,
                  std::span<std::int32_t> values, std::size_t count, BlockRun& run,
                  ZeroRunHint& zeroRuns);

}  // namespace talveco
