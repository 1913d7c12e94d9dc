// A stream that a new one re-encodes an edit of: its geometry and, block by
// block, the values it unpacks to, their step and the samples they decode
// to, so that blocks whose samples the new input still holds can be coded
// again exactly as they were.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <unordered_map>
#include <vector>

#include "acm/AcmDecoder.h"

namespace talveco {

class PreviousStream {
  public:
    // Reads and decodes the whole stream; raises Failure(NotAcmFile) for a
    // stream that does not begin with an ACM header. Blocks from a bad one
    // on, and from the first that reaches past the end of `bytes`, are not
    // kept.
    explicit PreviousStream(std::span<const std::uint8_t> bytes);

    unsigned levels() const { return geometry_.levels; }
    unsigned rows() const { return static_cast<unsigned>(geometry_.rows); }

    // The block whose samples are `samples` (a whole block, or the real part
    // of the last one): the one at `position` when it matches, or any whole
    // block that does, or the last one for the same end.
    std::optional<std::size_t> blockDecodingTo(std::span<const std::int16_t> samples,
                                               std::size_t position) const;

    // How to code a block whose samples the earlier stream holds, some of
    // them or all, at other places or after other carries: which of them it
    // holds (`kept`), the values to stay near (the earlier stream's where its
    // rows line up with the block's, else `analysis`) and the steps to try,
    // coarsest first. None for a block with less than a row of them.
    struct Guide {
        std::vector<std::uint8_t> kept;
        std::vector<double> reference;
        bool earlierValues = false;
        std::vector<std::uint16_t> steps;
    };
    std::optional<Guide> guide(std::span<const std::int16_t> samples, std::size_t position,
                               std::span<const double> analysis) const;

    // Block `block` before the transform, and the step its values are
    // multiples of.
    std::span<const std::int32_t> unpacked(std::size_t block) const;
    std::uint16_t step(std::size_t block) const { return steps_[block]; }
    std::size_t blocks() const { return steps_.size(); }
    // The samples block `block` decodes to, padding included.
    std::span<const std::int16_t> samples(std::size_t block) const {
        return std::span<const std::int16_t>(decoded_).subspan(block * geometry_.blockSize,
                                                               geometry_.blockSize);
    }

  private:
    bool decodesTo(std::size_t block, std::span<const std::int16_t> samples) const;
    bool holdsAt(std::span<const std::int16_t> samples, std::size_t position,
                 std::ptrdiff_t offset) const;
    std::vector<std::uint16_t> stepsToTry(
        const std::map<std::uint16_t, std::size_t>& stepUses) const;
    std::vector<std::ptrdiff_t> offsetsOf(std::span<const std::int16_t> samples,
                                          std::size_t position) const;

    BlockGeometry geometry_;
    std::vector<std::int32_t> unpacked_;  // every block, row after row
    std::vector<std::uint16_t> steps_;
    std::vector<std::int16_t> decoded_;  // the samples of every block, padding included
    std::size_t sampleCount_ = 0;
    std::unordered_multimap<std::uint64_t, std::size_t> wholeBlocks_;  // by their samples
    // The first place of each run of anchorLength samples that starts at a
    // multiple of it, by the run's samples.
    std::unordered_map<std::uint64_t, std::size_t> anchors_;
};

}  // namespace talveco
