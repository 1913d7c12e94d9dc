#include "acm/InverseTransform.h"

#include <algorithm>
#include <cassert>
#include <cstring>

namespace talveco {
namespace {

// Arithmetic is modulo 2^32: the values wrap without a check, so it is done
// on unsigned numbers throughout.
std::uint32_t wrapping(std::int32_t value) {
    return static_cast<std::uint32_t>(value);
}
std::int32_t signedValue(std::uint32_t value) {
    return static_cast<std::int32_t>(value);
}

std::uint32_t signExtend16(std::uint32_t value) {
    return wrapping(static_cast<std::int16_t>(static_cast<std::uint16_t>(value)));
}

// Four neighbouring values at once. The compiler maps this onto the vector
// registers every x86-64 machine has (and onto plain code elsewhere).
using Lanes = std::uint32_t __attribute__((vector_size(16)));
using SignedLanes = std::int32_t __attribute__((vector_size(16)));
constexpr std::size_t laneCount = 4;

Lanes loadLanes(const void* from) {
    Lanes lanes;
    std::memcpy(&lanes, from, sizeof lanes);
    return lanes;
}
void storeLanes(void* to, Lanes lanes) {
    std::memcpy(to, &lanes, sizeof lanes);
}

// The pair of values that the butterfly carries from one row pair to the
// next: the pair before it, as it was before it was overwritten.
struct Carry {
    std::uint32_t a;
    std::uint32_t b;
};
struct LaneCarry {
    Lanes a;
    Lanes b;
};

// Stage 1 keeps a view column's carry in one slot, a in the low half and b
// in the high half. Its inputs are amplitudes in the 16-bit range, so the
// halves keep them whole.
struct PackedCarries {
    std::uint32_t* slots;

    Carry load(std::size_t j) const {
        return {signExtend16(slots[j]), signExtend16(slots[j] >> 16)};
    }
    void store(std::size_t j, Carry carry) const {
        slots[j] = (carry.a & 0xFFFFu) | (carry.b << 16);
    }
    LaneCarry loadLanes(std::size_t j) const {
        const Lanes packed = talveco::loadLanes(slots + j);
        return {reinterpret_cast<Lanes>(reinterpret_cast<SignedLanes>(packed << 16) >> 16),
                reinterpret_cast<Lanes>(reinterpret_cast<SignedLanes>(packed) >> 16)};
    }
    void storeLanes(std::size_t j, LaneCarry carry) const {
        talveco::storeLanes(slots + j, (carry.a & 0xFFFFu) | (carry.b << 16));
    }
};

// The later stages keep a view column's carry in two slots, a then b.
struct PairCarries {
    std::uint32_t* slots;

