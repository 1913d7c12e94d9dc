// Shared pieces of the tests that compare the decoder's fast paths with the
// plain reference implementations on random inputs.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <random>
#include <string>

namespace talveco::testing {

// A fresh seed for every run, unless TALVECO_TEST_SEED names one to repeat a
// failure. Tests put it into their failure messages with SCOPED_TRACE.
inline std::uint32_t comparisonSeed() {
    if (const char* fixed = std::getenv("TALVECO_TEST_SEED")) {
        return static_cast<std::uint32_t>(std::strtoul(fixed, nullptr, 10));
    }
    return std::random_device{}();
}

inline std::string seedTrace(std::uint32_t seed) {
    return "random seed " + std::to_string(seed) +
           " (repeat with TALVECO_TEST_SEED=" + std::to_string(seed) + ")";
}

}  // namespace talveco::testing
