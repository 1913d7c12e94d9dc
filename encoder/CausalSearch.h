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
    // is free), and returns true. Where several multiples decode to a wanted
    // sample the one nearest `reference` (blockSize values, or empty for
    // zero) is taken. Returns false at the first wanted sample that no
    // multiple gives, leaving `values` from there on as they were.
    //
    // Where the step is at least 2^levels each sample leaves one multiple at
    // most. Past samples moved against the earlier stream's rows by other
    // than whole rows the values grow, since each stage's causal inverse
    // does by 3 + 2 sqrt(2) a pair, and leave the 16-bit range within a few
    // dozen samples.
    bool search(std::span<const std::uint32_t> carries, std::span<const std::int16_t> wanted,
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
