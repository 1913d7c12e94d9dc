// The encoder's half of the transform: the exact inverse of the decoder's
// synthesis stages, computed in floating point.
#pragma once

#include <cstddef>
#include <span>

namespace talveco {

// Turns `values`, the values the decoder's transform should produce before its
// output shift, into the values its stage 1 must be given (before they are
// quantised). The window must start at a multiple of 2^levels values in the
// stream and hold a multiple of 2^levels values.
//
// Each stage is a two-band synthesis bank whose inverse has one stable causal
// factor and one stable anti-causal factor, both decaying by 3 - 2*sqrt(2)
// (about 0.17) per pair. The window therefore gives exact results (to double
// precision) except within a few dozen pairs of its ends: callers take the
// middle of overlapping windows, and `analysisMargin` says how far to stay
// away. At the start of the stream the causal factor runs from rest, as the
// decoder's carries do.
void analyse(std::span<double> values, unsigned levels);

// Values to stay away from either end of a window so that every stage's
// edge effect has decayed below double precision.
std::size_t analysisMargin(unsigned levels);

}  // namespace talveco
