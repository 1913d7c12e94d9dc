#include "encoder/BlockCoder.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>
#include <optional>

#include "acm/AmplitudeTable.h"
#include "acm/InverseTransform.h"
#include "acm/SampleOutput.h"
#include "encoder/ColumnCoder.h"
#include "encoder/RateControl.h"
#include "encoder/RowMasks.h"

namespace talveco {
namespace {

constexpr int int16Lowest = std::numeric_limits<std::int16_t>::min();
constexpr int int16Highest = std::numeric_limits<std::int16_t>::max();
constexpr unsigned blockHeaderBits = 4 + 16;

// Rows of silence after a block that its carries can still move.
constexpr unsigned tailRows = 2;

// Blocks wider than this are not eased value by value (see easeWraps):
// their outputs would cost more to follow than to code again.
constexpr unsigned mostEasedLevels = 7;
// The coarser grid steps a block noisier than its step is checked against
// (see undominated): those of the quality point below lie within three.
constexpr int coarserStepsTried = 3;
// How much noisier than its step promises a block must be for those to be
// tried: dense blocks come out a little noisier than that half the time, by
// chance, and trying them took 10 minutes of mixed sound at -q 5 a sixth
// more time.
constexpr double noisierThanPromised = 1.5;
// At most one move for this many values of a block.
constexpr std::size_t mostMovesShare = 8;

// Steps above this leave too few indices inside the 16-bit amplitude range.
constexpr double largestStep = 32767;

std::uint16_t usableStep(double step) {
    return static_cast<std::uint16_t>(std::clamp(std::lround(step), 1L, long(largestStep)));
}

// The step, made finer where needed so that the multiples of it inside the
// 16-bit amplitude range reach `peak`: a coarse step would otherwise flatten
// the loudest values of the block at the last multiple below full scale.
std::uint16_t stepReaching(double step, double peak) {
    int s = usableStep(step);
    const double reach = std::min(peak, double(int16Highest));
    while (s > 1 && reach > (int16Highest / s) * s + s / 2.0)
        s = int16Highest / (int16Highest / s + 1);
    return static_cast<std::uint16_t>(s);
}

// The nearest integer, ties to even, without a library call: adding 1.5 *
// 2^52 leaves no bits below the point. Values here stay far below 2^51.
double roundToInteger(double v) {
    constexpr double shifter = 6755399441055744.0;
    return (v + shifter) - shifter;
}

// The smallest range exponent p whose table entries -2^p .. 2^p - 1 hold
// every index in lowest .. highest.
unsigned rangeExponent(int lowest, int highest) {
    unsigned p = 0;
    while (p < 15 && (lowest < -(1 << p) || highest > (1 << p) - 1))
        ++p;
    return p;
}

// How much quantisation noise in each column (band) grows on its way to the
// decoded samples, relative to the mean over all columns: the energy of the
// decoder's response to one value in that column. Wide geometries take
// equal weights; their responses would cost more to measure than to code.
std::vector<double> bandWeights(unsigned levels) {
    const std::size_t columns = std::size_t{1} << levels;
    std::vector<double> weights(columns, 1.0);
    if (levels == 0 || levels > 7) return weights;
    constexpr unsigned rows = 24;
    constexpr std::int32_t impulse = 4096;
    const BlockGeometry geometry = blockGeometry(levels, rows);
    std::vector<std::int32_t> silence(geometry.blockSize, 0);
    std::vector<std::uint32_t> carries(geometry.carryCount, 0);
    inverseTransform(geometry, silence, carries);
    double total = 0.0;
    for (std::size_t c = 0; c < columns; ++c) {
        std::vector<std::int32_t> block(geometry.blockSize, 0);
        block[rows / 2 * columns + c] = impulse;
        std::fill(carries.begin(), carries.end(), 0u);
        inverseTransform(geometry, block, carries);
        double energy = 0.0;
        for (std::size_t i = 0; i < block.size(); ++i) {
            const double d = double(block[i]) - double(silence[i]);
            energy += d * d;
        }
        weights[c] = energy;
        total += energy;
    }
    for (double& w : weights)
        w *= double(columns) / total;
    return weights;
}

// The amplitude-table index nearest 0 whose entry for this step is `value`:
// value / step where it divides, else one whose product wraps to it in 16
// bits, as the decoder's table entries do.
std::optional<int> tableIndex(std::int32_t value, std::uint16_t step) {
    if (value % step == 0) return value / step;
    const unsigned twos = static_cast<unsigned>(std::countr_zero(step));
    const auto residue = static_cast<std::uint32_t>(value) & 0xFFFFu;
    if ((residue & ((1u << twos) - 1)) != 0) return std::nullopt;
    // k * step = value modulo 2^16 for k = (value / 2^twos) * odd^-1 modulo
    // 2^(16 - twos); the inverse of an odd number by Newton's iteration.
    const std::uint32_t odd = step >> twos;
    std::uint32_t inverse = odd;
    for (int i = 0; i < 4; ++i)
        inverse *= 2 - odd * inverse;
    const std::uint32_t period = 1u << (16 - twos);
    auto k = static_cast<std::int32_t>(((residue >> twos) * inverse) & (period - 1));
    if (k >= static_cast<std::int32_t>(period / 2)) k -= static_cast<std::int32_t>(period);
    return k;
}

}  // namespace

double addedErrorByRows(std::span<const double> scaled, std::span<const int> indices, int bound) {
    double sum = 0.0;
    for (std::size_t i = 0; i < scaled.size(); ++i) {
        const int k = indices[i];
        if (k > bound || k < -bound) {
            const double held = scaled[i] - std::clamp(k, -bound, bound);
            const double rounded = scaled[i] - k;
            sum += held * held - rounded * rounded;
        }
    }
    return sum;
}

// Which rows are held is found first, 64 at a time, without a branch per
// row (which rows lie beyond the bound is as good as random); the error is
// then summed over those rows alone, in the same order as the walk above,
// so that the sum is the same to the last bit.
double addedError(std::span<const double> scaled, std::span<const int> indices, int bound) {
    double sum = 0.0;
    const auto limit = static_cast<unsigned>(bound);
    for (std::size_t first = 0; first < scaled.size(); first += 64) {
        const std::size_t count = std::min<std::size_t>(64, scaled.size() - first);
        std::uint64_t held = rowMask(indices.data() + first, count, [limit](int index) {
            return static_cast<unsigned>(std::abs(index)) > limit;
        });
        for (; held != 0; held &= held - 1) {
            const std::size_t i = first + static_cast<std::size_t>(std::countr_zero(held));
            const int k = indices[i];
            const double heldAt = scaled[i] - std::clamp(k, -bound, bound);
            const double rounded = scaled[i] - k;
            sum += heldAt * heldAt - rounded * rounded;
        }
    }
    return sum;
}

// In four lanes: a single running maximum makes every value wait for the
// one before, and the compiler may not reorder floating-point maxima itself.
// The largest of the same values is the same in any order.
double largestMagnitude(std::span<const double> values) {
    double lanes[4] = {};
    const std::size_t whole = values.size() / 4 * 4;
    for (std::size_t i = 0; i < whole; i += 4) {
        for (std::size_t lane = 0; lane < 4; ++lane)
            lanes[lane] = std::max(lanes[lane], std::abs(values[i + lane]));
    }
    for (std::size_t i = whole; i < values.size(); ++i)
        lanes[0] = std::max(lanes[0], std::abs(values[i]));
    return std::max(std::max(lanes[0], lanes[1]), std::max(lanes[2], lanes[3]));
}

BlockCoder::BlockCoder(unsigned levels, unsigned rows)
    : geometry_(blockGeometry(levels, rows)),
      carries_(geometry_.carryCount, 0),
      trialCarries_(geometry_.carryCount, 0),
      block_(geometry_.blockSize),
      indices_(geometry_.blockSize),
      codes_(geometry_.columns),
      tailGeometry_(blockGeometry(levels, tailRows)),
      tailCarries_(geometry_.carryCount, 0),
      tail_(tailGeometry_.blockSize),
      bandWeights_(bandWeights(levels)),
      scaled_(rows),
      search_(geometry_),
      found_(geometry_.blockSize),
      chosen_(geometry_.blockSize) {}

// Rounds every value to a multiple of the step, inside the 16-bit range the
// amplitude table holds, and codes each column at the least distortion +
// lambda * bits: narrower codes clamp the column's outlying values. `scale`
// below one takes level away from the whole block.
BlockCoder::Quantised BlockCoder::quantise(std::span<const double> values, double step,
                                           double scale) {
    Quantised q;
    q.step = stepReaching(step, largestMagnitude(values) * scale);
    const double toIndex = scale / q.step;
    const int lowestIndex = -(-int16Lowest / q.step);
    const int highestIndex = int16Highest / q.step;
    const std::size_t rows = geometry_.rows;
    const std::size_t columns = geometry_.columns;
    std::pair<int, int> range{0, 0};
    double error = 0.0;
    for (std::size_t c = 0; c < columns; ++c) {
        for (std::size_t r = 0; r < rows; ++r)
            scaled_[r] = values[r * columns + c] * toIndex;
        const std::span<int> column(indices_.data() + c * rows, rows);
        const ColumnChoice choice =
            chooseColumn(scaled_, lowestIndex, highestIndex, bandWeights_[c], column, range, error);
        codes_[c] = choice.code;
        q.bits += choice.bits;
    }
    q.exponent = rangeExponent(range.first, range.second);
    q.bits += blockHeaderBits;
    if (scale == 1.0) q.error = error * double(q.step) * double(q.step);
    return q;
}

// The indices of one column, `scaled` being its values in steps: rounded,
// then held inside each narrower bound that might pay, and the code with the
// least weighted distortion + lambda * bits kept in `column`.
ColumnChoice BlockCoder::chooseColumn(std::span<const double> scaled, int lowestIndex,
                                      int highestIndex, double weight, std::span<int> column,
                                      std::pair<int, int>& range, double& error) {
    int largest = 0;
    double rounding = 0.0;
    for (std::size_t r = 0; r < scaled.size(); ++r) {
        const double k =
            std::clamp(roundToInteger(scaled[r]), double(lowestIndex), double(highestIndex));
        column[r] = static_cast<int>(k);
        largest = std::max(largest, std::abs(column[r]));
        rounding += (scaled[r] - k) * (scaled[r] - k);
    }
    // A silent column takes code 0 and nothing else: most columns of the
    // higher bands at coarse steps.
    if (largest == 0) {
        error += weight * rounding;
        return {0, 5};
    }
    const ColumnStats stats = columnStats(column);
    ColumnChoice best = cheapestColumnCode(stats);
    // Costs relative to the rounded column: only the clamped rows add
    // distortion. A bound far below the largest index costs more than any
    // code saves.
    double bestCost = bitCost_ * double(best.bits);
    double bestAdded = 0.0;
    int bestBound = largest;
    for (const int bound : {0, 1, 2, 3, 4, 5, 7, 15}) {
        if (bound >= largest) break;
        if (largest > 2 * bound + 1) continue;
        const ColumnChoice choice =
            bound == 0 ? ColumnChoice{0, 5} : cheapestColumnCode(clampedStats(stats, bound));
        // The added error is never negative (a held index lies further from
        // its value than the rounded one), so a code whose bits alone cost
        // as much as the best cannot win: skip counting its error.
        const double bitsCost = bitCost_ * double(choice.bits);
        if (bitsCost >= bestCost) continue;
        const double added = weight * addedError(scaled, column, bound);
        if (added + bitsCost < bestCost) {
            bestCost = added + bitsCost;
            bestAdded = added;
            best = choice;
            bestBound = bound;
        }
    }
    if (bestBound < largest) {
        for (int& k : column)
            k = std::clamp(k, -bestBound, bestBound);
    }
    error += weight * rounding + bestAdded;
    range.first = std::min(range.first, std::max(stats.lowest, -bestBound));
    range.second = std::max(range.second, std::min(stats.highest, bestBound));
    return best;
}

std::uint64_t BlockCoder::countBits(std::span<const double> values, double step) {
    return quantise(values, step, 1.0).bits;
}

std::pair<std::uint64_t, double> BlockCoder::countBitsAndError(std::span<const double> values,
                                                               double step) {
    const Quantised q = quantise(values, step, 1.0);
    return {q.bits, distortion(values, q)};
}

bool BlockCoder::wraps(std::span<const std::int32_t> values) const {
    // The shift keeps the order, so the extremes decide; a plain minimum and
    // maximum over the block, without an exit per value, vectorises.
    std::int32_t lowest = 0;
    std::int32_t highest = 0;
    for (const std::int32_t v : values) {
        lowest = std::min(lowest, v);
        highest = std::max(highest, v);
    }
    const unsigned levels = geometry_.levels;
    return (lowest >> levels) < int16Lowest || (highest >> levels) > int16Highest;
}

// Runs the decoder's transform on the quantised block from the current
// carries, into block_ and trialCarries_. False when a value leaves the
// 16-bit range after the output shift, where the decoder wraps it, either
// in the block or in the silence that could follow it: the carries reach
// less than two rows into the next block, and the check of that silence is
// what lets a silent block always be the way out for the next block.
bool BlockCoder::transformWithoutWrap(const Quantised& q) {
    const std::size_t rows = geometry_.rows;
    const std::size_t columns = geometry_.columns;
    for (std::size_t c = 0; c < columns; ++c) {
        for (std::size_t r = 0; r < rows; ++r)
            block_[r * columns + c] = AmplitudeTable::entryValue(indices_[c * rows + r], q.step);
    }
    trialCarries_ = carries_;
    inverseTransform(geometry_, block_, trialCarries_);
    if (wraps(block_)) return false;
    tailCarries_ = trialCarries_;
    std::fill(tail_.begin(), tail_.end(), 0);
    inverseTransform(tailGeometry_, tail_, tailCarries_);
    return !wraps(tail_);
}

// The decoder's transform is linear but for a constant (the rounding of its
// output shift) and the same from row to row, so that what one value adds to
// the output is what a unit value of its column adds to silence from rest,
// moved to its row and scaled: measured once, over rows enough to hold it
// whole (each stage reaches only two of its own rows back).
const std::vector<std::vector<std::int32_t>>& BlockCoder::responses() {
    if (!responses_.empty()) return responses_;
    constexpr unsigned rows = 8;
    const BlockGeometry geometry = blockGeometry(geometry_.levels, rows);
    std::vector<std::int32_t> silence(geometry.blockSize, 0);
    std::vector<std::uint32_t> carries(geometry.carryCount, 0);
    inverseTransform(geometry, silence, carries);
    std::vector<std::int32_t> block(geometry.blockSize);
    responses_.resize(geometry.columns);
    for (std::size_t c = 0; c < geometry.columns; ++c) {
        std::fill(block.begin(), block.end(), 0);
        std::fill(carries.begin(), carries.end(), 0u);
        block[c] = 1;
        inverseTransform(geometry, block, carries);
        for (std::size_t i = 0; i < block.size(); ++i)
            block[i] -= silence[i];
        const auto last = std::find_if(block.rbegin(), block.rend(), [](auto v) { return v != 0; });
        responses_[c].assign(block.begin() + std::ptrdiff_t(c), last.base());
    }
    return responses_;
}

// The block's output as transformWithoutWrap() left it in block_, then the
// silence after it, into outputs_.
void BlockCoder::gatherOutputs() {
    tailCarries_ = trialCarries_;
    std::fill(tail_.begin(), tail_.end(), 0);
    inverseTransform(tailGeometry_, tail_, tailCarries_);
    outputs_.assign(block_.begin(), block_.end());
    outputs_.insert(outputs_.end(), tail_.begin(), tail_.end());
}

namespace {

// A value of a block (row after row) moved by one step, up or down.
struct Move {
    std::size_t at = 0;
    int units = 0;
};

// A block's samples and those of the silence after it, before the output
// shift, while values under the samples that wrap are moved a step at a
// time, and the error the block's values add to each of them.
class WrapEasing {
  public:
    // `responses`: see BlockCoder::responses(); `indices`: column after
    // column; `outputs`, `errors`: buffers, the first holding the samples.
    WrapEasing(const std::vector<std::vector<std::int32_t>>& responses,
               const BlockGeometry& geometry, std::span<int> indices, std::uint16_t step,
               std::span<const double> values, std::vector<std::int64_t>& outputs,
               std::vector<double>& errors)
        : responses_(responses),
          columns_(geometry.columns),
          rows_(geometry.rows),
          indices_(indices),
          step_(step),
          high_((std::int64_t{int16Highest} + 1) << geometry.levels),
          low_(std::int64_t{int16Lowest} * (std::int64_t{1} << geometry.levels)),
          outputs_(outputs),
          errors_(errors) {
        for (const auto& r : responses)
            reach_ = std::max(reach_, r.size());
        errors_.assign(outputs_.size(), 0.0);
        for (std::size_t i = 0; i < values.size(); ++i)
            addResponse(i, index(i) * double(step) - values[i], errors_);
        for (std::size_t p = 0; p < outputs_.size(); ++p)
            if (excess(outputs_[p]) > 0) wrapping_.push_back(p);
    }

