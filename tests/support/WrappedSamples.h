// Wrapped samples in an ACM stream: the decoder keeps the low 16 bits of
// each value shifted down by the levels, so a value beyond the 16-bit range
// after the shift comes out with the wrong sign. The encoder promises none.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace talveco::testing {

// Decodes `stream` with the decoder's own unpacking and transform and counts
// the samples whose value leaves the 16-bit range after the output shift.
// Stops at the first block that cannot be unpacked.
std::size_t wrappedSamples(std::span<const std::uint8_t> stream);

}  // namespace talveco::testing
