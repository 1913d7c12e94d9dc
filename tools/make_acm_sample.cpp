// Writes a deterministic sample ACM file to the given path: 7 levels, 16 rows
// a block and 160 blocks (327,680 samples, about 7 seconds of stereo at
// 22050 Hz), with every column code that has a method in use.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <iostream>
#include <vector>

#include "tests/support/AcmStreamBuilder.h"
#include "tests/support/Noise.h"

namespace {

using talveco::testing::AcmStreamBuilder;
using talveco::testing::Noise;

constexpr unsigned levels = 7;
constexpr unsigned rows = 16;
constexpr unsigned blocks = 160;

// The codes with a method, small ranges last; low columns take the wide
// linear codes, the others cycle through the rest.
constexpr unsigned wideCodes[] = {5, 6, 7, 8};
constexpr unsigned narrowCodes[] = {0,  3,  4,  17, 18, 19, 20, 21, 22, 23, 24,
                                    26, 27, 29, 9,  10, 11, 12, 13, 14, 15, 16};

unsigned codeFor(unsigned block, unsigned column) {
    if (column < 4) return wideCodes[(block + column) % std::size(wideCodes)];
    return narrowCodes[(block * 7 + column * 3) % std::size(narrowCodes)];
}

// Low columns follow a slow sine so that the output has a tone in it; the
// others are sparse noise within what the code can express.
std::vector<int> columnIndices(unsigned block, unsigned column, unsigned code, Noise& noise) {
    const auto [lowest, highest] = talveco::testing::columnIndexRange(code);
    std::vector<int> indices(rows);
    for (unsigned r = 0; r < rows; ++r) {
        int index = 0;
        if (column < 4) {
            const double phase = (block * rows + r) * 0.05 + column;
            index = static_cast<int>(std::lround(std::sin(phase) * highest * 0.8));
        } else if (noise.next() % 3 != 0) {
            const int width = std::min(highest - lowest, 64) + 1;
            index = -(width / 2) + static_cast<int>(noise.next() % static_cast<unsigned>(width));
        }
        indices[r] = std::clamp(index, lowest, highest);
    }
    return indices;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: make_acm_sample OUTPUT.acm\n";
        return 2;
    }
    const unsigned columns = 1u << levels;
    AcmStreamBuilder builder(blocks * columns * rows, levels, rows);
    Noise noise(0x2545F491);
    for (unsigned block = 0; block < blocks; ++block) {
        // Range exponent 15 rewrites the whole amplitude table, so every
        // linear code finds its entries.
        builder.blockHeader(15, static_cast<std::uint16_t>(4 + block % 5));
        for (unsigned column = 0; column < columns; ++column) {
            const unsigned code = codeFor(block, column);
            builder.column(code, columnIndices(block, column, code, noise));
        }
    }
    std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(builder.bytes().data()),
              static_cast<std::streamsize>(builder.bytes().size()));
    out.close();
    if (!out) {
        std::cerr << "make_acm_sample: cannot write " << argv[1] << "\n";
        return 1;
    }
    return 0;
}
