#include "encoder/CausalSearch.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <optional>
#include <tuple>
#include <utility>

#include "acm/InverseTransform.h"

namespace talveco {
namespace {

constexpr std::int64_t int16Lowest = std::numeric_limits<std::int16_t>::min();
constexpr std::int64_t int16Highest = std::numeric_limits<std::int16_t>::max();

std::int64_t floorDiv(std::int64_t a, std::int64_t b) {
    return a >= 0 ? a / b : -((-a + b - 1) / b);
}

std::int64_t ceilDiv(std::int64_t a, std::int64_t b) {
    return -floorDiv(-a, b);
}

// The multiple index of `step` for a value wanted in `low` .. `high`, the
// one nearest `reference` among those inside and within `lowest` ..
// `highest`; none where no multiple lies there.
std::optional<std::int64_t> chooseIndex(std::int64_t low, std::int64_t high, double reference,
                                        std::int64_t step, std::int64_t lowest,
                                        std::int64_t highest) {
    const std::int64_t first = std::max(ceilDiv(low, step), lowest);
    const std::int64_t last = std::min(floorDiv(high, step), highest);
    if (first > last) return std::nullopt;
    const auto nearest = static_cast<std::int64_t>(std::llround(reference / double(step)));
    return std::clamp(nearest, first, last);
}

}  // namespace

CausalSearch::CausalSearch(const BlockGeometry& geometry)
    : geometry_(geometry), inputs_(geometry.levels) {
    for (unsigned stage = 1; stage <= geometry_.levels; ++stage)
        inputs_[stage - 1].resize(2 * (geometry_.columns >> stage) + geometry_.blockSize);
}

void CausalSearch::loadCarries(std::span<const std::uint32_t> carries) {
    for (unsigned stage = 1; stage <= geometry_.levels; ++stage) {
        const std::size_t width = geometry_.columns >> stage;
        std::vector<std::uint32_t>& x = inputs_[stage - 1];
        for (std::size_t j = 0; j < width; ++j) {
            const StageCarry carry = stageCarry(geometry_, carries, stage, j);
            x[j] = static_cast<std::uint32_t>(carry.a);
            x[width + j] = static_cast<std::uint32_t>(carry.b);
        }
    }
}

// Runs `value` at `position` through every stage, the values before it
// being in place, and returns what the last stage makes of it. Each stage
// works on pairs of view rows (t, t + 1), t even, from the pair before: an
// even row gives x[t-2] + 2 x[t-1] + x[t], an odd one 2 x[t-1] - x[t-2] -
// x[t], where x are the stage's inputs and those before the block are its
// carries. Wrapping 32-bit arithmetic, as the decoder's.
std::uint32_t CausalSearch::synthesise(std::size_t position, std::uint32_t value) {
    std::uint32_t x = value;
    for (unsigned stage = 1; stage <= geometry_.levels; ++stage) {
        const std::size_t width = geometry_.columns >> stage;
        std::uint32_t* in = inputs_[stage - 1].data() + position;  // in[2 * width] is x[t]
        in[2 * width] = x;
        const bool oddRow = (position / width) % 2 == 1;
        x = oddRow ? 2 * in[width] - in[0] - x : in[0] + 2 * in[width] + x;
        if (stage == 1 && position % width == 0) x += 1;
    }
    return x;
}

int CausalSearch::sign(std::size_t position) const {
    int s = 1;
    for (unsigned stage = 1; stage <= geometry_.levels; ++stage)
        s = (position / (geometry_.columns >> stage)) % 2 == 1 ? -s : s;
    return s;
}

bool CausalSearch::search(std::span<const std::uint32_t> carries,
                          std::span<const std::int16_t> wanted, std::span<const double> reference,
                          std::uint16_t step, std::span<std::int32_t> values) {
    loadCarries(carries);
    const unsigned levels = geometry_.levels;
    const std::int64_t modulus = std::int64_t{1} << (16 + levels);  // what the output keeps
    const std::int64_t bucket = std::int64_t{1} << levels;          // values of one sample
    const std::int64_t lowest = ceilDiv(int16Lowest, step);
    const std::int64_t highest = floorDiv(int16Highest, step);
    for (std::size_t p = 0; p < geometry_.blockSize; ++p) {
        const double ref = reference.empty() ? 0.0 : reference[p];
        std::int64_t index = 0;
        if (p < wanted.size()) {
            const std::uint32_t atZero = synthesise(p, 0);
            // The output keeps bits levels .. levels + 15 of the value: the
            // wanted sample is any value in one bucket, modulo `modulus`.
            const std::uint32_t target = static_cast<std::uint32_t>(wanted[p]) << levels;
            std::int64_t offset = static_cast<std::int64_t>((target - atZero) % modulus);
            if (offset >= modulus / 2) offset -= modulus;
            std::int64_t low = offset;
            std::int64_t high = offset + bucket - 1;
            if (sign(p) < 0) std::tie(low, high) = std::pair(-high, -low);
            const auto chosen = chooseIndex(low, high, ref, step, lowest, highest);
            // The values serve only where every wanted sample comes out.
            if (!chosen) return false;
            index = *chosen;
        } else {
            index = std::clamp(static_cast<std::int64_t>(std::llround(ref / double(step))), lowest,
                               highest);
        }
        const auto value = static_cast<std::int32_t>(index * step);
        values[p] = value;
        synthesise(p, static_cast<std::uint32_t>(value));
    }
    return true;
}

}  // namespace talveco
