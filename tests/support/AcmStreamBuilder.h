// Builds ACM streams for tests and tools: a file header, then blocks whose
// columns are encoded from amplitude-table indices with a chosen column code.
#pragma once

#include <cstdint>
#include <span>
#include <utility>
#include <vector>

#include "encoder/ColumnCoder.h"
#include "tests/support/BitWriter.h"

namespace talveco::testing {

// The stream-writing vocabulary lives with the encoder; tests reach it here too.
using talveco::columnIndexRange;
using talveco::encodeColumn;
using talveco::ZeroPairs;

// The 14 header bytes, for the stereo 22050 Hz streams most tests build.
inline std::vector<std::uint8_t> acmHeaderBytes(std::uint32_t sampleCount, unsigned levels,
                                                unsigned rows, std::uint16_t channels = 2,
                                                std::uint16_t sampleRate = 22050) {
    return talveco::acmHeaderBytes(sampleCount, levels, rows, channels, sampleRate);
}

class AcmStreamBuilder {
  public:
    AcmStreamBuilder(std::uint32_t sampleCount, unsigned levels, unsigned rows,
                     std::uint16_t channels = 2, std::uint16_t sampleRate = 22050);

    unsigned columns() const { return 1u << levels_; }
    unsigned rows() const { return rows_; }

    // The block header: amplitude entries -2^p .. 2^p - 1 become k * step.
    AcmStreamBuilder& blockHeader(unsigned rangeExponent, std::uint16_t step);
    // One column of `rows()` indices; raises std::invalid_argument for a
    // column of another length.
    AcmStreamBuilder& column(unsigned code, std::span<const int> indices,
                             ZeroPairs zeroPairs = ZeroPairs::Use);
    AcmStreamBuilder& column(unsigned code, std::initializer_list<int> indices,
                             ZeroPairs zeroPairs = ZeroPairs::Use);
    AcmStreamBuilder& zeroColumn();
    // Only the 5 bits of a column code, such as one that selects no method.
    AcmStreamBuilder& columnCode(unsigned code);

    // A whole block from its values, row after row (rows() x columns()), each
    // column coded with the matching entry of `codes`.
    AcmStreamBuilder& block(unsigned rangeExponent, std::uint16_t step,
                            std::span<const unsigned> codes, std::span<const int> rowMajorIndices);

    // Direct access, for bits no method above writes.
    BitWriter& bits() { return bits_; }
    const std::vector<std::uint8_t>& bytes() const { return bits_.bytes(); }

  private:
    unsigned levels_;
    unsigned rows_;
    BitWriter bits_;
};

}  // namespace talveco::testing
