// Block values chosen sample by sample so that the decoder turns them into
// given samples. Every stage of the decoder's transform makes the value at
// a position from the values at that position and before it, with a weight
// of +1 or -1 on its own; the whole transform is therefore causal in time
// order with a diagonal of +-1, and one pass in that order can settle each
// value from those before it and the samples wanted there.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "acm/AcmDecoder.h"

namespace talveco {

class CausalSearch {
  public:
    explicit CausalSearch(const BlockGeometry& geometry);

    // Fills `values` (blockSize, row after row) with multiples of `step`
    // inside the 16-bit range for which the transform, from `carries`,
    // decodes to `wanted` (at most blockSize samples; the rest of the block
    // is free). Where several multiples decode to a wanted sample the one
    // nearest `reference` (blockSize values, or empty for zero) is taken;
    // where none does, the one nearest to it, and the later values make up
    // for the error as far as they can. Returns how many of `wanted` come out
    // exactly.
    std::size_t search(std::span<const std::uint32_t> carries, std::span<const std::int16_t> wanted,
                       std::span<const double> reference, std::uint16_t step,
                       std::span<std::int32_t> values);

  private:
    void loadCarries(std::span<const std::uint32_t> carries);
    std::uint32_t synthesise(std::size_t position, std::uint32_t value);
    int sign(std::size_t position) const;

    BlockGeometry geometry_;
    // Per stage, its inputs from two view rows before the block on (the
    // carries) to the position reached.
    std::vector<std::vector<std::uint32_t>> inputs_;
};

}  // namespace talveco
