#include "acm/BlockUnpacker.h"

#include <algorithm>
#include <cassert>
#include <tuple>

#include "acm/LinearFields.h"

namespace talveco {
namespace {

// What the fillers work on inside one block: the bits, read through a
// cursor that stays in registers as long as every filler is inlined into
// the loop over the columns, the block's amplitudes and the block buffer
// with its shape.
struct BlockWork {
    BitCursor& bits;
    const AmplitudeTable& amplitudes;
    std::int32_t* values;  // rows * columns, row after row
    std::size_t columns;
    std::size_t rows;
    // The block was cleared before its columns were filled, so the zero
    // columns are in place already.
    bool cleared;
    bool wideFields;  // decodeLinearFieldsWide may be used
    ZeroRunHint& zeroRuns;
};

// Walks one column of the block buffer from row 0 down, `columns` entries a
// row.
class ColumnCursor {
  public:
    ColumnCursor(const BlockWork& block, std::size_t column)
        : next_(block.values + column), stride_(block.columns), rowsLeft_(block.rows) {}

    std::size_t rowsLeft() const { return rowsLeft_; }

    void put(std::int32_t value) {
        *next_ = value;
        next_ += stride_;
        --rowsLeft_;
    }

    // Writes the amplitudes of the first `written` indices into this row and
    // the following ones, then moves on by `rows`, which may be fewer: the
    // rows beyond them are written again later. Needs `written` rows left.
    template <std::size_t count>
    void putRun(const std::int32_t* amplitude, const std::array<std::int8_t, count>& indices,
                std::size_t written, std::size_t rows) {
        for (std::size_t i = 0; i < written; ++i)
            next_[i * stride_] = amplitude[indices[i]];
        next_ += rows * stride_;
        rowsLeft_ -= rows;
    }

  private:
    std::int32_t* next_;
    std::size_t stride_;
    std::size_t rowsLeft_;
};

// What one look at the next bits of a range-coded column decodes to.
struct Pattern {
    std::uint8_t length = 0;  // bits the pattern takes
    std::uint8_t rows = 1;    // 2 for a zero pair
    std::int8_t index = 0;    // amplitude index written in the (first) row
};

// The patterns of one range code, indexed by its next look bits (see
// rangeLookBits). Every code's table has room for the longest look, which
// also keeps the compiler from mistaking one code's table for another's
// once all of them are inlined into one function.
constexpr unsigned maxLookBits = 5;
using PatternTable = std::array<Pattern, std::size_t{1} << maxLookBits>;

constexpr std::array<int, 4> range2Indices = {-2, -1, 1, 2};
constexpr std::array<int, 4> range3Indices = {-3, -2, 2, 3};
constexpr std::array<int, 8> range4Indices = {-4, -3, -2, -1, 1, 2, 3, 4};

constexpr unsigned bitAt(unsigned bits, unsigned n) {
    return (bits >> n) & 1;
}

constexpr Pattern pattern(unsigned length, int index, unsigned rows = 1) {
    return {static_cast<std::uint8_t>(length), static_cast<std::uint8_t>(rows),
            static_cast<std::int8_t>(index)};
}

// The pattern that starts the bits `b` (first bit lowest) for code `code`.
// The zero-pair codes (17, 20, 23, 26) code two zeros as "0" and one as
// "1 0"; their partners code one zero as "0". A sign bit s selects +1 when
// set; x, y, z select from the code's index list, x lowest.
constexpr Pattern rangePattern(unsigned code, unsigned b) {
    const bool zeroPairs = code == 17 || code == 20 || code == 23 || code == 26;
    if (bitAt(b, 0) == 0) return pattern(1, 0, zeroPairs ? 2 : 1);
    if (zeroPairs && bitAt(b, 1) == 0) return pattern(2, 0);
    const unsigned lead = zeroPairs ? 2 : 1;  // bits before the value's own
    const unsigned rest = b >> lead;
    switch (code) {
        case 17:
        case 18:
            return pattern(lead + 1, bitAt(rest, 0) ? 1 : -1);
        case 20:
        case 21:
            return pattern(lead + 2, range2Indices[rest & 3]);
        case 23:
        case 24:
            if (bitAt(rest, 0) == 0) return pattern(lead + 2, bitAt(rest, 1) ? 1 : -1);
            return pattern(lead + 3, range3Indices[(rest >> 1) & 3]);
        default:  // 26, 27
            return pattern(lead + 3, range4Indices[rest & 7]);
    }
}

constexpr PatternTable buildPatternTable(unsigned code) {
    PatternTable table{};
    for (unsigned b = 0; b < table.size(); ++b)
        table[b] = rangePattern(code, b);
    return table;
}

// Each range code looks at as many bits as its longest pattern has.
template <unsigned code>
constexpr unsigned rangeLookBits = code == 18                 ? 2
                                   : code == 17 || code == 21 ? 3
                                   : code == 23 || code == 26 ? 5
                                                              : 4;

template <unsigned code>
constexpr auto rangePatterns = buildPatternTable(code);

// Several patterns at once: what the next `runLookBits` bits of a
// range-coded column decode to, as long as whole patterns fit into them and
// they give at most `runRows` rows. A zero pair gives two zero rows.
constexpr unsigned runLookBits = 8;
constexpr std::size_t runRows = 4;
struct PatternRun {
    std::uint8_t length = 0;                     // bits taken by the whole patterns
    std::uint8_t rows = 0;                       // rows they give, 1 to runRows
    std::array<std::int8_t, runRows> indices{};  // per row; 0 beyond `rows`
    // Four bits for each k from 1 to runRows - 1: the bits of the patterns
    // that start in the first k rows, which is what a column with only k
    // rows left takes of the run (a zero pair in its last row included).
    std::uint16_t lengthsWithin = 0;

