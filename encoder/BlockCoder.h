// One block at a time: quantisation of the analysis values, the choice of
// column codes, and the decoder's own transform run on the result, so that
// the encoder knows the samples its stream decodes to.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <utility>
#include <vector>

#include "acm/AcmDecoder.h"
#include "encoder/BitWriter.h"
#include "encoder/ColumnCoder.h"

namespace talveco {

class BlockCoder {
  public:
    BlockCoder(unsigned levels, unsigned rows);

    const BlockGeometry& geometry() const { return geometry_; }

    // The bits one block of analysis values (geometry().blockSize, row after
    // row) takes with this quantiser step; nothing is written or decoded.
    std::uint64_t countBits(std::span<const double> values, double step);
    // The same bits, and the weighted squared error of the values quantised.
    std::pair<std::uint64_t, double> countBitsAndError(std::span<const double> values, double step);

    // Codes the block with this step into `bits` and stores the samples it
    // decodes to in `decoded` (blockSize of them). When a decoded sample would
    // leave the 16-bit range, where the decoder wraps it, the block is coded
    // again with a little less level or finer steps, whichever costs less,
    // or failing both with ever finer steps and less level until none does. A block that would take
    // more than `mostBits` is coded with coarser steps. Of the last block of a stream only the
    // first `carried` values are input, the rest padding (see quantiseWithin).
    void code(std::span<const double> values, double step, BitWriter& bits,
              std::span<std::int16_t> decoded, std::uint64_t mostBits = noBitLimit,
              std::size_t carried = wholeBlock);

    // Codes a block of given values before the transform (`unpacked`, row
    // after row, multiples of `step`), as an earlier stream held it, with the
    // cheapest column codes; false, and nothing written or moved on, where
    // they do not fit this block or would wrap from the present carries.
    bool codeUnpacked(std::span<const std::int32_t> unpacked, std::uint16_t step, BitWriter& bits,
                      std::span<std::int16_t> decoded);

    // The bits code() would write for the block, with the carries moved on
    // as code() moves them; nothing is written.
    std::uint64_t codedBits(std::span<const double> values, double step,
                            std::uint64_t mostBits = noBitLimit, std::size_t carried = wholeBlock);

    static constexpr std::uint64_t noBitLimit = ~std::uint64_t{0};
    static constexpr std::size_t wholeBlock = ~std::size_t{0};

  private:
    struct Quantised {
        unsigned exponent = 0;
        std::uint16_t step = 1;
        std::uint64_t bits = 0;
    };
    Quantised quantise(std::span<const double> values, double step, double scale);
    // The lowest and highest index of the chosen column widen `range`.
    ColumnChoice chooseColumn(std::span<const double> scaled, int lowestIndex, int highestIndex,
                              double weight, std::span<int> column, std::pair<int, int>& range);
    double distortion(std::span<const double> values, const Quantised& q) const;
    Quantised quantiseWithoutWrap(std::span<const double> values, double step);
    double exactStep(std::span<const double> values, double step);
    Quantised quantiseWithin(std::span<const double> values, double step, std::uint64_t mostBits,
                             std::size_t carried);
    bool transformWithoutWrap(const Quantised& q);
    bool wraps(std::span<const std::int32_t> values) const;
    void write(const Quantised& q, BitWriter& bits);

    BlockGeometry geometry_;
    std::vector<std::uint32_t> carries_;       // the decoder's transform state
    std::vector<std::uint32_t> trialCarries_;  // the state while a block is tried
    std::vector<std::int32_t> block_;          // the block as the decoder transforms it
    std::vector<int> indices_;                 // column after column
    std::vector<unsigned> codes_;              // one per column
    BlockGeometry tailGeometry_;               // the silence after a block
    std::vector<std::uint32_t> tailCarries_;
    std::vector<std::int32_t> tail_;
    std::vector<double> bandWeights_;  // noise gain of each column, mean 1
    std::vector<double> scaled_;       // a column's values in steps
    // Lambda in units of a squared step per bit. A uniform quantiser's noise
    // falls by 2 ln 2 * step^2 / 12 for each further bit.
    double bitCost_ = 2 * 0.6931 / 12;
};

}  // namespace talveco
