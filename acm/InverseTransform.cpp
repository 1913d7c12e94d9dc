#include "acm/InverseTransform.h"

#include <algorithm>
#include <cassert>

namespace talveco {

std::size_t stageCarryStart(const BlockGeometry& geometry, unsigned stage) {
    // Stages 1 to k - 1 take 2 * (columns / 2 + ... + columns / 2^(k-1)) slots.
    return 2 * geometry.columns - 4 * (geometry.columns >> stage);
}

StageCarry stageCarry(const BlockGeometry& geometry, std::span<const std::uint32_t> carries,
                      unsigned stage, std::size_t column) {
    const std::size_t width = geometry.columns >> stage;
    const auto region = carries.subspan(stageCarryStart(geometry, stage), 2 * width);
    return {static_cast<std::int32_t>(region[column]),
            static_cast<std::int32_t>(region[width + column])};
}

void transformStage(std::span<std::uint32_t> carries, std::size_t width, std::size_t height,
                    std::span<std::int32_t> stripe) {
    assert(carries.size() >= 2 * width && stripe.size() >= width * height);
    bestKernels().stage(carries.data(), width, height, stripe.data());
}

void transformFirstStage(std::span<std::uint32_t> carries, std::size_t width, std::size_t height,
                         std::span<std::int32_t> stripe) {
    transformStage(carries, width, height, stripe);
}

void inverseTransform(const BlockGeometry& geometry, std::span<std::int32_t> blockBuffer,
                      std::span<std::uint32_t> wrapBuffer) {
    inverseTransform(geometry, blockBuffer, wrapBuffer, bestKernels());
}

void inverseTransform(const BlockGeometry& geometry, std::span<std::int32_t> blockBuffer,
                      std::span<std::uint32_t> wrapBuffer, const TransformKernels& kernels) {
    if (geometry.levels == 0) return;
    assert(blockBuffer.size() >= geometry.blockSize);
    assert(wrapBuffer.size() >= geometry.carryCount);
    for (std::size_t row = 0; row < geometry.rows; row += geometry.stripeRows) {
        const std::size_t stripeRows = std::min(geometry.stripeRows, geometry.rows - row);
        kernels.stripe(geometry.levels, stripeRows, blockBuffer.data() + row * geometry.columns,
                       wrapBuffer.data());
    }
}

}  // namespace talveco