    // The bits a column with `rowsLeft` rows left (1 to rows) takes.
    unsigned lengthThrough(std::size_t rowsLeft) const {
        return rowsLeft < runRows ? (lengthsWithin >> (4 * (rowsLeft - 1))) & 0xF : length;
    }
};

template <unsigned code>
constexpr auto buildPatternRuns() {
    constexpr unsigned lookBits = rangeLookBits<code>;
    constexpr auto& patterns = rangePatterns<code>;
    std::array<PatternRun, std::size_t{1} << runLookBits> runs{};
    for (unsigned b = 0; b < runs.size(); ++b) {
        PatternRun& run = runs[b];
        for (;;) {
            // The bits from the run's end on; the ones past runLookBits are
            // unknown, so a pattern is only taken when its length fits.
            const unsigned rest = b >> run.length;
            const Pattern next = patterns[rest & ((1u << lookBits) - 1)];
            if (run.length + next.length > runLookBits || run.rows + next.rows > runRows) break;
            run.indices[run.rows] = next.index;
            run.length = static_cast<std::uint8_t>(run.length + next.length);
            // The rows this pattern starts in or covers, each seen once.
            for (unsigned k = run.rows + 1u; k < runRows && k <= run.rows + next.rows; ++k)
                run.lengthsWithin =
                    static_cast<std::uint16_t>(run.lengthsWithin | run.length << (4 * (k - 1)));
            run.rows = static_cast<std::uint8_t>(run.rows + next.rows);
        }
    }
    return runs;
}

template <unsigned code>
constexpr auto rangePatternRuns = buildPatternRuns<code>();

// A range-coded column. Each step decodes up to four rows from one look-up
// on the next eight bits, which the longest pattern (five bits) always
// fits, so every step makes progress; the rows a step leaves out are written
// by the following steps. In the last rows of the column a step takes only
// the patterns that start in them.
template <unsigned code>
[[gnu::always_inline]] inline void fillRange(BlockWork& target, std::size_t column) {
    const auto& runs = rangePatternRuns<code>;
    const std::int32_t* amplitude = target.amplitudes.near();
    BitCursor& bits = target.bits;
    ColumnCursor cursor(target, column);
    while (cursor.rowsLeft() >= runRows) {
        bits.refillBits(runLookBits);
        const PatternRun& run = runs[bits.peek(runLookBits)];
        bits.consume(run.length);
        cursor.putRun(amplitude, run.indices, runRows, run.rows);
    }
    while (cursor.rowsLeft() > 0) {
        bits.refillBits(runLookBits);
        const PatternRun& run = runs[bits.peek(runLookBits)];
        const std::size_t rows = std::min<std::size_t>(run.rows, cursor.rowsLeft());
        bits.consume(run.lengthThrough(rows));
        cursor.putRun(amplitude, run.indices, rows, rows);
    }
}

// The amplitude indices of the digits of every group value, lowest digit
// first, from a digit table with `digitBits`-bit fields and digits offset by
// `digitOffset`.
template <std::size_t digitCount, typename Table>
constexpr auto buildGroupIndices(const Table& table, unsigned digitBits, int digitOffset) {
    std::array<std::array<std::int8_t, digitCount>, std::tuple_size_v<Table>> indices{};
    for (std::size_t u = 0; u < indices.size(); ++u) {
        for (std::size_t d = 0; d < digitCount; ++d) {
            const auto digit =
                static_cast<int>((table[u] >> (d * digitBits)) & ((1u << digitBits) - 1));
            indices[u][d] = static_cast<std::int8_t>(digit - digitOffset);
        }
    }
    return indices;
}

constexpr auto triple3Indices = buildGroupIndices<3>(Triple3Table, 2, 1);
constexpr auto triple5Indices = buildGroupIndices<3>(Triple5Table, 3, 2);
constexpr auto pair11Indices = buildGroupIndices<2>(Pair11Table, 4, 5);

// A one-row column decoded from the next singleLookBits bits: its code and
// its value's bits take `length` bits together (0: not decoded this way),
// and the value is the amplitude `index`, from singleLowest to
// -singleLowest - 1.
struct SingleValue {
    std::uint8_t length = 0;
    std::int8_t index = 0;
};

constexpr unsigned singleLookBits = 12;
constexpr int singleLowest = -64;

// The codes whose single value lies within the seven bits after the code:
// linear 3 to 7, every range code (a zero pair in the only row counts as one
// zero) and the first digit of a triple of base-3 digits.
constexpr SingleValue singleValue(unsigned code, unsigned rest) {
    switch (code) {
        case 3:
        case 4:
        case 5:
        case 6:
        case 7: {
            const int bias = 1 << (code - 1);
            const int field = static_cast<int>(rest & ((1u << code) - 1));
            return {static_cast<std::uint8_t>(5 + code), static_cast<std::int8_t>(field - bias)};
        }
        case 17:
        case 18:
        case 20:
        case 21:
        case 23:
        case 24:
        case 26:
        case 27: {
            const Pattern found = rangePattern(code, rest);
            return {static_cast<std::uint8_t>(5 + found.length), found.index};
        }
        case 19:
            return {10, triple3Indices[rest & 31][0]};
        default:
            return {};
    }
}

constexpr auto buildSingleValues() {
    std::array<SingleValue, std::size_t{1} << singleLookBits> values{};
    for (unsigned b = 0; b < values.size(); ++b)
        values[b] = singleValue(b & 31, b >> 5);
    return values;
}

constexpr auto singleValues = buildSingleValues();

// Groups of `groupBits` bits, each giving up to digitCount rows. A group is
// consumed whole even when the column ends inside it.
template <unsigned groupBits, std::size_t digitCount, std::size_t tableSize>
[[gnu::always_inline]] inline void fillGroups(
    BlockWork& target, std::size_t column,
    const std::array<std::array<std::int8_t, digitCount>, tableSize>& groups) {
    const std::int32_t* amplitude = target.amplitudes.near();
    BitCursor& bits = target.bits;
    ColumnCursor cursor(target, column);
    while (cursor.rowsLeft() >= digitCount) {
        const auto& digits = groups[bits.takeBits(groupBits)];
        for (const std::int8_t index : digits)
            cursor.put(amplitude[index]);
    }
    if (cursor.rowsLeft() > 0) {
        const auto& digits = groups[bits.takeBits(groupBits)];
        for (std::size_t d = 0; cursor.rowsLeft() > 0; ++d)
            cursor.put(amplitude[digits[d]]);
    }
}

// Offset-binary fields of `width` bits; amplitude(index) gives the value.
// The rows go in groups of `group` fields that take at most refillTarget
// bits together: one refill a group, and no look at the bits held in
// between. The last rows take a refill each.
template <typename Amplitude>
[[gnu::always_inline]] inline void fillLinearWith(BlockWork& target, std::size_t column,
                                                  unsigned width, std::size_t group,
                                                  Amplitude amplitude) {
    assert(group * width <= BitCursor::refillTarget);
    BitCursor& bits = target.bits;
    const int bias = 1 << (width - 1);
    ColumnCursor cursor(target, column);
    while (cursor.rowsLeft() >= group) {
        bits.refillAhead(static_cast<unsigned>(group * width));
        for (std::size_t f = 0; f < group; ++f) {
            cursor.put(amplitude(static_cast<int>(bits.peek(width)) - bias));
            bits.consume(width);
        }
    }
    while (cursor.rowsLeft() > 0) {
        bits.refillBits(width);
        cursor.put(amplitude(static_cast<int>(bits.peek(width)) - bias));
        bits.consume(width);
    }
}

// The amplitude is the index times the step when every entry the code
// reaches has the same one (any block whose range covers the code: the
// usual case, tested first so that the branch is predictable whatever the
// width), else one of the ready entries for the short codes, else from the
// table's bands.
[[gnu::always_inline]] inline void fillLinearInGroups(BlockWork& target, std::size_t column,
                                                      unsigned width, std::size_t group) {
    const AmplitudeTable& amplitudes = target.amplitudes;
    std::uint16_t step = 0;
    if (amplitudes.uniformThrough(width - 1, step)) {
        fillLinearWith(target, column, width, group,
                       [step](int index) { return AmplitudeTable::entryValue(index, step); });
    } else if (width <= 4) {
        const std::int32_t* near = amplitudes.near();
        fillLinearWith(target, column, width, group, [near](int index) { return near[index]; });
    } else {
        fillLinearWith(target, column, width, group,
                       [&amplitudes](int index) { return amplitudes[index]; });
    }
}

#ifdef TALVECO_WIDE_KERNELS
// A linear column of 8 rows or more, a multiple of 4, decoded on vectors
// straight from the read buffer where the buffer holds its bits. False,
// with nothing done, where it does not. (With 4 rows the call and the
// vector set-up cost more than they save: measured 7 % slower on 4-row
// blocks.)
[[gnu::always_inline]] inline bool fillLinearWide(BlockWork& target, std::size_t column,
                                                  unsigned width) {
    constexpr std::size_t slack = 16;  // bytes: the vectors read 16, the skip 8
    BitCursor& bits = target.bits;
    const std::size_t bitCount = target.rows * width;
    if (target.rows < 8 || target.rows % 4 != 0 || !bits.inBuffer(bitCount, slack)) return false;
    unsigned firstBit = 0;
    const std::uint8_t* from = bits.bufferBits(firstBit);
    std::uint16_t step = 0;
    if (target.amplitudes.uniformThrough(width - 1, step)) {
        decodeLinearFieldsWide(from, firstBit, width, step, target.rows, target.values + column,
                               target.columns);
    } else {
        decodeLinearFieldsWide(from, firstBit, width, target.amplitudes.bandStepWords(),
                               target.rows, target.values + column, target.columns);
    }
    bits.skipInBuffer(bitCount);
    return true;
}
#endif

// Codes 3 to 16: every row is a field of `code` bits in offset binary. One
// path for all widths, since blocks pick their codes without a pattern a
// branch on the code could learn. Short columns go in groups of a fixed
// size, which keeps their loop counts the same whatever the width; long
// ones take as many fields as a refill holds.
[[gnu::always_inline]] inline void fillLinear(BlockWork& target, std::size_t column,
                                              unsigned width) {
#ifdef TALVECO_WIDE_KERNELS
    if (target.wideFields && fillLinearWide(target, column, width)) return;
#endif
    constexpr std::size_t longColumn = 32;  // rows
    if (target.rows >= longColumn) {
        fillLinearInGroups(target, column, width, BitCursor::refillTarget / width);
    } else if (width <= 14) {
        fillLinearInGroups(target, column, width, 4);
    } else {
        fillLinearInGroups(target, column, width, 3);
    }
}

// Zeros in `count` neighbouring columns from `column` on, unless the block
// was cleared. Decoding always clears its blocks (or fills them whole
// through tiles), so only fillColumn, the single-column entry point, writes
// zeros here.
[[gnu::always_inline]] inline void fillZeros(BlockWork& target, std::size_t column,
                                             std::size_t count) {
    if (target.cleared) return;
    std::int32_t* row = target.values + column;
    for (std::size_t r = 0; r < target.rows; ++r, row += target.columns)
        std::fill_n(row, count, 0);
}

// Takes the zero codes (five zero bits each) the held bits show, at most
// `columnsLeft` of them, leaving at least `bitsKept` of the held bits; returns
// how many it took, none when the next code is not 0.
[[gnu::always_inline]] inline std::size_t takeZeroCodes(BitCursor& bits, std::size_t columnsLeft,
                                                        unsigned bitsKept = 0) {
    assert(bits.bitCount() >= bitsKept);
    const std::size_t limit = std::min<std::size_t>(bits.bitCount() - bitsKept, 5 * columnsLeft);
    const std::size_t codes = bits.zeroBitsWithin(limit) / 5;
    bits.consume(static_cast<unsigned>(5 * codes));
    return codes;
}

// A silent stretch of a block is a run of zero codes: all the zero codes the
// held bits show are taken at once, up to the end of the block, and their
// columns written together. Returns the columns taken, none when the next
// code is not 0.
[[gnu::always_inline]] inline std::size_t fillZeroRun(BlockWork& target, std::size_t column) {
    target.bits.topUp();
    const std::size_t run = takeZeroCodes(target.bits, target.columns - column);
    fillZeros(target, column, run);
    return run;
}

// The filler of each column code, inlined into the callers so that the bit
// cursor stays in registers.
[[gnu::always_inline]] inline bool fillCoded(BlockWork& target, unsigned code, std::size_t column) {
    switch (code) {
        case 0:
            fillZeros(target, column, 1);
            return true;
        case 3:
        case 4:
        case 5:
        case 6:
        case 7:
        case 8:
        case 9:
        case 10:
        case 11:
        case 12:
        case 13:
        case 14:
        case 15:
        case 16:
            fillLinear(target, column, code);
            return true;
        case 17:
            fillRange<17>(target, column);
            return true;
        case 18:
            fillRange<18>(target, column);
            return true;
        // Three base-3 digits per 5-bit group, amplitudes -1 to +1.
        case 19:
            fillGroups<5>(target, column, triple3Indices);
            return true;
        case 20:
            fillRange<20>(target, column);
            return true;
        case 21:
            fillRange<21>(target, column);
            return true;
        // Three base-5 digits per 7-bit group, amplitudes -2 to +2.
        case 22:
            fillGroups<7>(target, column, triple5Indices);
            return true;
        case 23:
            fillRange<23>(target, column);
            return true;
        case 24:
            fillRange<24>(target, column);
            return true;
        case 26:
            fillRange<26>(target, column);
            return true;
        case 27:
            fillRange<27>(target, column);
            return true;
        // Two base-11 digits per 7-bit group, amplitudes -5 to +5.
        case 29:
            fillGroups<7>(target, column, pair11Indices);
            return true;
        default:
            return false;  // 1, 2, 25, 28, 30, 31 select no method
    }
}

// Fills the column at `column`, or the run of zero columns from it on.
// Returns the columns filled; 0 for a code that selects no method.
[[gnu::always_inline]] inline std::size_t fillNextColumns(BlockWork& work, std::size_t column) {
    BitCursor& bits = work.bits;
    bits.refillBits(5);
    const unsigned code = bits.peek(5);
    if (code == 0) return fillZeroRun(work, column);
    bits.consume(5);
    return fillCoded(work, code, column) ? 1 : 0;
}

// The columns of a block one after another. Blocks of a few columns gain
// nothing from taking zero codes first (see ZeroRunHint) and only take the
// branch.
template <bool zeroRunsFirstMayPay>
[[gnu::always_inline]] inline bool fillColumns(BlockWork& work) {
    if constexpr (!zeroRunsFirstMayPay) {
        for (std::size_t column = 0; column < work.columns;) {
            const std::size_t filled = fillNextColumns(work, column);
            if (filled == 0) return false;
            column += filled;
        }
        return true;
    }
    BitCursor& bits = work.bits;
    const bool zerosFirst = work.zeroRuns.takenFirst;
    bool takeZeros = zerosFirst;
    std::size_t silent = 0;
    bool good = true;
    for (std::size_t column = 0; column < work.columns;) {
        if (takeZeros) {
            const std::size_t zeros = fillZeroRun(work, column);
            silent += zeros;
            column += zeros;
            if (column == work.columns) break;
        }
        bits.refillBits(5);
        const unsigned code = bits.peek(5);
        // A zero code here starts a run not taken first, or one longer than
        // the bits held were.
        takeZeros = zerosFirst || code == 0;
        if (code == 0) continue;
        bits.consume(5);
        if (!fillCoded(work, code, column)) {
            good = false;
            break;
        }
        ++column;
    }
    work.zeroRuns.silentColumns += silent;
    return good;
}

// fillNextColumns out of the loop of one-row blocks, which needs it for
// few of their columns (1.5 % in the benchmark stream): inlined there, it made
// that loop up to 8 % slower, depending on the fillers' code.
[[gnu::noinline]] std::size_t fillNextColumnsAside(BlockWork& work, std::size_t column) {
    return fillNextColumns(work, column);
}

// Blocks of one row: a column is its code and a single value, and for the
// codes whose value is short, one look-up decodes both.
[[gnu::always_inline]] inline bool fillSingleRow(BlockWork& work) {
    assert(work.cleared);
    BitCursor& bits = work.bits;
    // The amplitudes the look-up may select, ready for this block.
    std::array<std::int32_t, 2 * -singleLowest> singleEntries;
    std::uint16_t step = 0;
    if (work.amplitudes.uniformThrough(AmplitudeTable::band(singleLowest), step)) {
        for (int k = singleLowest; k < -singleLowest; ++k)
            singleEntries[static_cast<std::size_t>(k - singleLowest)] =
                AmplitudeTable::entryValue(k, step);
    } else {
        for (int k = singleLowest; k < -singleLowest; ++k)
            singleEntries[static_cast<std::size_t>(k - singleLowest)] = work.amplitudes[k];
    }
    const std::int32_t* near = singleEntries.data() - singleLowest;
    for (std::size_t column = 0; column < work.columns;) {
        bits.topUp();
        if (bits.bitCount() >= singleLookBits) {
            // The zero codes in front of the next value, taken without a
            // branch: whether a column is silent follows no pattern a branch
            // could learn. Enough bits are left held for the look-up.
            const std::size_t zeros = takeZeroCodes(bits, work.columns - column, singleLookBits);
            column += zeros;
            if (column == work.columns) break;
            const SingleValue value = singleValues[bits.peek(singleLookBits)];
            if (value.length != 0) {
                bits.consume(value.length);
                work.values[column++] = near[value.index];
                continue;
            }
            // A zero run longer than the bits held goes on with the next.
            if (zeros != 0 && bits.peek(5) == 0) continue;
        }
        const std::size_t filled = fillNextColumnsAside(work, column);
        if (filled == 0) return false;
        column += filled;
    }
    return true;
}

// Blocks whose rows lie 4 KiB apart or more (10 levels and more) are filled
// a tile of tileColumns neighbouring columns at a time. A column written
// straight into such a block puts each of its values into another row, and
// those rows all fall into the same set of the first-level cache, more of
// them than it has ways, so nearly every store missed it. In the tile a
// column is one short contiguous run, and each tile row goes to the block as
// one 64-byte line. The tiles write every entry of the block, so it needs no
// clearing, except where it is larger than the second-level cache: clearing
// it first takes its lines over without reading them, from wherever the
// reader's thread left them, which the tiles' stores would have to
// (measured at 15 levels: on two processors 16-23 % slower without it, on
// one 5 % faster). Rows 2 KiB apart (9 levels) measured slower through
// tiles.
constexpr std::size_t tiledColumnsMinimum = 1024;
constexpr std::size_t tileColumns = 16;
constexpr std::size_t tileRowsMaximum = 64;
constexpr std::size_t tiledBlockClearedAbove = 65536;  // values (256 KiB)

bool fillsThroughTiles(const BlockGeometry& geometry) {
    return geometry.columns >= tiledColumnsMinimum && geometry.rows > 1 &&
           geometry.rows <= tileRowsMaximum;
}

// Tile columns from block column `first` on into every row of the block.
void storeTile(const std::int32_t* tile, const BlockGeometry& geometry, std::int32_t* values,
               std::size_t first) {
    for (std::size_t row = 0; row < geometry.rows; ++row)
        std::copy_n(tile + row * tileColumns, tileColumns, values + row * geometry.columns + first);
}

[[gnu::always_inline]] inline bool fillThroughTiles(BitCursor& bits,
                                                    const AmplitudeTable& amplitudes,
                                                    const BlockGeometry& geometry,
                                                    std::int32_t* values, bool wideFields,
                                                    ZeroRunHint& zeroRuns) {
    alignas(64) std::array<std::int32_t, tileRowsMaximum * tileColumns> tile;
    for (std::size_t first = 0; first < geometry.columns; first += tileColumns) {
        std::fill_n(tile.data(), geometry.rows * tileColumns, 0);
        BlockWork work{bits,          amplitudes, tile.data(), tileColumns,
                       geometry.rows, true,       wideFields,  zeroRuns};
        const bool good = fillColumns<true>(work);
        storeTile(tile.data(), geometry, values, first);
        if (!good) {
            // The columns not reached read zero, as in a cleared block.
            const std::size_t done = first + tileColumns;
            for (std::size_t row = 0; row < geometry.rows; ++row)
                std::fill_n(values + row * geometry.columns + done, geometry.columns - done, 0);
            return false;
        }
    }
    return true;
}

// How the blocks of a geometry are filled: column by column (taking the
// branch on zero codes alone where blocks have few columns), as single rows,
// or through tiles.
enum class BlockFill { columns, fewColumns, singleRow, tiles };

BlockFill blockFill(const BlockGeometry& geometry) {
    if (fillsThroughTiles(geometry)) return BlockFill::tiles;
    if (geometry.rows == 1) return BlockFill::singleRow;
    return geometry.columns < ZeroRunHint::takenFirstColumnsMinimum ? BlockFill::fewColumns
                                                                    : BlockFill::columns;
}

// One block from where `bits` stand: the header rewrites `amplitudes`, the
// block is cleared, then the columns follow (or it is filled through
// tiles). False as soon as a column code is invalid.
template <BlockFill fill>
[[gnu::always_inline]] inline bool unpackWith(BitCursor& bits, AmplitudeTable& amplitudes,
                                              const BlockGeometry& geometry, std::int32_t* values,
                                              bool wideFields, ZeroRunHint& zeroRuns) {
    // The header: a 4-bit range exponent, then a 16-bit step.
    const std::uint32_t header = bits.takeBits(20);
    amplitudes.rewrite(header & 0xF, static_cast<std::uint16_t>(header >> 4));
    if constexpr (fill == BlockFill::tiles) {
        if (geometry.blockSize > tiledBlockClearedAbove) std::fill_n(values, geometry.blockSize, 0);
        return fillThroughTiles(bits, amplitudes, geometry, values, wideFields, zeroRuns);
    }
    // About half the columns of real streams are silent. Clearing the block
    // first, a plain fill of memory, costs less than writing their zeros
    // down the columns one by one, and then they need no writing at all.
    std::fill_n(values, geometry.blockSize, 0);
    BlockWork work{bits,          amplitudes, values,     geometry.columns,
                   geometry.rows, true,       wideFields, zeroRuns};
    if constexpr (fill == BlockFill::singleRow) return fillSingleRow(work);
    return fillColumns<fill == BlockFill::columns>(work);
}

// The loop over the blocks of a run, one copy for each way of filling a
// block, so that blocks of a few values do not pay for the choice.
template <BlockFill fill>
void unpackBlocksWith(BitReader& reader, AmplitudeTable& amplitudes, const BlockGeometry& geometry,
                      std::int32_t* block, std::size_t count, BlockRun& run,
                      ZeroRunHint& zeroRuns) {
    const bool wideFields = wideLinearFieldsAvailable();
    BitCursor bits(reader);
    for (; run.goodBlocks < count; ++run.goodBlocks, block += geometry.blockSize) {
        if (!unpackWith<fill>(bits, amplitudes, geometry, block, wideFields, zeroRuns)) {
            run.stoppedAtBadBlock = true;
            break;
        }
        if (!run.firstPastEnd && bits.pastEndOfInput()) run.firstPastEnd = run.goodBlocks;
        if constexpr (fill == BlockFill::columns || fill == BlockFill::tiles)
            zeroRuns.nextBlock(geometry.columns);
    }
    bits.release();
}

}  // namespace

bool wideLinearFieldsAvailable() {
#ifdef TALVECO_WIDE_KERNELS
    static const bool available = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") != 0;
    }();
    return available;
#else
    return false;
#endif
}