    // The sample furthest outside the 16-bit range, and by how much (0
    // where none is). No move pushes a sample out (see addedError), so the
    // samples that wrap are among those that did at first.
    std::pair<std::size_t, std::int64_t> worstWrap() const {
        std::pair<std::size_t, std::int64_t> worst{0, 0};
        for (const std::size_t p : wrapping_)
            if (excess(outputs_[p]) > worst.second) worst = {p, excess(outputs_[p])};
        return worst;
    }

    // Of the moves that take sample `at` back towards the range, by
    // `excess` at most, and push no sample further out, the one that adds
    // least to the samples' squared error for what it takes back; none
    // where no value can move.
    std::optional<Move> cheapestMove(std::size_t at, std::int64_t excess) const {
        const int side = outputs_[at] >= high_ ? 1 : -1;
        std::optional<Move> best;
        double bestCost = HUGE_VAL;
        const std::size_t last = std::min(at, indices_.size() - 1);
        for (std::size_t i = at + 1 >= reach_ ? at + 1 - reach_ : 0; i <= last; ++i) {
            const auto& r = responses_[i % columns_];
            if (at - i >= r.size() || r[at - i] == 0) continue;
            const Move move{i, side * r[at - i] > 0 ? -1 : 1};
            const std::optional<double> added = fits(move) ? addedError(move) : std::nullopt;
            if (!added) continue;
            const double taken = std::min(double(std::abs(r[at - i])) * step_, double(excess));
            if (*added / taken < bestCost) {
                best = move;
                bestCost = *added / taken;
            }
        }
        return best;
    }

