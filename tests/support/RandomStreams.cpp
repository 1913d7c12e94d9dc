#include "tests/support/RandomStreams.h"

#include <algorithm>
#include <iterator>

namespace talveco::testing {

void addRandomBlock(AcmStreamBuilder& builder, std::mt19937& random, double silentColumns) {
    static constexpr unsigned codes[] = {0,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12, 13, 14,
                                         15, 16, 17, 18, 19, 20, 21, 22, 23, 24, 26, 27, 29};
    std::uniform_int_distribution<std::size_t> pickCode(0, std::size(codes) - 1);
    std::geometric_distribution<unsigned> exponent(0.2);
    std::uniform_int_distribution<unsigned> step(0, 65535);
    std::bernoulli_distribution zero(0.3);
    builder.blockHeader(std::min(exponent(random), 15u), static_cast<std::uint16_t>(step(random)));
    std::vector<int> column(builder.rows());
    std::bernoulli_distribution silent(silentColumns);
    for (unsigned c = 0; c < builder.columns(); ++c) {
        const unsigned code = silent(random) ? 0 : codes[pickCode(random)];
        const auto [lowest, highest] = columnIndexRange(code);
        std::uniform_int_distribution<int> index(lowest, highest);
        for (int& i : column)
            i = zero(random) ? 0 : index(random);
        builder.column(code, column);
    }
}

std::vector<std::uint8_t> randomStream(std::uint32_t sampleCount, unsigned levels, unsigned rows,
                                       int blocks, unsigned seed) {
    AcmStreamBuilder builder(sampleCount, levels, rows);
    std::mt19937 random(seed);
    for (int b = 0; b < blocks; ++b)
        addRandomBlock(builder, random);
    return builder.bytes();
}

namespace {

// The first columns of a block, then a code that selects no method.
void addBadBlock(AcmStreamBuilder& builder, unsigned goodColumns, unsigned badCode) {
    builder.blockHeader(2, 7);
    for (unsigned c = 0; c < goodColumns; ++c)
        builder.column(4, std::vector<int>(builder.rows(), 1));
    builder.columnCode(badCode);
}

}  // namespace

std::vector<std::uint8_t> layoutStream(std::string_view layout, unsigned levels, unsigned rows,
                                       unsigned seed) {
    const auto goodBlocks =
        static_cast<std::uint32_t>(std::count(layout.begin(), layout.end(), 'g'));
    AcmStreamBuilder builder(goodBlocks * (1u << levels) * rows, levels, rows);
    std::mt19937 random(seed);
    static constexpr unsigned badCodes[] = {1, 2, 25, 28, 30, 31};
    unsigned badCount = 0;
    for (const char block : layout) {
        if (block == 'g') {
            addRandomBlock(builder, random);
        } else {
            addBadBlock(builder, badCount % builder.columns(), badCodes[badCount % 6]);
            ++badCount;
        }
    }
    return builder.bytes();
}

}  // namespace talveco::testing