bool fillColumn(ColumnTarget& target, unsigned code, std::size_t column) {
    assert(target.blockBuffer.size() >= target.rows * target.columns);
    BitCursor bits(target.bits);
    ZeroRunHint zeroRuns;
    BlockWork work{bits,
                   target.amplitudes,
                   target.blockBuffer.data(),
                   target.columns,
                   target.rows,
                   /*cleared=*/false,
                   /*wideFields=*/false,
                   zeroRuns};
    const bool filled = fillCoded(work, code, column);
    bits.release();
    return filled;
}

bool unpackBlock(BitReader& reader, AmplitudeTable& amplitudes, const BlockGeometry& geometry,
                 std::span<std::int32_t> blockBuffer) {
    BlockRun run;
    ZeroRunHint zeroRuns;
    unpackBlocks(reader, amplitudes, geometry, blockBuffer, 1, run, zeroRuns);
    return run.goodBlocks == 1;
}

void unpackBlocks(BitReader& reader, AmplitudeTable& amplitudes, const BlockGeometry& geometry,
                  std::span<std::int32_t> values, std::size_t count, BlockRun& run,
                  ZeroRunHint& zeroRuns) {
    assert(values.size() >= count * geometry.blockSize);
    run = {};
    switch (blockFill(geometry)) {
        case BlockFill::columns:
            unpackBlocksWith<BlockFill::columns>(reader, amplitudes, geometry, values.data(), count,
                                                 run, zeroRuns);
            return;
        case BlockFill::fewColumns:
            unpackBlocksWith<BlockFill::fewColumns>(reader, amplitudes, geometry, values.data(),
                                                    count, run, zeroRuns);
            return;
        case BlockFill::singleRow:
            unpackBlocksWith<BlockFill::singleRow>(reader, amplitudes, geometry, values.data(),
                                                   count, run, zeroRuns);
            return;
        case BlockFill::tiles:
            unpackBlocksWith<BlockFill::tiles>(reader, amplitudes, geometry, values.data(), count,
                                               run, zeroRuns);
            return;
    }
}

}  // namespace talveco