    Carry load(std::size_t j) const { return {slots[2 * j], slots[2 * j + 1]}; }
    void store(std::size_t j, Carry carry) const {
        slots[2 * j] = carry.a;
        slots[2 * j + 1] = carry.b;
    }
    LaneCarry loadLanes(std::size_t j) const {
        const Lanes first = talveco::loadLanes(slots + 2 * j);
        const Lanes second = talveco::loadLanes(slots + 2 * j + laneCount);
        return {__builtin_shufflevector(first, second, 0, 2, 4, 6),
                __builtin_shufflevector(first, second, 1, 3, 5, 7)};
    }
    void storeLanes(std::size_t j, LaneCarry carry) const {
        talveco::storeLanes(slots + 2 * j, __builtin_shufflevector(carry.a, carry.b, 0, 4, 1, 5));
        talveco::storeLanes(slots + 2 * j + laneCount,
                            __builtin_shufflevector(carry.a, carry.b, 2, 6, 3, 7));
    }
};

// One step of view column j: the pair (x, y) becomes (a + 2b + x, 2x - b - y).
void butterfly(std::int32_t& upper, std::int32_t& lower, Carry& carry) {
    const std::uint32_t x = wrapping(upper);
    const std::uint32_t y = wrapping(lower);
    upper = signedValue(carry.a + carry.b + carry.b + x);
    lower = signedValue(x + x - carry.b - y);
    carry = {x, y};
}

void butterfly(std::int32_t* upper, std::int32_t* lower, LaneCarry& carry) {
    const Lanes x = loadLanes(upper);
    const Lanes y = loadLanes(lower);
    storeLanes(upper, carry.a + carry.b + carry.b + x);
    storeLanes(lower, x + x - carry.b - y);
    carry = {x, y};
}

// View column j from the top down.
template <typename Carries>
void transformColumn(Carries carries, std::size_t width, std::size_t height, std::int32_t* stripe,
                     std::size_t j) {
    Carry carry = carries.load(j);
    for (std::size_t t = 0; t < height; t += 2) {
        butterfly(stripe[t * width + j], stripe[(t + 1) * width + j], carry);
    }
    carries.store(j, carry);
}

// `groups` x 4 neighbouring view columns from j on, from the top down. Each
// row of the group is one short contiguous piece, so wide stripes are walked
// in cache-line-sized pieces, with the carries held in registers.
template <std::size_t groups, typename Carries>
void transformColumnGroup(Carries carries, std::size_t width, std::size_t height,
                          std::int32_t* stripe, std::size_t j) {
    LaneCarry carry[groups];
    for (std::size_t g = 0; g < groups; ++g)
        carry[g] = carries.loadLanes(j + g * laneCount);
    std::int32_t* upper = stripe + j;
    for (std::size_t t = 0; t < height; t += 2, upper += 2 * width) {
        for (std::size_t g = 0; g < groups; ++g)
            butterfly(upper + g * laneCount, upper + width + g * laneCount, carry[g]);
    }
    for (std::size_t g = 0; g < groups; ++g)
        carries.storeLanes(j + g * laneCount, carry[g]);
}

template <typename Carries>
void transformWide(Carries carries, std::size_t width, std::size_t height, std::int32_t* stripe) {
    constexpr std::size_t groupColumns = 4 * laneCount;
    std::size_t j = 0;
    for (; j + groupColumns <= width; j += groupColumns)
        transformColumnGroup<4>(carries, width, height, stripe, j);
    for (; j + laneCount <= width; j += laneCount)
        transformColumnGroup<1>(carries, width, height, stripe, j);
    for (; j < width; ++j)
        transformColumn(carries, width, height, stripe, j);
}

// The flat form of a step: value i of the stripe becomes 2 * in[i - width] +
// (in[i - 2 * width] + in[i]) in upper rows and 2 * in[i - width] -
// (in[i - 2 * width] + in[i]) in lower rows, where in[] are the values
// before the stage and the carries stand in for the rows above the stripe.
// For narrow stripes this keeps whole vectors busy along the column.
Lanes upperLowerStep(Lanes twoRowsUp, Lanes oneRowUp, Lanes current, Lanes upperRows) {
    const Lanes outer = twoRowsUp + current;
    const Lanes inner = oneRowUp + oneRowUp;
    // upperRows is all ones in the lanes of upper rows, zero elsewhere.
    return inner + ((outer & upperRows) - (outer & ~upperRows));
}

// Width 2: one vector holds a whole row pair (x0, x1, y0, y1).
template <typename Carries>
void transformWidth2(Carries carries, std::size_t height, std::int32_t* stripe) {
    const Carry first = carries.load(0);
    const Carry second = carries.load(1);
    Lanes previous = {first.a, second.a, first.b, second.b};
    const Lanes upperRows = {~0u, ~0u, 0, 0};
    for (std::size_t t = 0; t < height; t += 2, stripe += 4) {
        const Lanes current = loadLanes(stripe);
        const Lanes oneRowUp = __builtin_shufflevector(previous, current, 2, 3, 4, 5);
        storeLanes(stripe, upperLowerStep(previous, oneRowUp, current, upperRows));
        previous = current;
    }
    carries.store(0, {previous[0], previous[2]});
    carries.store(1, {previous[1], previous[3]});
}

// Width 1: one vector holds two row pairs (x, y, x', y').
template <typename Carries>
void transformWidth1(Carries carries, std::size_t height, std::int32_t* stripe) {
    const Carry carry = carries.load(0);
    Lanes previous = {0, 0, carry.a, carry.b};
    const Lanes upperRows = {~0u, 0, ~0u, 0};
    std::size_t t = 0;
    for (; t + 4 <= height; t += 4, stripe += 4) {
        const Lanes current = loadLanes(stripe);
        const Lanes twoRowsUp = __builtin_shufflevector(previous, current, 2, 3, 4, 5);
        const Lanes oneRowUp = __builtin_shufflevector(previous, current, 3, 4, 5, 6);
        storeLanes(stripe, upperLowerStep(twoRowsUp, oneRowUp, current, upperRows));
        previous = current;
    }
    Carry last{previous[2], previous[3]};
    if (t < height) butterfly(stripe[0], stripe[1], last);
    carries.store(0, last);
}

template <typename Carries>
void transformStripeStage(Carries carries, std::size_t width, std::size_t height,
                          std::int32_t* stripe) {
    if (height == 0) return;
    if (width == 1) {
        transformWidth1(carries, height, stripe);
    } else if (width == 2) {
        transformWidth2(carries, height, stripe);
    } else {
        transformWide(carries, width, height, stripe);
    }
}

// Stage 1 adds one to the first value of every view row: column 0 and column
// columns/2 of each block row.
void addFirstStageOffset(std::span<std::int32_t> stripe, std::size_t width, std::size_t height) {
    for (std::size_t t = 0; t < height; ++t) {
        stripe[t * width] = signedValue(wrapping(stripe[t * width]) + 1);
    }
}

// All stages over one stripe of `stripeRows` block rows. The carry regions of
// the stages follow one another in `wrapBuffer`.
void transformStripe(const BlockGeometry& geometry, std::span<std::int32_t> stripe,
                     std::size_t stripeRows, std::span<std::uint32_t> wrapBuffer) {
    std::size_t width = geometry.columns / 2;
    std::size_t height = 2 * stripeRows;
    transformFirstStage(wrapBuffer.first(width), width, height, stripe);
    addFirstStageOffset(stripe, width, height);
    std::size_t carryStart = width;
    for (width /= 2, height *= 2; width > 0; width /= 2, height *= 2) {
        transformStage(wrapBuffer.subspan(carryStart, 2 * width), width, height, stripe);
        carryStart += 2 * width;
    }
}

}  // namespace

void transformFirstStage(std::span<std::uint32_t> carries, std::size_t width, std::size_t height,
                         std::span<std::int32_t> stripe) {
    assert(carries.size() >= width && stripe.size() >= width * height);
    transformStripeStage(PackedCarries{carries.data()}, width, height, stripe.data());
}

void transformStage(std::span<std::uint32_t> carries, std::size_t width, std::size_t height,
                    std::span<std::int32_t> stripe) {
    assert(carries.size() >= 2 * width && stripe.size() >= width * height);
    transformStripeStage(PairCarries{carries.data()}, width, height, stripe.data());
}

void inverseTransform(const BlockGeometry& geometry, std::span<std::int32_t> blockBuffer,
                      std::span<std::uint32_t> wrapBuffer) {
    if (geometry.levels == 0) return;
    assert(blockBuffer.size() >= geometry.blockSize);
    assert(wrapBuffer.size() >= geometry.carryCount);
    for (std::size_t row = 0; row < geometry.rows; row += geometry.stripeRows) {
        const std::size_t stripeRows = std::min(geometry.stripeRows, geometry.rows - row);
        const auto stripe =
            blockBuffer.subspan(row * geometry.columns, stripeRows * geometry.columns);
        transformStripe(geometry, stripe, stripeRows, wrapBuffer);
    }
}

}  // namespace talveco
