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
#include "encoder/CausalSearch.h"
#include "encoder/ColumnCoder.h"

namespace talveco {

// The squared error that holding `indices` inside -bound .. bound (bound at
// least 0) adds to that of the rounded indices, for values `scaled` in steps.
double addedError(std::span<const double> scaled, std::span<const int> indices, int bound);
// The same, row after row: the plain form addedError() must give bit for bit.
double addedErrorByRows(std::span<const double> scaled, std::span<const int> indices, int bound);

// The largest magnitude among `values`, 0 for none.
double largestMagnitude(std::span<const double> values);

class BlockCoder {
  public:
    BlockCoder(unsigned levels, unsigned rows);

    const BlockGeometry& geometry() const { return geometry_; }

    // Whether a block that would wrap may take a coarser step than the one
    // asked for (see quantiseWithoutWrap): right in constant quality, where
    // the step only sets the noise; not at a rate, whose steps are chosen to
    // spend the bits, and where a finer step must cost more.
    void allowCoarserOnWrap(bool allowed) { coarserOnWrap_ = allowed; }
    // Whether a block that would wrap may keep its step with the few values
    // under the wrapping samples moved a step each (see easeWraps), and a
    // block coded noisier than its step promises may take a coarser step
    // that gives no more noise for no more bits (see undominated): right in
    // constant quality, for the same reason.
    void allowEasedWraps(bool allowed) { easedWraps_ = allowed; }

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
    // they do not fit this block, or where they would wrap from the present
    // carries other than to the samples `wanted` (the block's real ones).
    bool codeUnpacked(std::span<const std::int32_t> unpacked, std::uint16_t step,
                      std::span<const std::int16_t> wanted, BitWriter& bits,
                      std::span<std::int16_t> decoded);

    // What a block of an edit is coded towards: the samples it holds
    // (`wanted`, its real ones), those of them an earlier stream holds too
    // (`kept`, one flag each), the values to stay near (`reference`,
    // blockSize of them; `earlierValues` where it holds some of the earlier
    // stream's) and the steps to try.
    struct LikeTarget {
        std::span<const std::int16_t> wanted;
        std::span<const std::uint8_t> kept;
        std::span<const double> reference;
        bool earlierValues = false;
        std::span<const std::uint16_t> steps;
    };
    // Codes the block with the values, among those tried, that give the most
    // kept samples exactly within `mostBits`: for each step, the reference
    // rounded to the step where it holds earlier values, and those the causal
    // search finds where they give every wanted sample. False, and nothing
    // written or moved on, where none gives any kept sample exactly.
    bool codeLike(const LikeTarget& target, BitWriter& bits, std::span<std::int16_t> decoded,
                  std::uint64_t mostBits = noBitLimit);

    // The bits code() would write for the block, with the carries moved on
    // as code() moves them; nothing is written.
    std::uint64_t codedBits(std::span<const double> values, double step,
                            std::uint64_t mostBits = noBitLimit, std::size_t carried = wholeBlock);

    // The bits of the block's indices and codes at this step, without the
    // search for a wrap-free coding that code() adds; the carries stay as
    // they are. Cheaper than bitsOf(), for choosing among steps.
    std::uint64_t roundedBits(std::span<const double> values, double step);

    // The bits code() would write for the block; the carries stay as they
    // are.
    std::uint64_t bitsOf(std::span<const double> values, double step,
                         std::uint64_t mostBits = noBitLimit, std::size_t carried = wholeBlock);

    static constexpr std::uint64_t noBitLimit = ~std::uint64_t{0};
    static constexpr std::size_t wholeBlock = ~std::size_t{0};

  private:
    struct Quantised {
        unsigned exponent = 0;
        std::uint16_t step = 1;
        std::uint64_t bits = 0;
        // The weighted squared error of the values coded, as distortion()
        // gives it, where quantise() found it on the way (its values at full
        // level, none moved since); else negative.
        double error = -1.0;
    };
    Quantised quantise(std::span<const double> values, double step, double scale);
    // The lowest and highest index of the chosen column widen `range`; the
    // squared error of its indices, in squared steps, is added to `error`.
    ColumnChoice chooseColumn(std::span<const double> scaled, int lowestIndex, int highestIndex,
                              double weight, std::span<int> column, std::pair<int, int>& range,
                              double& error);
    double distortion(std::span<const double> values, const Quantised& q) const;
    // q.error where it is known, else distortion().
    double errorOf(std::span<const double> values, const Quantised& q) const;
    double roundingError(std::span<const double> values, std::uint16_t step) const;
    Quantised quantiseWithoutWrap(std::span<const double> values, double step);
    double exactStep(std::span<const double> values, double step);
    Quantised undominated(std::span<const double> values, double step, const Quantised& q,
                          const std::vector<std::uint32_t>& before);
    bool quantiseEased(std::span<const double> values, double step, Quantised& q);
    void putAside(const std::vector<std::uint32_t>& carries);
    void takeBack(std::vector<std::uint32_t>& carries);
    Quantised quantiseWithin(std::span<const double> values, double step, std::uint64_t mostBits,
                             std::size_t carried);
    bool transformWithoutWrap(const Quantised& q);
    bool easeWraps(std::span<const double> values, Quantised& q);
    void gatherOutputs();
    const std::vector<std::vector<std::int32_t>>& responses();
    void countCodes(Quantised& q);
    bool wraps(std::span<const std::int32_t> values) const;
    std::size_t keptExactly(std::span<const std::int16_t> wanted,
                            std::span<const std::uint8_t> kept,
                            std::span<std::int16_t> decoded) const;
    void roundToSteps(std::span<const double> values, std::uint16_t step,
                      std::span<std::int32_t> out) const;
    bool indexUnpacked(std::span<const std::int32_t> unpacked, std::uint16_t step, Quantised& q);
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
    CausalSearch search_;
    std::vector<std::int32_t> found_;   // the values of a trial
    std::vector<std::int32_t> chosen_;  // the best trial's
    // Lambda in units of a squared step per bit. A uniform quantiser's noise
    // falls by 2 ln 2 * step^2 / 12 for each further bit.
    double bitCost_ = 2 * 0.6931 / 12;
    bool coarserOnWrap_ = false;
    bool easedWraps_ = false;
    // Of each column, the decoder's output from one unit value in its first
    // row on, from rest; filled when a block first wraps.
    std::vector<std::vector<std::int32_t>> responses_;
    std::vector<std::int64_t> outputs_;  // a block and its tail, before the shift
    std::vector<double> outputErrors_;   // what the block's values add to their error
    // A coding put aside while others are tried (see putAside).
    struct KeptCoding {
        std::vector<int> indices;
        std::vector<unsigned> codes;
        std::vector<std::int32_t> block;
        std::vector<std::uint32_t> carries;
    } kept_;
};

}  // namespace talveco
