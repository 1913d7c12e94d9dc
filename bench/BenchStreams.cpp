#include "bench/BenchStreams.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>

#include "tests/support/AcmStreamBuilder.h"

namespace talveco::bench {
namespace {

using testing::AcmStreamBuilder;
using testing::columnIndexRange;

constexpr unsigned methodCodes[] = {0,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12, 13, 14,
                                    15, 16, 17, 18, 19, 20, 21, 22, 23, 24, 26, 27, 29};

// The bits a range code spends on one column, as the builder writes it: with
// a zero-pair code, a zero followed by a zero (or in the last row) costs one
// bit for both, a lone zero two.
unsigned rangeCodeBits(unsigned code, const std::vector<int>& column) {
    const bool pairCode = code == 17 || code == 20 || code == 23 || code == 26;
    unsigned bits = 0;
    for (std::size_t row = 0; row < column.size(); ++row) {
        const int value = column[row];
        if (value == 0) {
            const bool last = row + 1 == column.size();
            if (pairCode && (last || column[row + 1] == 0)) {
                bits += 1;
                ++row;
            } else {
                bits += pairCode ? 2 : 1;
            }
            continue;
        }
        const unsigned lead = pairCode ? 2 : 1;
        const bool one = value == 1 || value == -1;
        switch (code) {
            case 17:
            case 18:
                bits += lead + 1;
                break;
            case 20:
            case 21:
                bits += lead + 2;
                break;
            case 23:
            case 24:
                bits += lead + (one ? 2 : 3);
                break;
            default:  // 26, 27
                bits += lead + 3;
                break;
        }
    }
    return bits;
}

// Bits of the column's data in `code`, or the largest unsigned value when the
// code cannot hold the values.
unsigned columnBits(unsigned code, const std::vector<int>& column, int lowest, int highest) {
    const auto [low, high] = columnIndexRange(code);
    if (lowest < low || highest > high) return std::numeric_limits<unsigned>::max();
    const auto count = static_cast<unsigned>(column.size());
    if (code == 0) return 0;
    if (code <= 16) return code * count;
    if (code == 19) return (count + 2) / 3 * 5;
    if (code == 22) return (count + 2) / 3 * 7;
    if (code == 29) return (count + 1) / 2 * 7;
    return rangeCodeBits(code, column);
}

unsigned cheapestCode(const std::vector<int>& column) {
    const auto [lowest, highest] = std::minmax_element(column.begin(), column.end());
    unsigned best = 16;
    unsigned bestBits = std::numeric_limits<unsigned>::max();
    for (const unsigned code : methodCodes) {
        const unsigned bits = columnBits(code, column, *lowest, *highest);
        if (bits < bestBits) {
            best = code;
            bestBits = bits;
        }
    }
    return best;
}

// The smallest p whose range -2^p .. 2^p - 1 holds every value.
unsigned rangeExponentFor(const std::vector<std::vector<int>>& columns) {
    unsigned p = 0;
    for (const auto& column : columns) {
        for (const int value : column) {
            while (value < -(1 << p) || value >= (1 << p))
                ++p;
        }
    }
    return p;
}

class StreamWriter {
  public:
    StreamWriter(unsigned levels, unsigned rows, std::uint32_t sampleCount, unsigned seed)
        : builder_(sampleCount, levels, rows), rows_(rows), random_(seed) {}

