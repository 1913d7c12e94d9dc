// The transform's stages and the output narrowing on vectors of
// TALVECO_KERNEL_LANES 32-bit lanes. This file is compiled once per width,
// each time with the instruction set that width needs and into its own
// namespace; TransformKernels.cpp picks the widest the processor runs.
//
// Only compiler builtins and code of this file run here: an inline function
// from a shared header, compiled with wider instructions than the portable
// build, could be kept by the linker for every caller.
#include <cstring>
#include <utility>

#include "acm/TransformKernels.h"

#ifndef TALVECO_KERNEL_LANES
#define TALVECO_KERNEL_LANES 4
#define TALVECO_KERNEL_SET lanes4
#define TALVECO_KERNEL_NAME "bytes16"
#endif

namespace talveco::kernels {
namespace {

constexpr std::size_t lanes = TALVECO_KERNEL_LANES;
using Lanes = std::uint32_t __attribute__((vector_size(4 * lanes)));
using HalfLanes = std::uint16_t __attribute__((vector_size(2 * lanes)));
using Indices = std::make_index_sequence<lanes>;

Lanes load(const void* from) {
    Lanes lanesRead;
    std::memcpy(&lanesRead, from, sizeof lanesRead);
    return lanesRead;
}
void store(void* to, Lanes value) {
    std::memcpy(to, &value, sizeof value);
}

// Arithmetic wraps modulo 2^32, so it is done on unsigned values.
std::uint32_t wrapping(std::int32_t value) {
    return static_cast<std::uint32_t>(value);
}
std::int32_t signedValue(std::uint32_t value) {
    return static_cast<std::int32_t>(value);
}

// One step of a view column: the pair (x, y) becomes (a + 2b + x, 2x - b - y)
// and the carry (a, b) becomes (x, y).
void butterfly(std::int32_t& upper, std::int32_t& lower, std::uint32_t& a, std::uint32_t& b) {
    const std::uint32_t x = wrapping(upper);
    const std::uint32_t y = wrapping(lower);
    upper = signedValue(a + b + b + x);
    lower = signedValue(x + x - b - y);
    a = x;
    b = y;
}

void butterfly(std::int32_t* upper, std::int32_t* lower, Lanes& a, Lanes& b) {
    const Lanes x = load(upper);
    const Lanes y = load(lower);
    store(upper, a + b + b + x);
    store(lower, x + x - b - y);
    a = x;
    b = y;
}

// View column j from the top down, one value at a time.
void transformColumn(std::uint32_t* carries, std::size_t width, std::size_t height,
                     std::int32_t* values, std::size_t j) {
    std::uint32_t a = carries[j];
    std::uint32_t b = carries[width + j];
    for (std::size_t t = 0; t < height; t += 2)
        butterfly(values[t * width + j], values[(t + 1) * width + j], a, b);
    carries[j] = a;
    carries[width + j] = b;
}

// `groups` vectors of neighbouring view columns from j on, from the top
// down, with their carries in registers. Each view row of the group is one
// short contiguous piece.
template <std::size_t groups>
void transformColumnGroup(std::uint32_t* carries, std::size_t width, std::size_t height,
                          std::int32_t* values, std::size_t j) {
    Lanes a[groups];
    Lanes b[groups];
    for (std::size_t g = 0; g < groups; ++g) {
        a[g] = load(carries + j + g * lanes);
        b[g] = load(carries + width + j + g * lanes);
    }
    std::int32_t* upper = values + j;
    for (std::size_t t = 0; t < height; t += 2, upper += 2 * width) {
        for (std::size_t g = 0; g < groups; ++g)
            butterfly(upper + g * lanes, upper + width + g * lanes, a[g], b[g]);
    }
    for (std::size_t g = 0; g < groups; ++g) {
        store(carries + j + g * lanes, a[g]);
        store(carries + width + j + g * lanes, b[g]);
    }
}

void transformWide(std::uint32_t* carries, std::size_t width, std::size_t height,
                   std::int32_t* values) {
    constexpr std::size_t groupColumns = 4 * lanes;
    std::size_t j = 0;
    for (; j + groupColumns <= width; j += groupColumns)
        transformColumnGroup<4>(carries, width, height, values, j);
    for (; j + lanes <= width; j += lanes)
        transformColumnGroup<1>(carries, width, height, values, j);
    for (; j < width; ++j)
        transformColumn(carries, width, height, values, j);
}

// Stages narrower than a vector run along memory order instead. Value i
// becomes 2 * in[i - w] + (in[i - 2w] + in[i]) in upper view rows and
// 2 * in[i - w] - (in[i - 2w] + in[i]) in lower ones, where in[] holds the
// values before the stage and the carries stand for the two view rows before
// the first: laid out a then b, they are exactly in[-2w] to in[-1].

// The vector that starts `shift` values before `current`.
template <std::size_t shift, std::size_t... lane>
Lanes shiftedIn(Lanes previous, Lanes current, std::index_sequence<lane...>) {
    return __builtin_shufflevector(previous, current, (lanes + lane - shift)...);
}

// All ones in the lanes that fall into lower view rows of width w.
template <std::size_t w, std::size_t... lane>
constexpr Lanes lowerRowLanes(std::index_sequence<lane...>) {
    return Lanes{((lane / w) % 2 != 0 ? ~0u : 0u)...};
}

// Memory order, one value at a time; `recent` holds the last 2w inputs with
// in[i] at recent[i mod 2w] (the carries' layout when i is a multiple of 2w).
void transformFlatValues(std::uint32_t* recent, std::size_t w, std::int32_t* values,
                         std::size_t from, std::size_t to) {
    for (std::size_t i = from; i < to; ++i) {
        const std::uint32_t x = wrapping(values[i]);
        const std::size_t slot = i % (2 * w);
        const std::uint32_t twoUp = recent[slot];
        const std::uint32_t oneUp = recent[(slot + w) % (2 * w)];
        const std::uint32_t outer = twoUp + x;
        const bool lower = (i / w) % 2 != 0;
        values[i] = signedValue(oneUp + oneUp + (lower ? 0u - outer : outer));
        recent[slot] = x;
    }
}

// All ones in the lanes that start a view row of width w.
template <std::size_t w, std::size_t... lane>
constexpr Lanes rowStartLanes(std::index_sequence<lane...>) {
    return Lanes{(lane % w == 0 ? 1u : 0u)...};
}

// With `firstStage`, one is also added to the first value of every view row.
template <std::size_t w, bool firstStage>
void transformNarrow(std::uint32_t* carries, std::size_t height, std::int32_t* values) {
    static_assert(2 * w <= lanes);
    const std::size_t count = height * w;
    std::uint32_t tail[lanes] = {};
    std::memcpy(tail + lanes - 2 * w, carries, 2 * w * sizeof carries[0]);
    Lanes previous = load(tail);
    constexpr Lanes lower = lowerRowLanes<w>(Indices{});
    constexpr Lanes offset = firstStage ? rowStartLanes<w>(Indices{}) : Lanes{};
    std::size_t i = 0;
    for (; i + lanes <= count; i += lanes) {
        const Lanes current = load(values + i);
        const Lanes oneUp = shiftedIn<w>(previous, current, Indices{});
        const Lanes twoUp = shiftedIn<2 * w>(previous, current, Indices{});
        // (outer ^ lower) - lower is -outer in the lower rows, outer elsewhere.
        const Lanes outer = twoUp + current;
        store(values + i, oneUp + oneUp + ((outer ^ lower) - lower) + offset);
        previous = current;
    }
    // The last 2w inputs, in[i - 2w] to in[i - 1]: i is a multiple of 2w, so
    // they go back into the carries' layout as they stand, and a whole number
    // of row pairs later the values left over end there too.
    store(tail, previous);
    std::memcpy(carries, tail + lanes - 2 * w, 2 * w * sizeof carries[0]);
    transformFlatValues(carries, w, values, i, count);
    if constexpr (firstStage) {
        for (; i < count; i += w)
            values[i] = signedValue(wrapping(values[i]) + 1);
    }
}

// Runs a stage narrower than half a vector along memory order; false for
// the wider ones.
template <bool firstStage>
bool transformNarrowStage(std::uint32_t* carries, std::size_t width, std::size_t height,
                          std::int32_t* values) {
    switch (width) {
        case 1:
            transformNarrow<1, firstStage>(carries, height, values);
            return true;
        case 2:
            if constexpr (lanes >= 4) {
                transformNarrow<2, firstStage>(carries, height, values);
                return true;
            }
            return false;
        case 4:
            if constexpr (lanes >= 8) {
                transformNarrow<4, firstStage>(carries, height, values);
                return true;
            }
            return false;
        case 8:
            if constexpr (lanes >= 16) {
                transformNarrow<8, firstStage>(carries, height, values);
                return true;
            }
            return false;
        default:
            return false;
    }
}

// After the first stage, one is added to the first value of every one of its
// view rows.
void addFirstStageOffset(std::int32_t* values, std::size_t width, std::size_t height) {
    for (std::size_t t = 0; t < height; ++t)
        values[t * width] = signedValue(wrapping(values[t * width]) + 1);
}

// One stage, along memory order when it is narrower than half a vector and
// down the view columns otherwise. With `firstStage`, the +1 adjustment too.
template <bool firstStage>
void transformOneStage(std::uint32_t* carries, std::size_t width, std::size_t height,
                       std::int32_t* values) {
    if (transformNarrowStage<firstStage>(carries, width, height, values)) return;
    transformWide(carries, width, height, values);
    if (firstStage) addFirstStageOffset(values, width, height);
}

void transformStage(std::uint32_t* carries, std::size_t width, std::size_t height,
                    std::int32_t* values) {
    if (height > 0) transformOneStage<false>(carries, width, height, values);
}

// Two stages in one walk down the view columns: stage k over width 2 * half
// and stage k + 1 over width half. Stage k + 1's view column j runs through
// stage k's columns j and j + half, one value of each per stage-k view row,
// so `groups` vectors of it from j on take the stage-k columns they need
// into registers row pair by row pair, and each value is loaded and stored
// once for both stages. With `firstStage`, stage k is stage 1 and one is
// added to its first column between the two.
template <std::size_t groups, bool firstStage>
void transformTwoStagesGroup(std::uint32_t* carries, std::uint32_t* nextCarries, std::size_t half,
                             std::size_t height, std::int32_t* values, std::size_t j) {
    const std::size_t width = 2 * half;
    Lanes leftA[groups], leftB[groups], rightA[groups], rightB[groups], a[groups], b[groups];
    Lanes offset[groups] = {};
    for (std::size_t g = 0; g < groups; ++g) {
        const std::size_t column = j + g * lanes;
        leftA[g] = load(carries + column);
        leftB[g] = load(carries + width + column);
        rightA[g] = load(carries + half + column);
        rightB[g] = load(carries + width + half + column);
        a[g] = load(nextCarries + column);
        b[g] = load(nextCarries + half + column);
        if (firstStage && column == 0) offset[g][0] = 1;
    }
    std::int32_t* upper = values + j;
    for (std::size_t t = 0; t < height; t += 2, upper += 2 * width) {
        for (std::size_t g = 0; g < groups; ++g) {
            std::int32_t* left = upper + g * lanes;
            std::int32_t* right = left + half;
            const Lanes x = load(left);
            const Lanes y = load(left + width);
            const Lanes u = load(right);
            const Lanes v = load(right + width);
            // Stage k on both columns, then stage k + 1 on its two pairs.
            const Lanes upperLeft = leftA[g] + leftB[g] + leftB[g] + x + offset[g];
            const Lanes lowerLeft = x + x - leftB[g] - y + offset[g];
            const Lanes upperRight = rightA[g] + rightB[g] + rightB[g] + u;
            const Lanes lowerRight = u + u - rightB[g] - v;
            leftA[g] = x;
            leftB[g] = y;
            rightA[g] = u;
            rightB[g] = v;
            store(left, a[g] + b[g] + b[g] + upperLeft);
            store(right, upperLeft + upperLeft - b[g] - upperRight);
            store(left + width, upperLeft + upperRight + upperRight + lowerLeft);
            store(right + width, lowerLeft + lowerLeft - upperRight - lowerRight);
            a[g] = lowerLeft;
            b[g] = lowerRight;
        }
    }
    for (std::size_t g = 0; g < groups; ++g) {
        const std::size_t column = j + g * lanes;
        store(carries + column, leftA[g]);
        store(carries + width + column, leftB[g]);
        store(carries + half + column, rightA[g]);
        store(carries + width + half + column, rightB[g]);
        store(nextCarries + column, a[g]);
        store(nextCarries + half + column, b[g]);
    }
}

// Stages k and k + 1 over `height` view rows of stage k, whose width is
// 2 * half; half is a multiple of the vector length. Column groups take up
// to maxGroups vectors.
template <bool firstStage, std::size_t maxGroups = 2>
void transformTwoStages(std::uint32_t* carries, std::size_t half, std::size_t height,
                        std::int32_t* values) {
    std::uint32_t* nextCarries = carries + 4 * half;
    std::size_t j = 0;
    if constexpr (maxGroups >= 2) {
        for (; j + 2 * lanes <= half; j += 2 * lanes)
            transformTwoStagesGroup<2, firstStage>(carries, nextCarries, half, height, values, j);
    }
    for (; j < half; j += lanes)
        transformTwoStagesGroup<1, firstStage>(carries, nextCarries, half, height, values, j);
}

// Whether stages over `width` and width / 2 run as one walk. Wider stages
// run one at a time: their four rows and six carry arrays per walk lie
// multiples of 4 KiB apart and contend for the same cache sets (measured:
// fused, 13 to 15 levels ran up to 25 % slower; up to 1024, 6 to 11 levels
// ran up to 20 % faster).
bool fuseStages(std::size_t width) {
    return width / 2 >= lanes && width <= 1024;
}

// Stage k alone, or with `twoStages` stages k and k + 1 in one walk (column
// groups of up to maxGroups vectors), over `height` view rows of `width`
// values; afterwards width, height and carries are those of the stage that
// follows them.
template <bool firstStage, std::size_t maxGroups>
void runStages(bool twoStages, std::size_t& width, std::size_t& height, std::int32_t* values,
               std::uint32_t*& carries) {
    if (twoStages) {
        transformTwoStages<firstStage, maxGroups>(carries, width / 2, height, values);
        carries += 3 * width;
        width /= 4;
        height *= 4;
    } else {
        transformOneStage<firstStage>(carries, width, height, values);
        carries += 2 * width;
        width /= 2;
        height *= 2;
    }
}

// Stages that start with view rows of `width` values, `height` of them, to
// the last, two at a time where fuseStages allows. With `firstStage`, the
// first of them is stage 1.
template <bool firstStage>
void transformStages(std::size_t width, std::size_t height, std::int32_t* values,
                     std::uint32_t* carries) {
    runStages<firstStage, 2>(fuseStages(width), width, height, values, carries);
    if (width > 0) transformStages<false>(width, height, values, carries);
}

// View rows of stages this wide and narrower are taken in chunks of
// chunkValues, each through all the stages left before the next, so that a
// chunk stays in the first-level cache; the wider stages of the widest
// geometries run over the whole pass first.
constexpr std::size_t chunkWidth = 1024;
constexpr std::size_t chunkValues = 8192;

// The stages wider than chunkWidth, over the whole pass: stages 1 and 2
// in one walk where both are that wide, the others one at a time. Their
// view rows lie multiples of 4 KiB apart, so what a walk down a column
// group touches shares sets of the first-level cache; with one vector per
// column group the lines of a walk of two stages still fit them (measured
// at 13 to 15 levels: 5 to 20 % faster than a stage at a time; two
// vectors, or stages 3 and 4 in one walk too, were slower).
void transformWideStages(std::size_t& width, std::size_t& height, std::int32_t* values,
                         std::uint32_t*& carries) {
    runStages<true, 1>(width / 2 > chunkWidth, width, height, values, carries);
    while (width > chunkWidth)
        runStages<false, 1>(false, width, height, values, carries);
}

void transformStripe(unsigned levels, std::size_t rows, std::int32_t* values,
                     std::uint32_t* carries) {
    std::size_t width = (std::size_t{1} << levels) / 2;
    std::size_t height = 2 * rows;
    if (width > chunkWidth) {
        transformWideStages(width, height, values, carries);
        // A whole number of row pairs per chunk: chunkValues / width >= 8.
        const std::size_t chunkRows = chunkValues / width;
        for (std::size_t row = 0; row < height; row += chunkRows) {
            const std::size_t rowsNow = height - row < chunkRows ? height - row : chunkRows;
            transformStages<false>(width, rowsNow, values + row * width, carries);
        }
        return;
    }
    transformStages<true>(width, height, values, carries);
}

// The low half of each shifted value is the sample; on a little-endian
// machine the narrowed lanes are its bytes in the order wanted.
void narrowSamples(const std::int32_t* values, std::size_t count, unsigned levels,
                   std::uint8_t* out) {
    std::size_t i = 0;
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    for (; i + lanes <= count; i += lanes) {
        const HalfLanes samples = __builtin_convertvector(load(values + i) >> levels, HalfLanes);
        std::memcpy(out + 2 * i, &samples, sizeof samples);
    }
#endif
    for (; i < count; ++i) {
        const std::uint32_t bits = wrapping(values[i]) >> levels;
        out[2 * i] = static_cast<std::uint8_t>(bits & 0xFF);
        out[2 * i + 1] = static_cast<std::uint8_t>((bits >> 8) & 0xFF);
    }
}

}  // namespace

extern const TransformKernels TALVECO_KERNEL_SET;
const TransformKernels TALVECO_KERNEL_SET = {TALVECO_KERNEL_NAME, transformStage, transformStripe,
                                             narrowSamples};

}  // namespace talveco::kernels
