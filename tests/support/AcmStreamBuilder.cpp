#include "tests/support/AcmStreamBuilder.h"

#include <stdexcept>
#include <string>

namespace talveco::testing {
namespace {

[[noreturn]] void reject(const std::string& what) {
    throw std::invalid_argument(what);
}

}  // namespace

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
