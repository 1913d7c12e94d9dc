#include "tests/acm/ReferenceTransform.h"

#include <algorithm>
#include <cassert>

namespace talveco::reference {
namespace {

// The pair of values that the butterfly carries from one row pair to the
// next. Arithmetic is modulo 2^32: the values wrap without a check.
struct Carry {
    std::uint32_t a;
    std::uint32_t b;
};

std::uint32_t wrapping(std::int32_t value) {
    return static_cast<std::uint32_t>(value);
}
std::int32_t signedValue(std::uint32_t value) {
    return static_cast<std::int32_t>(value);
}

std::uint32_t signExtend16(std::uint32_t value) {
    return wrapping(static_cast<std::int16_t>(static_cast<std::uint16_t>(value)));
}

// Runs down view column j pair by pair. Each pair (x, y) becomes
// (a + 2b + x, 2x - b - y), and the pair as it was becomes the next carry.
void butterflyColumn(std::span<std::int32_t> stripe, std::size_t width, std::size_t height,
                     std::size_t j, Carry& carry) {
    for (std::size_t t = 0; t < height; t += 2) {
        std::int32_t& upper = stripe[t * width + j];
        std::int32_t& lower = stripe[(t + 1) * width + j];
        const std::uint32_t x = wrapping(upper);
        const std::uint32_t y = wrapping(lower);
        upper = signedValue(carry.a + carry.b + carry.b + x);
        lower = signedValue(x + x - carry.b - y);
        carry = {x, y};
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
    for (std::size_t j = 0; j < width; ++j) {
        // Stage-1 carries are stage-1 inputs, amplitudes in the 16-bit range,
        // so their low halves keep them whole.
        Carry carry{signExtend16(carries[j]), signExtend16(carries[j] >> 16)};
        butterflyColumn(stripe, width, height, j, carry);
        carries[j] = (carry.a & 0xFFFFu) | (carry.b << 16);
    }
}

void transformStage(std::span<std::uint32_t> carries, std::size_t width, std::size_t height,
                    std::span<std::int32_t> stripe) {
    for (std::size_t j = 0; j < width; ++j) {
        Carry carry{carries[2 * j], carries[2 * j + 1]};
        butterflyColumn(stripe, width, height, j, carry);
        carries[2 * j] = carry.a;
        carries[2 * j + 1] = carry.b;
    }
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

StageCarry stageCarry(const BlockGeometry& geometry, std::span<const std::uint32_t> wrapBuffer,
                      unsigned stage, std::size_t column) {
    if (stage == 1) {
        const std::uint32_t slot = wrapBuffer[column];
        return {signedValue(signExtend16(slot)), signedValue(signExtend16(slot >> 16))};
    }
    const std::size_t start = 3 * geometry.columns / 2 - 4 * (geometry.columns >> stage);
    return {signedValue(wrapBuffer[start + 2 * column]),
            signedValue(wrapBuffer[start + 2 * column + 1])};
}

}  // namespace talveco::reference
