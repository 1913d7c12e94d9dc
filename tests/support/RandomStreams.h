// Random but valid ACM material for the comparison tests: blocks whose every
// column uses a random code with a method and random indices within its range.
#pragma once

#include <cstdint>
#include <random>
#include <string_view>
#include <vector>

#include "tests/support/AcmStreamBuilder.h"

namespace talveco::testing {

// A random block header (range exponent mostly small, any step), then every
// column with a random code and random indices, about a third of them 0.
// With `silentColumns`, that share of the columns is coded as all-zero
// (code 0) instead, for runs of zero codes.
void addRandomBlock(AcmStreamBuilder& builder, std::mt19937& random, double silentColumns = 0.0);

// A stream of `blocks` random blocks whose header announces `sampleCount`.
std::vector<std::uint8_t> randomStream(std::uint32_t sampleCount, unsigned levels, unsigned rows,
                                       int blocks, unsigned seed);

// Good blocks ('g', random) and bad ones ('b': a few good columns, then a
// code that selects no method) in the order `layout` gives; the header
// announces the samples of the good blocks.
std::vector<std::uint8_t> layoutStream(std::string_view layout, unsigned levels, unsigned rows,
                                       unsigned seed);

}  // namespace talveco::testing
