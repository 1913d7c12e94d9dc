#include "tests/acm/ReferenceUnpacker.h"

#include <algorithm>
#include <cassert>

#include "acm/BlockUnpacker.h"  // the digit tables

namespace talveco::reference {
namespace {

// Walks one column of the block buffer from row 0 down, `columns` entries a
// row, and turns amplitude indices into values.
class ColumnCursor {
  public:
    ColumnCursor(ColumnTarget& target, std::size_t column)
        : target_(target), index_(column), rowsLeft_(target.rows) {}

    bool done() const { return rowsLeft_ == 0; }

    void put(std::int32_t value) {
        target_.blockBuffer[index_] = value;
        index_ += target_.columns;
        --rowsLeft_;
    }

    void putAmplitude(int index) { put(target_.amplitudes[index]); }

    // One bit codes two zero rows; at the last row of the column only one.
    void putZeroPair() {
        put(0);
        if (!done()) put(0);
    }

  private:
    ColumnTarget& target_;
    std::size_t index_;
    std::size_t rowsLeft_;
};

bool bit(std::uint32_t bits, unsigned n) {
    return ((bits >> n) & 1) != 0;
}

// A sign bit chooses between the amplitudes +1 (set) and -1 (clear).
int signedOne(std::uint32_t bits, unsigned n) {
    return bit(bits, n) ? 1 : -1;
}

constexpr std::array<int, 4> range2Indices = {-2, -1, 1, 2};
constexpr std::array<int, 4> range3Indices = {-3, -2, 2, 3};
constexpr std::array<int, 8> range4Indices = {-4, -3, -2, -1, 1, 2, 3, 4};

// The zero codes of the zero-pair methods: "0" for two zero rows, "1 0" for
// one. Returns false, consuming nothing, when the bits start "1 1".
bool takeZeroPairCodes(BitReader& bits, std::uint32_t peeked, ColumnCursor& cursor) {
    if (!bit(peeked, 0)) {
        bits.consume(1);
        cursor.putZeroPair();
        return true;
    }
    if (!bit(peeked, 1)) {
        bits.consume(2);
        cursor.put(0);
        return true;
    }
    return false;
}

// The zero code of the other range methods: "0" for one zero row.
bool takeZeroCode(BitReader& bits, std::uint32_t peeked, ColumnCursor& cursor) {
    if (bit(peeked, 0)) return false;
    bits.consume(1);
    cursor.put(0);
    return true;
}

// Groups of `groupBits` bits, each giving up to `digitCount` rows through a
// digit table with `digitBits`-bit fields. A group is consumed whole even when
// the column ends inside it.
template <typename Table>
void fillGroups(ColumnTarget& target, std::size_t column, const Table& table, unsigned groupBits,
                unsigned digitBits, unsigned digitCount, int digitOffset) {
    ColumnCursor cursor(target, column);
    const unsigned digitMask = (1u << digitBits) - 1;
    while (!cursor.done()) {
        const unsigned digits = table[target.bits.readBits(groupBits)];
        for (unsigned d = 0; d < digitCount && !cursor.done(); ++d) {
            const auto digit = static_cast<int>((digits >> (d * digitBits)) & digitMask);
            cursor.putAmplitude(digit - digitOffset);
        }
    }
}

bool fillZero(ColumnTarget& target, unsigned, std::size_t column) {
    ColumnCursor cursor(target, column);
    while (!cursor.done())
        cursor.put(0);
    return true;
}

bool fillInvalid(ColumnTarget&, unsigned, std::size_t) {
    return false;
}

// Codes 3 to 16: every row is a field of `code` bits in offset binary.
bool fillLinear(ColumnTarget& target, unsigned code, std::size_t column) {
    ColumnCursor cursor(target, column);
    const int bias = 1 << (code - 1);
    while (!cursor.done()) {
        cursor.putAmplitude(static_cast<int>(target.bits.readBits(code)) - bias);
    }
    return true;
}

bool fillRange1ZeroPairs(ColumnTarget& target, unsigned, std::size_t column) {
    BitReader& bits = target.bits;
    ColumnCursor cursor(target, column);
    while (!cursor.done()) {
        bits.ensureBits(3);
        const std::uint32_t peeked = bits.peek(3);
        if (takeZeroPairCodes(bits, peeked, cursor)) continue;
        bits.consume(3);
        cursor.putAmplitude(signedOne(peeked, 2));
    }
    return true;
}

bool fillRange1(ColumnTarget& target, unsigned, std::size_t column) {
    BitReader& bits = target.bits;
    ColumnCursor cursor(target, column);
    while (!cursor.done()) {
        bits.ensureBits(2);
        const std::uint32_t peeked = bits.peek(2);
        if (takeZeroCode(bits, peeked, cursor)) continue;
        bits.consume(2);
        cursor.putAmplitude(signedOne(peeked, 1));
    }
    return true;
}

bool fillRange2ZeroPairs(ColumnTarget& target, unsigned, std::size_t column) {
    BitReader& bits = target.bits;
    ColumnCursor cursor(target, column);
    while (!cursor.done()) {
        bits.ensureBits(4);
        const std::uint32_t peeked = bits.peek(4);
        if (takeZeroPairCodes(bits, peeked, cursor)) continue;
        bits.consume(4);
        cursor.putAmplitude(range2Indices[peeked >> 2]);
    }
    return true;
}

bool fillRange2(ColumnTarget& target, unsigned, std::size_t column) {
    BitReader& bits = target.bits;
    ColumnCursor cursor(target, column);
    while (!cursor.done()) {
        bits.ensureBits(3);
        const std::uint32_t peeked = bits.peek(3);
        if (takeZeroCode(bits, peeked, cursor)) continue;
        bits.consume(3);
        cursor.putAmplitude(range2Indices[peeked >> 1]);
    }
    return true;
}

bool fillRange3ZeroPairs(ColumnTarget& target, unsigned, std::size_t column) {
    BitReader& bits = target.bits;
    ColumnCursor cursor(target, column);
    while (!cursor.done()) {
        bits.ensureBits(5);
        const std::uint32_t peeked = bits.peek(5);
        if (takeZeroPairCodes(bits, peeked, cursor)) continue;
        if (!bit(peeked, 2)) {
            bits.consume(4);
            cursor.putAmplitude(signedOne(peeked, 3));
        } else {
            bits.consume(5);
            cursor.putAmplitude(range3Indices[peeked >> 3]);
        }
    }
    return true;
}

bool fillRange3(ColumnTarget& target, unsigned, std::size_t column) {
    BitReader& bits = target.bits;
    ColumnCursor cursor(target, column);
    while (!cursor.done()) {
        bits.ensureBits(4);
        const std::uint32_t peeked = bits.peek(4);
        if (takeZeroCode(bits, peeked, cursor)) continue;
        if (!bit(peeked, 1)) {
            bits.consume(3);
            cursor.putAmplitude(signedOne(peeked, 2));
        } else {
            bits.consume(4);
            cursor.putAmplitude(range3Indices[peeked >> 2]);
        }
    }
    return true;
}

bool fillRange4ZeroPairs(ColumnTarget& target, unsigned, std::size_t column) {
    BitReader& bits = target.bits;
    ColumnCursor cursor(target, column);
    while (!cursor.done()) {
        bits.ensureBits(5);
        const std::uint32_t peeked = bits.peek(5);
        if (takeZeroPairCodes(bits, peeked, cursor)) continue;
        bits.consume(5);
        cursor.putAmplitude(range4Indices[peeked >> 2]);
    }
    return true;
}

bool fillRange4(ColumnTarget& target, unsigned, std::size_t column) {
    BitReader& bits = target.bits;
    ColumnCursor cursor(target, column);
    while (!cursor.done()) {
        bits.ensureBits(4);
        const std::uint32_t peeked = bits.peek(4);
        if (takeZeroCode(bits, peeked, cursor)) continue;
        bits.consume(4);
        cursor.putAmplitude(range4Indices[peeked >> 1]);
    }
    return true;
}

// Three base-3 digits per 5-bit group, amplitudes -1 to +1.
bool fillTriples3(ColumnTarget& target, unsigned, std::size_t column) {
    fillGroups(target, column, Triple3Table, 5, 2, 3, 1);
    return true;
}

// Three base-5 digits per 7-bit group, amplitudes -2 to +2.
bool fillTriples5(ColumnTarget& target, unsigned, std::size_t column) {
    fillGroups(target, column, Triple5Table, 7, 3, 3, 2);
    return true;
}

// Two base-11 digits per 7-bit group, amplitudes -5 to +5.
bool fillPairs11(ColumnTarget& target, unsigned, std::size_t column) {
    fillGroups(target, column, Pair11Table, 7, 4, 2, 5);
    return true;
}

using ColumnFiller = bool (*)(ColumnTarget& target, unsigned code, std::size_t column);

constexpr std::array<ColumnFiller, 32> fillers = {
    fillZero,
    fillInvalid,
    fillInvalid,
    fillLinear,  // 0-3
    fillLinear,
    fillLinear,
    fillLinear,
    fillLinear,  // 4-7
    fillLinear,
    fillLinear,
    fillLinear,
    fillLinear,  // 8-11
    fillLinear,
    fillLinear,
    fillLinear,
    fillLinear,  // 12-15
    fillLinear,
    fillRange1ZeroPairs,
    fillRange1,
    fillTriples3,  // 16-19
    fillRange2ZeroPairs,
    fillRange2,
    fillTriples5,
    fillRange3ZeroPairs,  // 20-23
    fillRange3,
    fillInvalid,
    fillRange4ZeroPairs,
    fillRange4,  // 24-27
    fillInvalid,
    fillPairs11,
    fillInvalid,
    fillInvalid,  // 28-31
};

}  // namespace

bool fillColumn(ColumnTarget& target, unsigned code, std::size_t column) {
    return fillers[code](target, code, column);
}

bool unpackBlock(BitReader& bits, AmplitudeTable& amplitudes, const BlockGeometry& geometry,
                 std::span<std::int32_t> blockBuffer) {
    assert(blockBuffer.size() >= geometry.blockSize);
    const unsigned rangeExponent = bits.readBits(4);
    const auto step = static_cast<std::uint16_t>(bits.readBits(16));
    amplitudes.rewrite(rangeExponent, step);
    // Columns after an invalid code are left zero.
    std::fill_n(blockBuffer.begin(), geometry.blockSize, 0);

    ColumnTarget target{bits, amplitudes, blockBuffer, geometry.columns, geometry.rows};
    for (std::size_t column = 0; column < geometry.columns; ++column) {
        const unsigned code = bits.readBits(5);
        if (!fillColumn(target, code, column)) return false;
    }
    return true;
}

}  // namespace talveco::reference
