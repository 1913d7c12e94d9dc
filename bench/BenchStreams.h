// Benchmark ACM streams, made with the test stream builder.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace talveco::bench {

// Every block of a benchmark stream has this many rows unless asked otherwise.
inline constexpr unsigned benchRows = 16;

// "Realistic" imitates coded music: per column, small values whose spread
// falls from the low columns to the high ones, many columns near silent or
// all zero, each column in the cheapest code that holds its values and each
// block with the smallest range exponent that covers them. "Dense" is the
// worst case for unpacking: every column code with a method equally likely,
// values uniform over the code's range, and a random range exponent and step
// in every block.
enum class StreamKind { Realistic, Dense };

// A whole stream, header included, of `blocks` blocks of `rows` rows.
std::vector<std::uint8_t> makeBenchStream(StreamKind kind, unsigned levels, std::uint64_t blocks,
                                          unsigned seed, unsigned rows = benchRows);

// A stream whose columns all use codes from `codes` (picked at random), with
// values uniform over each code's range and the smallest range exponent that
// covers the codes.
std::vector<std::uint8_t> makeCodeFamilyStream(std::span<const unsigned> codes, unsigned levels,
                                               std::uint64_t blocks, unsigned seed);

}  // namespace talveco::bench