    void realisticBlock() {
        const unsigned columns = builder_.columns();
        std::vector<std::vector<int>> data(columns, std::vector<int>(rows_, 0));
        std::uniform_real_distribution<double> unit(0.0, 1.0);
        for (unsigned c = 0; c < columns; ++c) {
            // Loudness falls off towards the high columns; many columns are
            // silent or nearly so.
            const double position = columns == 1 ? 0.0 : double(c) / (columns - 1);
            if (unit(random_) < 0.25 + 0.5 * position) continue;  // an all-zero column
            const double scale =
                std::exp2(9.0 * (1.0 - position) * (1.0 - position) * unit(random_));
            const double zeroChance = 0.3 + 0.4 * position;
            std::exponential_distribution<double> magnitude(1.0 / scale);
            for (int& value : data[c]) {
                if (unit(random_) < zeroChance) continue;
                const int size = std::min(1 + static_cast<int>(magnitude(random_)), 30000);
                value = unit(random_) < 0.5 ? -size : size;
            }
        }
        std::uniform_int_distribution<int> step(1, 40);
        builder_.blockHeader(rangeExponentFor(data), static_cast<std::uint16_t>(step(random_)));
        for (const auto& column : data)
            builder_.column(cheapestCode(column), column);
    }

    void denseBlock() {
        std::uniform_int_distribution<unsigned> exponent(0, 15);
        std::uniform_int_distribution<unsigned> step(0, 65535);
        std::uniform_int_distribution<std::size_t> pick(0, std::size(methodCodes) - 1);
        builder_.blockHeader(exponent(random_), static_cast<std::uint16_t>(step(random_)));
        std::vector<int> column(rows_);
        for (unsigned c = 0; c < builder_.columns(); ++c) {
            const unsigned code = methodCodes[pick(random_)];
            const auto [lowest, highest] = columnIndexRange(code);
            std::uniform_int_distribution<int> value(lowest, highest);
            for (int& v : column)
                v = value(random_);
            builder_.column(code, column);
        }
    }

    void familyBlock(std::span<const unsigned> codes, unsigned rangeExponent) {
        std::uniform_int_distribution<unsigned> step(1, 40);
        std::uniform_int_distribution<std::size_t> pick(0, codes.size() - 1);
        builder_.blockHeader(rangeExponent, static_cast<std::uint16_t>(step(random_)));
        std::vector<int> column(rows_);
        for (unsigned c = 0; c < builder_.columns(); ++c) {
            const unsigned code = codes[pick(random_)];
            const auto [lowest, highest] = columnIndexRange(code);
            std::uniform_int_distribution<int> value(lowest, highest);
            for (int& v : column)
                v = value(random_);
            builder_.column(code, column);
        }
    }

    const std::vector<std::uint8_t>& bytes() const { return builder_.bytes(); }

  private:
    AcmStreamBuilder builder_;
    unsigned rows_;
    std::mt19937 random_;
};

std::uint32_t sampleCountOf(unsigned levels, unsigned rows, std::uint64_t blocks) {
    return static_cast<std::uint32_t>((std::uint64_t{rows} << levels) * blocks);
}

}  // namespace

std::vector<std::uint8_t> makeBenchStream(StreamKind kind, unsigned levels, std::uint64_t blocks,
                                          unsigned seed, unsigned rows) {
    StreamWriter writer(levels, rows, sampleCountOf(levels, rows, blocks), seed);
    for (std::uint64_t b = 0; b < blocks; ++b) {
        if (kind == StreamKind::Dense) {
            writer.denseBlock();
        } else {
            writer.realisticBlock();
        }
    }
    return writer.bytes();
}

std::vector<std::uint8_t> makeCodeFamilyStream(std::span<const unsigned> codes, unsigned levels,
                                               std::uint64_t blocks, unsigned seed) {
    int lowest = 0;
    int highest = 0;
    for (const unsigned code : codes) {
        const auto [low, high] = columnIndexRange(code);
        lowest = std::min(lowest, low);
        highest = std::max(highest, high);
    }
    unsigned rangeExponent = 0;
    while (lowest < -(1 << rangeExponent) || highest >= (1 << rangeExponent))
        ++rangeExponent;
    StreamWriter writer(levels, benchRows, sampleCountOf(levels, benchRows, blocks), seed);
    for (std::uint64_t b = 0; b < blocks; ++b)
        writer.familyBlock(codes, rangeExponent);
    return writer.bytes();
}

}  // namespace talveco::bench