    void apply(const Move& move) {
        indices_[(move.at % columns_) * rows_ + move.at / columns_] += move.units;
        const auto& r = responses_[move.at % columns_];
        for (std::size_t j = 0; j < r.size() && move.at + j < outputs_.size(); ++j)
            outputs_[move.at + j] += std::int64_t{move.units} * step_ * r[j];
        addResponse(move.at, move.units * double(step_), errors_);
    }

  private:
    int index(std::size_t i) const { return indices_[(i % columns_) * rows_ + i / columns_]; }
    std::int64_t excess(std::int64_t v) const {
        return v >= high_ ? v - high_ + 1 : (v < low_ ? low_ - v : 0);
    }
    // Value i's response, `amount` times, onto `out`.
    void addResponse(std::size_t i, double amount, std::vector<double>& out) const {
        const auto& r = responses_[i % columns_];
        for (std::size_t j = 0; j < r.size() && i + j < out.size(); ++j)
            out[i + j] += amount * r[j];
    }
    // Whether the value moved stays an index of the amplitude range.
    bool fits(const Move& move) const {
        const int moved = index(move.at) + move.units;
        return moved >= -(-int16Lowest / step_) && moved <= int16Highest / step_;
    }
    // What the move adds to the squared error of the samples it reaches
    // (moves of neighbouring values add up, so it is counted there); none
    // where it pushes one of them further out of the range.
    std::optional<double> addedError(const Move& move) const {
        const auto& r = responses_[move.at % columns_];
        double added = 0.0;
        for (std::size_t j = 0; j < r.size() && move.at + j < outputs_.size(); ++j) {
            const std::int64_t v = outputs_[move.at + j];
            const std::int64_t shift = std::int64_t{move.units} * step_ * r[j];
            const std::int64_t after = excess(v + shift);
            if (after > 0 && after >= excess(v)) return std::nullopt;
            added += double(shift) * (2 * errors_[move.at + j] + double(shift));
        }
        return added;
    }

