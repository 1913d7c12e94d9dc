// The multi-level inverse transform that turns an unpacked block into sample
// values. Internal to the decoder; exposed for its tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "acm/AcmDecoder.h"
#include "acm/TransformKernels.h"

namespace talveco {

// The carry slots of the stages follow one another in stage order. Stage k
// has 2 * columns / 2^k slots: the a values of its view columns, then their b
// values. Stage 1 keeps its carries at full width like the others.
std::size_t stageCarryStart(const BlockGeometry& geometry, unsigned stage);

// The carry pair (a, b) of view column `column` of stage `stage` (from 1).
struct StageCarry {
    std::int32_t a;
    std::int32_t b;
    bool operator==(const StageCarry&) const = default;
};
StageCarry stageCarry(const BlockGeometry& geometry, std::span<const std::uint32_t> carries,
                      unsigned stage, std::size_t column);

// One stage over `height` view rows of `width` values: every view column's
// pairs from the top down, from the carries that `carries` holds for it (2 *
// width slots, a values then b values). The first stage is the same
// operation; the +1 adjustment after it is inverseTransform's.
void transformStage(std::span<std::uint32_t> carries, std::size_t width, std::size_t height,
                    std::span<std::int32_t> stripe);
void transformFirstStage(std::span<std::uint32_t> carries, std::size_t width, std::size_t height,
                         std::span<std::int32_t> stripe);

// Transforms the first geometry.blockSize values of `blockBuffer` in place,
// with the carries of every stage kept in `wrapBuffer` (geometry.carryCount
// slots) from one pass and one block to the next. The kernels default to the
// fastest this processor runs.
void inverseTransform(const BlockGeometry& geometry, std::span<std::int32_t> blockBuffer,
                      std::span<std::uint32_t> wrapBuffer);
void inverseTransform(const BlockGeometry& geometry, std::span<std::int32_t> blockBuffer,
                      std::span<std::uint32_t> wrapBuffer, const TransformKernels& kernels);

}  // namespace talveco
