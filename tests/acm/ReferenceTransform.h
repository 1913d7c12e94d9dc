// The inverse transform written as plainly as possible, one view column and
// one row pair at a time, as the reference the decoder's transform is
// compared with.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "acm/AcmDecoder.h"
#include "acm/InverseTransform.h"

namespace talveco::reference {

void transformFirstStage(std::span<std::uint32_t> carries, std::size_t width, std::size_t height,
                         std::span<std::int32_t> stripe);
void transformStage(std::span<std::uint32_t> carries, std::size_t width, std::size_t height,
                    std::span<std::int32_t> stripe);
void inverseTransform(const BlockGeometry& geometry, std::span<std::int32_t> blockBuffer,
                      std::span<std::uint32_t> wrapBuffer);

// The carry pair of a view column of a stage (from 1) in the reference's
// layout: stage 1 keeps a and b as 16-bit halves of one slot per column, the
// later stages two slots per column, stage after stage.
StageCarry stageCarry(const BlockGeometry& geometry, std::span<const std::uint32_t> wrapBuffer,
                      unsigned stage, std::size_t column);

}  // namespace talveco::reference