    const std::vector<std::vector<std::int32_t>>& responses_;
    std::size_t columns_;
    std::size_t rows_;
    std::span<int> indices_;
    std::uint16_t step_;
    std::int64_t high_;  // the lowest value past the range
    std::int64_t low_;   // the lowest value inside it
    std::size_t reach_ = 0;
    std::vector<std::int64_t>& outputs_;
    std::vector<double>& errors_;
    std::vector<std::size_t> wrapping_;  // the samples outside the range at first
};

}  // namespace

// For a block quantised in indices_ whose output wraps (transformWithoutWrap
// just failed on it), moves values under the wrapping samples one step each,
// towards the side that takes the sample back, the worst sample first and
// each time the value that adds the least error for what it takes back, and
// none that pushes another sample further out. A loud waveform with hard
// edges (a clipped sawtooth) overshoots full scale by its quantisation noise
// at a few samples per edge: taking level from the whole block instead held
// it near 30 dB at every finer quality, with more bits each time. False,
// indices_ half moved, where a few moves do not do it.
bool BlockCoder::easeWraps(std::span<const double> values, Quantised& q) {
    if (geometry_.levels == 0 || geometry_.levels > mostEasedLevels) return false;
    const auto& response = responses();
    gatherOutputs();
    WrapEasing easing(response, geometry_, indices_, q.step, values, outputs_, outputErrors_);
    for (std::size_t moves = 0;; ++moves) {
        const auto [worst, excess] = easing.worstWrap();
        if (excess == 0) break;
        if (moves == geometry_.blockSize / mostMovesShare) return false;
        const std::optional<Move> move = easing.cheapestMove(worst, excess);
        if (!move) return false;
        easing.apply(*move);
    }
    countCodes(q);
    q.error = -1.0;
    return transformWithoutWrap(q);
}

// The cheapest code of every column of indices_, their bits and the block's
// range exponent, into codes_ and `q`.
void BlockCoder::countCodes(Quantised& q) {
    const std::size_t rows = geometry_.rows;
    int lowest = 0;
    int highest = 0;
    q.bits = blockHeaderBits;
    for (std::size_t c = 0; c < geometry_.columns; ++c) {
        const std::span<const int> column(indices_.data() + c * rows, rows);
        const auto [low, high] = std::minmax_element(column.begin(), column.end());
        lowest = std::min(lowest, *low);
        highest = std::max(highest, *high);
        const ColumnChoice choice = cheapestColumnCode(column);
        codes_[c] = choice.code;
        q.bits += choice.bits;
    }
    q.exponent = rangeExponent(lowest, highest);
}

void BlockCoder::write(const Quantised& q, BitWriter& bits) {
    bits.write(q.exponent, 4);
    bits.write(q.step, 16);
    const std::size_t rows = geometry_.rows;
    for (std::size_t c = 0; c < geometry_.columns; ++c)
        encodeColumn(bits, codes_[c], std::span<const int>(indices_.data() + c * rows, rows));
}

// The weighted squared error of the block as quantise() left it in indices_.
double BlockCoder::distortion(std::span<const double> values, const Quantised& q) const {
    const std::size_t rows = geometry_.rows;
    const std::size_t columns = geometry_.columns;
    double sum = 0.0;
    for (std::size_t c = 0; c < columns; ++c) {
        double column = 0.0;
        for (std::size_t r = 0; r < rows; ++r) {
            const double e = values[r * columns + c] - double(indices_[c * rows + r]) * q.step;
            column += e * e;
        }
        sum += bandWeights_[c] * column;
    }
    return sum;
}

double BlockCoder::errorOf(std::span<const double> values, const Quantised& q) const {
    return q.error >= 0.0 ? q.error : distortion(values, q);
}

// The weighted squared error of the values rounded to multiples of `step`
// inside the 16-bit amplitude range: no more than that of any coding at the
// step, whose narrower codes only add to it, and found in one pass, so that
// steps that cannot give less noise are ruled out without quantising.
double BlockCoder::roundingError(std::span<const double> values, std::uint16_t step) const {
    const double lowest = -(-int16Lowest / step);
    const double highest = int16Highest / step;
    const std::size_t columns = geometry_.columns;
    double sum = 0.0;
    for (std::size_t c = 0; c < columns; ++c) {
        double column = 0.0;
        for (std::size_t i = c; i < values.size(); i += columns) {
            const double k = std::clamp(roundToInteger(values[i] / step), lowest, highest);
            const double e = values[i] - k * step;
            column += e * e;
        }
        sum += bandWeights_[c] * column;
    }
    return sum;
}

// Quantises the block; where it would wrap (quantisation noise pushes loud
// samples over), codes it again with a little less level or with finer
// steps (or, where allowed, with the values under the wrapping samples
// moved, or coarser steps of less noise), whichever costs less in
// distortion + lambda * bits, and failing all with ever finer steps
// and then ever less level, down to silence, which the previous block has
// made sure does not wrap. Leaves the transformed block in block_ and moves
// the carries on.
BlockCoder::Quantised BlockCoder::quantiseWithoutWrap(std::span<const double> values, double step) {
    const auto accept = [this](const Quantised& q) {
        carries_.swap(trialCarries_);
        return q;
    };
    Quantised q = quantise(values, step, 1.0);
    if (transformWithoutWrap(q)) return accept(q);
    const double lambda = bitCost_ * step * step;
    double bestCost = std::numeric_limits<double>::infinity();
    struct Trial {
        double step = 0.0;
        double scale = 0.0;
        bool eased = false;
    } best;
    // Eased values that keep the block within the noise its step promises
    // leave the other ways nothing to gain worth their trials.
    const double askedNoise = double(values.size()) * step * step / 12;
    Quantised eased;
    if (easedWraps_ && easeWraps(values, q)) {
        const double noise = distortion(values, q);
        if (noise <= askedNoise) return accept(q);
        bestCost = noise + lambda * double(q.bits);
        best = {step, 1.0, true};
        eased = q;
        putAside(trialCarries_);
    }
    const auto consider = [&](double trialStep, double scale, double mostNoise = HUGE_VAL) {
        const Quantised trial = quantise(values, trialStep, scale);
        if (!transformWithoutWrap(trial)) return false;
        const double noise = distortion(values, trial);
        const double cost = noise + lambda * double(trial.bits);
        if (cost < bestCost && noise <= mostNoise) {
            bestCost = cost;
            best = {trialStep, scale, false};
        }
        return true;
    };
    for (const double scale : {0.97, 0.94, 0.91})
        if (consider(step, scale)) break;
    // Finer steps a grid step at a time, so that a finer quality never ends
    // on a coarser step than a lower one did.
    const int gridIndex = gridIndexOf(step);
    for (int k = gridIndex - 1; k >= gridIndex - 4 * stepsPerOctave; --k) {
        const double finer = gridStep(k);
        if (finer >= step) continue;
        if (consider(finer, 1.0) || finer <= finestStep) break;
    }
    // Coarser steps too where allowed, but only with less noise than the
    // step asked for would give: near full scale a finer step may wrap where
    // a coarser one that reaches full scale does not, and less level or a
    // still finer step then cost a finer quality more noise than the one
    // below it had (a band-limited square: 32.0 dB, then 29.4 at more bits).
    for (int k = gridIndex + 1; coarserOnWrap_ && k <= gridIndex + 3; ++k)
        consider(gridStep(k), 1.0, askedNoise);
    if (bestCost < std::numeric_limits<double>::infinity()) {
        if (best.eased) {
            takeBack(trialCarries_);
            return accept(eased);
        }
        q = quantise(values, best.step, best.scale);
        transformWithoutWrap(q);
        return accept(q);
    }
    double trialStep = std::max(1.0, step / 32);
    double scale = 0.9;
    for (;;) {
        q = quantise(values, trialStep, scale);
        if (transformWithoutWrap(q) || scale == 0.0) return accept(q);
        if (trialStep > 1.0) {
            trialStep = std::max(1.0, trialStep / 2);
        } else {
            scale = scale > 0.5 ? scale - 0.02 : 0.0;
        }
    }
}

namespace {

// For a largest value in the loud half of the range, the steps whose first
// 1, 2, 4, ... multiples (up to `multiple`) reach `magnitude` as near as
// the 16-bit amplitude range lets them, onto `out`. A full-scale waveform
// on a coarse lattice (a square; its edges ramps of whole multiples of
// 8192) has no step of which its largest value is a whole multiple, since
// the range ends at 32767 on one side and -32768 on the other; these steps
// miss it by less than one unit a multiple and may give every value back
// within a few units. They are the same at every quality, a finer one
// trying more of them, so that it never settles on a noisier one: the
// nearest exact step alone gave a ramped square 72.8 dB at one quality and
// 60.3 dB at more bits three points finer. Such a file decoded (its
// plateaus a whole multiple short of full scale) finds its own step among
// them again.
void reachingSteps(double magnitude, long multiple, std::vector<double>& out) {
    if (magnitude < int16Highest / 2) return;
    for (long m = 1; m <= multiple; m *= 2) {
        const std::uint16_t reaching = stepReaching(magnitude / double(m), magnitude);
        if (reaching > 1) out.push_back(reaching);
    }
}

}  // namespace

// For a block with few coded columns (a steady level, a lone sample), the
// steps of which its largest value is a whole multiple, the nearest to
// `step` and the coarsest, and near full scale those that reach it (see
// reachingSteps), where one of them costs less in distortion + lambda *
// bits: such blocks then come back exactly, and they are cheap to quantise
// again.
double BlockCoder::exactStep(std::span<const double> values, double step) {
    // Columns with a value that rounds away from zero, counted without
    // quantising: most blocks have too many.
    const std::size_t rows = geometry_.rows;
    const std::size_t columns = geometry_.columns;
    std::size_t coded = 0;
    for (std::size_t c = 0; c < columns; ++c) {
        for (std::size_t r = 0; r < rows; ++r) {
            if (std::abs(values[r * columns + c]) >= step / 2) {
                ++coded;
                break;
            }
        }
    }
    if (coded > std::max<std::size_t>(1, columns / 4)) return step;
    const Quantised q = quantise(values, step, 1.0);
    const double magnitude = largestMagnitude(values);
    const long multiple = std::lround(magnitude / q.step);
    if (multiple < 1) return step;
    const auto exactFor = [magnitude](long m) {
        const double exact = m < 1 ? 0.0 : std::round(magnitude / double(m));
        const bool fits =
            exact >= 1 && exact <= largestStep && std::abs(exact * double(m) - magnitude) <= 0.5;
        return fits ? exact : 0.0;
    };
    double nearest = 0.0;
    for (long k = 0; nearest == 0.0 && k < 2 * multiple + 8; ++k)
        nearest = exactFor(k % 2 == 0 ? multiple + k / 2 : multiple - (k + 1) / 2);
    double coarsest = 0.0;
    for (long m = 1; coarsest == 0.0 && m <= multiple; ++m)
        coarsest = exactFor(m);
    std::vector<double> tried{nearest, coarsest};
    const std::size_t exactCandidates = tried.size();
    reachingSteps(magnitude, multiple, tried);
    const double lambda = bitCost_ * step * step;
    double best = step;
    const double asked = distortion(values, q);
    double bestCost = asked + lambda * double(q.bits);
    // A coarser exact step may save bits, but not add more noise than the
    // step asked for would: else a louder quality setting could give the
    // same block back, its detail lost.
    // The steps that only reach the largest value must give less noise than
    // the step asked for: they are there for blocks they give back all but
    // exactly, not to save bits on others (a full-scale sine lost 3 dB so).
    const double mostNoise = std::max(asked, double(values.size()) * step * step / 12);
    for (std::size_t i = 0; i < tried.size(); ++i) {
        const double exact = tried[i];
        if (exact == 0.0 || stepReaching(exact, magnitude) == q.step) continue;
        if (std::find(tried.begin(), tried.begin() + std::ptrdiff_t(i), exact) !=
            tried.begin() + std::ptrdiff_t(i))
            continue;
        const bool reaching = i >= exactCandidates;
        if (reaching && roundingError(values, stepReaching(exact, magnitude)) > asked) continue;
        const Quantised e = quantise(values, exact, 1.0);
        const double noise = distortion(values, e);
        const double cost = noise + lambda * double(e.bits);
        if (noise <= (reaching ? asked : mostNoise) && cost < bestCost) {
            best = exact;
            bestCost = cost;
        }
    }
    return best;
}

// A block coded much noisier than its step promises (values held by narrow
// column codes, or moved off the samples that would wrap) may have been
// coded better by a coarser step: its lone loud values (the edges of a
// clipped sawtooth) lie fewer steps out, and a code that holds them whole
// may cost no more. Where one of the next few coarser grid steps, the steps
// of the quality points below, coded as it stands or with its wraps eased,
// gives no more noise for no more bits, the block takes the least noisy of
// them: else a finer quality could code it with more bits and more noise
// than the point below. `before` holds the carries the block started from;
// `q` is the coding at `step`, whose indices, codes, block and carries are
// in place, and stay so where no coarser step does better.
BlockCoder::Quantised BlockCoder::undominated(std::span<const double> values, double step,
                                              const Quantised& q,
                                              const std::vector<std::uint32_t>& before) {
    const double noise = errorOf(values, q);
    if (noise <= noisierThanPromised * double(values.size()) * step * step / 12) return q;
    putAside(carries_);
    Quantised coarser;
    double bestStep = step;
    double bestNoise = noise;
    const double peak = largestMagnitude(values);
    const int gridIndex = gridIndexOf(step);
    for (int k = gridIndex + 1; k <= gridIndex + coarserStepsTried; ++k) {
        // Most blocks lose more by rounding alone at a coarser step: they
        // are not quantised again.
        if (roundingError(values, stepReaching(gridStep(k), peak)) > bestNoise) continue;
        carries_ = before;
        if (!quantiseEased(values, gridStep(k), coarser) || coarser.bits > q.bits) continue;
        const double coarserNoise = errorOf(values, coarser);
        if (coarserNoise <= bestNoise) {
            bestStep = gridStep(k);
            bestNoise = coarserNoise;
        }
    }
    carries_ = before;
    if (bestStep != step && quantiseEased(values, bestStep, coarser)) {
        carries_.swap(trialCarries_);
        return coarser;
    }
    takeBack(carries_);
    return q;
}

// The coding in indices_, codes_ and block_, with `carries`, put aside
// while others are tried, and taken back.
void BlockCoder::putAside(const std::vector<std::uint32_t>& carries) {
    kept_.indices = indices_;
    kept_.codes = codes_;
    kept_.block = block_;
    kept_.carries = carries;
}

void BlockCoder::takeBack(std::vector<std::uint32_t>& carries) {
    indices_.swap(kept_.indices);
    codes_.swap(kept_.codes);
    block_.swap(kept_.block);
    carries.swap(kept_.carries);
}

// Quantises the block at `step` into `q` and runs the transform on it from
// the present carries, with its wraps eased where it has any; false where
// it still wraps.
bool BlockCoder::quantiseEased(std::span<const double> values, double step, Quantised& q) {
    q = quantise(values, step, 1.0);
    return transformWithoutWrap(q) || easeWraps(values, q);
}

// Coarser steps while the block takes more than `mostBits`, so that no
// block costs more than the samples it carries would as 16-bit PCM.
// In a block that is mostly padding, the padding's bits are owed whatever
// the values: charged to the few values carried, they would have those
// given up (the end of a steady level, decoded as silence), so bits count
// for the share of the block carried only.
BlockCoder::Quantised BlockCoder::quantiseWithin(std::span<const double> values, double step,
                                                 std::uint64_t mostBits, std::size_t carried) {
    const std::vector<std::uint32_t> before = carries_;
    const double fullBitCost = bitCost_;
    if (carried < geometry_.blockSize)
        bitCost_ *= double(std::max<std::size_t>(1, carried)) / double(geometry_.blockSize);
    step = exactStep(values, step);
    Quantised q = quantiseWithoutWrap(values, step);
    if (easedWraps_) q = undominated(values, step, q, before);
    while (q.bits > mostBits && step < largestStep) {
        carries_ = before;
        step = std::min(largestStep, std::max(2.0, step * 2));
        q = quantiseWithoutWrap(values, step);
    }
    bitCost_ = fullBitCost;
    return q;
}

void BlockCoder::code(std::span<const double> values, double step, BitWriter& bits,
                      std::span<std::int16_t> decoded, std::uint64_t mostBits,
                      std::size_t carried) {
    const Quantised q = quantiseWithin(values, step, mostBits, carried);
    storeSamples(block_, geometry_.levels, decoded.data());
    write(q, bits);
}

// The indices and cheapest column codes of a block of values before the
// transform (row after row) into indices_ and codes_, and their bits in `q`;
// false where a value is no multiple of the step or leaves the 16-bit range.
bool BlockCoder::indexUnpacked(std::span<const std::int32_t> unpacked, std::uint16_t step,
                               Quantised& q) {
    if (step == 0 || unpacked.size() != geometry_.blockSize) return false;
    const std::size_t rows = geometry_.rows;
    const std::size_t columns = geometry_.columns;
    q = Quantised{};
    q.step = step;
    for (std::size_t c = 0; c < columns; ++c) {
        for (std::size_t r = 0; r < rows; ++r) {
            const auto index = tableIndex(unpacked[r * columns + c], step);
            if (!index) return false;
            indices_[c * rows + r] = *index;
        }
    }
    countCodes(q);
    return true;
}

bool BlockCoder::codeUnpacked(std::span<const std::int32_t> unpacked, std::uint16_t step,
                              std::span<const std::int16_t> wanted, BitWriter& bits,
                              std::span<std::int16_t> decoded) {
    Quantised q;
    if (!indexUnpacked(unpacked, step, q)) return false;
    const bool clean = transformWithoutWrap(q);
    storeSamples(block_, geometry_.levels, decoded.data());
    // The earlier stream's own wrapped samples are given back as they were.
    if (!clean && !std::equal(wanted.begin(), wanted.end(), decoded.begin())) return false;
    carries_.swap(trialCarries_);
    write(q, bits);
    return true;
}

// Samples of `wanted` where `kept` is set that the block in block_ decodes
// to exactly.
std::size_t BlockCoder::keptExactly(std::span<const std::int16_t> wanted,
                                    std::span<const std::uint8_t> kept,
                                    std::span<std::int16_t> decoded) const {
    storeSamples(block_, geometry_.levels, decoded.data());
    std::size_t exact = 0;
    for (std::size_t i = 0; i < wanted.size(); ++i)
        exact += kept[i] != 0 && decoded[i] == wanted[i] ? 1 : 0;
    return exact;
}

bool BlockCoder::codeLike(const LikeTarget& target, BitWriter& bits,
                          std::span<std::int16_t> decoded, std::uint64_t mostBits) {
    const std::span<const std::int16_t> wanted = target.wanted;
    struct Best {
        std::uint16_t step = 0;
        std::size_t exact = 0;
    } best;
    // Ties go to the earlier trial: the earlier values, which hand the next
    // block the earlier carries, before values that only give the samples.
    const auto consider = [&](std::uint16_t step, std::size_t exact) {
        if (exact > best.exact) {
            best = {step, exact};
            chosen_ = found_;
        }
    };
    for (const std::uint16_t step : target.steps) {
        Quantised q;
        // The reference rounded: the earlier values where they line up and
        // the analysis elsewhere, so that the rows after an edit take the
        // earlier ones again.
        if (target.earlierValues) {
            roundToSteps(target.reference, step, found_);
            if (indexUnpacked(found_, step, q) && q.bits <= mostBits && transformWithoutWrap(q))
                consider(step, keptExactly(wanted, target.kept, decoded));
        }
        // Found by the causal search: kept only where every sample comes out,
        // since past a sample it cannot reach it may drift away.
        if (search_.search(carries_, wanted, target.reference, step, found_) &&
            indexUnpacked(found_, step, q) && q.bits <= mostBits && transformWithoutWrap(q))
            consider(step, keptExactly(wanted, target.kept, decoded));
    }
    if (best.exact == 0) return false;
    Quantised q;
    indexUnpacked(chosen_, best.step, q);
    transformWithoutWrap(q);
    carries_.swap(trialCarries_);
    storeSamples(block_, geometry_.levels, decoded.data());
    write(q, bits);
    return true;
}

void BlockCoder::roundToSteps(std::span<const double> values, std::uint16_t step,
                              std::span<std::int32_t> out) const {
    const int lowest = -(-int16Lowest / step);
    const int highest = int16Highest / step;
    for (std::size_t i = 0; i < values.size(); ++i)
        out[i] =
            std::clamp(static_cast<int>(std::lround(values[i] / step)), lowest, highest) * step;
}

std::uint64_t BlockCoder::roundedBits(std::span<const double> values, double step) {
    return quantise(values, step, 1.0).bits;
}

std::uint64_t BlockCoder::bitsOf(std::span<const double> values, double step,
                                 std::uint64_t mostBits, std::size_t carried) {
    const std::vector<std::uint32_t> before = carries_;
    const std::uint64_t bits = codedBits(values, step, mostBits, carried);
    carries_ = before;
    return bits;
}

std::uint64_t BlockCoder::codedBits(std::span<const double> values, double step,
                                    std::uint64_t mostBits, std::size_t carried) {
    return quantiseWithin(values, step, mostBits, carried).bits;
}

}  // namespace talveco
