// The inverse transform written as plainly as possible, one view column and
// one row pair at a time, as the reference the decoder's transform is
// compared with.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "acm/AcmDecoder.h"

namespace talveco::reference {

void transformFirstStage(std::span<std::uint32_t> carries, std::size_t width, std::size_t height,
                         std::span<std::int32_t> stripe);
void transformStage(std::span<std::uint32_t> carries, std::size_t width, std::size_t height,
                    std::span<std::int32_t> stripe);
void inverseTransform(const BlockGeometry& geometry, std::span<std::int32_t> blockBuffer,
                      std::span<std::uint32_t> wrapBuffer);

}  // namespace talveco::reference
