// The multi-level inverse transform that turns an unpacked block into sample
// values. Internal to the decoder; exposed for its tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "acm/AcmDecoder.h"

namespace talveco {

// Stage 1 over one stripe seen as `height` rows of `width` values: each block
// row is two view rows, its left and its right half. `carries` holds one slot
// per view column with the carry pair as two 16-bit halves (a low, b high).
void transformFirstStage(std::span<std::uint32_t> carries, std::size_t width, std::size_t height,
                         std::span<std::int32_t> stripe);

// A later stage over one stripe seen as `height` rows of `width` values.
// `carries` holds two 32-bit slots (a, then b) per view column.
void transformStage(std::span<std::uint32_t> carries, std::size_t width, std::size_t height,
                    std::span<std::int32_t> stripe);

// Transforms the first geometry.blockSize values of `blockBuffer` in place,
// stripe by stripe, with the carries of every stage kept in `wrapBuffer`
// (geometry.carryCount slots) from one stripe and one block to the next.
void inverseTransform(const BlockGeometry& geometry, std::span<std::int32_t> blockBuffer,
                      std::span<std::uint32_t> wrapBuffer);

}  // namespace talveco
