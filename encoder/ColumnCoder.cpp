#include "tests/support/AcmStreamBuilder.h"

#include <algorithm>
#include <array>
#include <stdexcept>
#include <string>

namespace talveco::testing {
namespace {

constexpr std::array<int, 4> range2Indices = {-2, -1, 1, 2};
constexpr std::array<int, 4> range3Indices = {-3, -2, 2, 3};
constexpr std::array<int, 8> range4Indices = {-4, -3, -2, -1, 1, 2, 3, 4};

[[noreturn]] void reject(const std::string& what) {
    throw std::invalid_argument(what);
}

template <std::size_t N>
std::uint32_t positionIn(const std::array<int, N>& indices, int index) {
    const auto* found = std::find(indices.begin(), indices.end(), index);
    if (found == indices.end()) reject("index " + std::to_string(index) + " not codable");
    return static_cast<std::uint32_t>(found - indices.begin());
}

void writeSign(BitWriter& bits, int index) {
    if (index != 1 && index != -1) reject("index " + std::to_string(index) + " not codable");
    bits.write(index > 0 ? 1 : 0, 1);
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

// Codes 17, 20, 23 and 26 are the zero-pair forms of 18, 21, 24 and 27: their
// other patterns start with "1 1" instead of "1", as "1 0" is their single zero.
void encodeRangeCode(BitWriter& bits, unsigned code, std::span<const int> indices, bool usePairs) {
    const bool pairCode = code % 3 == 2;
    const auto zero = [&bits, pairCode](bool pair) {
        bits.writeBitString(pairCode && !pair ? "10" : "0");
    };
    const std::string lead = pairCode ? "11" : "1";
    const bool pairs = pairCode && usePairs;
    switch (code) {
        case 17:
        case 18:
            return encodeRows(indices, pairs, zero, [&](int index) {
                bits.writeBitString(lead);
                writeSign(bits, index);
            });
        case 20:
        case 21:
            return encodeRows(indices, pairs, zero, [&](int index) {
                bits.writeBitString(lead);
                bits.write(positionIn(range2Indices, index), 2);
            });
        case 23:
        case 24:
            return encodeRows(indices, pairs, zero, [&](int index) {
                bits.writeBitString(lead);
                if (index == 1 || index == -1) {
                    bits.writeBitString("0");
                    writeSign(bits, index);
                } else {
                    bits.writeBitString("1");
                    bits.write(positionIn(range3Indices, index), 2);
                }
            });
        case 26:
        case 27:
            return encodeRows(indices, pairs, zero, [&](int index) {
                bits.writeBitString(lead);
                bits.write(positionIn(range4Indices, index), 3);
            });
        default:
            reject("code " + std::to_string(code) + " is no range code");
    }
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

AcmStreamBuilder::AcmStreamBuilder(std::uint32_t sampleCount, unsigned levels, unsigned rows,
                                   std::uint16_t channels, std::uint16_t sampleRate)
    : levels_(levels), rows_(rows) {
    bits_.writeBytes(acmHeaderBytes(sampleCount, levels, rows, channels, sampleRate));
}

AcmStreamBuilder& AcmStreamBuilder::blockHeader(unsigned rangeExponent, std::uint16_t step) {
    bits_.write(rangeExponent, 4);
    bits_.write(step, 16);
    return *this;
}

AcmStreamBuilder& AcmStreamBuilder::column(unsigned code, std::span<const int> indices,
                                           ZeroPairs zeroPairs) {
    if (indices.size() != rows_) reject("a column needs one index per row");
    encodeColumn(bits_, code, indices, zeroPairs);
    return *this;
}

AcmStreamBuilder& AcmStreamBuilder::column(unsigned code, std::initializer_list<int> indices,
                                           ZeroPairs zeroPairs) {
    return column(code, std::span<const int>(indices.begin(), indices.size()), zeroPairs);
}

AcmStreamBuilder& AcmStreamBuilder::zeroColumn() {
    bits_.write(0, 5);
    return *this;
}

AcmStreamBuilder& AcmStreamBuilder::columnCode(unsigned code) {
    bits_.write(code, 5);
    return *this;
}

AcmStreamBuilder& AcmStreamBuilder::block(unsigned rangeExponent, std::uint16_t step,
                                          std::span<const unsigned> codes,
                                          std::span<const int> rowMajorIndices) {
    if (codes.size() != columns() || rowMajorIndices.size() != std::size_t(columns()) * rows_) {
        reject("a block needs a code per column and a value per entry");
    }
    blockHeader(rangeExponent, step);
    std::vector<int> columnIndices(rows_);
    for (unsigned c = 0; c < columns(); ++c) {
        for (unsigned r = 0; r < rows_; ++r) {
            columnIndices[r] = rowMajorIndices[std::size_t(r) * columns() + c];
        }
        column(codes[c], columnIndices);
    }
    return *this;
}

}  // namespace talveco::testing
