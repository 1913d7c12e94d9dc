// The decoder's inner loops, built once for each vector width the machine
// may offer (see acm/CMakeLists.txt) and chosen at run time. Every set gives
// exactly the same results; only the width of the vectors differs. Internal
// to the decoder; exposed for its tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace talveco {

struct TransformKernels {
    const char* name;  // "bytes16", "bytes32" or "bytes64": the vector width

    // One stage over `height` view rows of `width` values from `values`.
    // `carries` holds 2 * width slots: the a values of the view columns, then
    // their b values (the two view rows before the first, as they were before
    // they were transformed).
    void (*stage)(std::uint32_t* carries, std::size_t width, std::size_t height,
                  std::int32_t* values);

    // Every stage of a transform with 2^levels columns over `rows` block rows
    // from `values`, the +1 adjustment after the first one included. The
    // carries of stage k follow those of stage k - 1.
    void (*stripe)(unsigned levels, std::size_t rows, std::int32_t* values, std::uint32_t* carries);

    // Bits levels to levels + 15 of each of `count` values, stored as 16-bit
    // little-endian samples from `out` on.
    void (*narrow)(const std::int32_t* values, std::size_t count, unsigned levels,
                   std::uint8_t* out);
};

// The fastest set this processor can run.
const TransformKernels& bestKernels();

// Every set this processor can run, the portable one first.
std::span<const TransformKernels* const> availableKernels();

}  // namespace talveco
