// The encoder analyses long input in overlapping windows: the middle of a
// window with margins must be the analysis of the whole signal.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "encoder/AnalysisBank.h"
#include "tests/support/Noise.h"

namespace talveco {
namespace {

TEST(AnalysisBank, AWindowWithMarginsAnalysesAsTheWholeSignalDoes) {
    for (const unsigned levels : {1u, 2u, 4u, 5u, 8u}) {
        const std::size_t columns = std::size_t{1} << levels;
        const std::size_t margin = analysisMargin(levels);
        ASSERT_EQ(margin % columns, 0U) << levels;
        // A loud random walk, as sound is: most of its energy low.
        testing::Noise noise(levels);
        std::vector<double> whole(2 * margin + 64 * columns);
        double level = 0;
        for (double& value : whole) {
            level = 0.95 * level + double(int(noise.next() % 4001) - 2000);
            value = level * double(columns);
        }
        const double peak =
            std::abs(*std::max_element(whole.begin(), whole.end(), [](double a, double b) {
                return std::abs(a) < std::abs(b);
            }));
        std::vector<double> analysed = whole;
        analyse(analysed, levels);
        // A window in the middle, and one from the stream's start (where the
        // causal factor runs from rest on both).
        for (const std::size_t first : {margin, std::size_t{0}}) {
            const std::size_t count = 32 * columns;
            const std::size_t start = first - std::min(first, margin);
            std::vector<double> window(whole.begin() + std::ptrdiff_t(start),
                                       whole.begin() + std::ptrdiff_t(first + count + margin));
            analyse(window, levels);
            for (std::size_t i = 0; i < count; ++i) {
                ASSERT_NEAR(window[first - start + i], analysed[first + i], 1e-9 * peak)
                    << levels << " levels, value " << first + i;
            }
        }
    }
}

}  // namespace
}  // namespace talveco
