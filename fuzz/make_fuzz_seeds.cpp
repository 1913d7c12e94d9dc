// Writes the seed corpora of the fuzzers into DIRECTORY/decode,
// DIRECTORY/convert and DIRECTORY/encode. For the first two, streams made
// with the test stream builder that reach every column code and every kind of
// geometry, hostile headers, and a plan tail (DecodePlan.h) on each that
// varies how the stream is read (decode) or names the input file (convert).
// For the encoder, settings (EncodeInput.h) and hand-made signals: silence,
// full-scale squares, tones and noise.
#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "fuzz/ConvertInput.h"
#include "fuzz/DecodePlan.h"
#include "fuzz/EncodeInput.h"
#include "tests/support/AcmStreamBuilder.h"
#include "tests/support/Noise.h"

namespace {

using talveco::fuzzing::Request;
using talveco::testing::acmHeaderBytes;
using talveco::testing::AcmStreamBuilder;
using talveco::testing::columnIndexRange;
using talveco::testing::Noise;
using Bytes = std::vector<std::uint8_t>;

constexpr unsigned kMethodCodes[] = {0,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12, 13, 14,
                                     15, 16, 17, 18, 19, 20, 21, 22, 23, 24, 26, 27, 29};
constexpr std::uint8_t kNoFailure = 0xFF;

std::vector<int> randomColumn(unsigned code, unsigned rows, Noise& noise) {
    const auto [lowest, highest] = columnIndexRange(code);
    const auto width = static_cast<std::uint32_t>(highest - lowest + 1);
    std::vector<int> indices(rows);
    for (int& index : indices) {
        // Zeros half the time, so the zero-pair codes meet runs of them.
        index = noise.next() % 2 == 0 ? 0 : lowest + static_cast<int>(noise.next() % width);
        index = std::clamp(index, lowest, highest);
    }
    return indices;
}

// Every column code with a method in turn over the columns of as many blocks
// as it takes, then `extraBlocks` more of plain zero bits. Only the first
// `codedColumns` columns of a block are written when it is given: the rest
// of a wide block then comes from the zero bits past the end.
Bytes everyCode(unsigned levels, unsigned rows, unsigned extraBlocks, unsigned codedColumns = 0) {
    const unsigned columns = 1u << levels;
    const unsigned perBlock = codedColumns == 0 ? columns : std::min(codedColumns, columns);
    const unsigned codeCount = std::size(kMethodCodes);
    const unsigned blocks = (codeCount + perBlock - 1) / perBlock;
    const std::uint32_t samples = (blocks + extraBlocks) * columns * rows;
    AcmStreamBuilder builder(samples, levels, rows);
    Noise noise(0x9E3779B9);
    for (unsigned block = 0, next = 0; block < blocks; ++block) {
        builder.blockHeader(block % 2 == 0 ? 15 : 4 + block % 7,
                            static_cast<std::uint16_t>(block % 3 == 0 ? 0xFFFF : 3 + block));
        for (unsigned column = 0; column < perBlock; ++column, ++next) {
            const unsigned code = kMethodCodes[next % codeCount];
            builder.column(code, randomColumn(code, rows, noise));
        }
        if (perBlock < columns) break;  // the end of the data ends the block
    }
    return builder.bytes();
}

// A block whose third column carries a code without a method, followed by
// a good block.
Bytes invalidCode(unsigned code) {
    AcmStreamBuilder builder(2 * 4 * 3, 2, 3);
    builder.blockHeader(3, 7).column(5, {1, -2, 3}).column(17, {0, 0, 1}).columnCode(code);
    builder.blockHeader(3, 7).column(4, {1, 2, 3}).zeroColumn().zeroColumn().zeroColumn();
    return builder.bytes();
}

Bytes firstBytes(Bytes bytes, std::size_t count) {
    bytes.resize(std::min(bytes.size(), count));
    return bytes;
}

struct Seed {
    std::string name;
    Bytes stream;
};

std::vector<Seed> seeds() {
    std::vector<Seed> list = {
        {"signature-only", {0x97, 0x28, 0x03, 0x01}},
        {"truncated-header", firstBytes(acmHeaderBytes(500, 3, 7), 9)},
        {"header-only-zero-bits", acmHeaderBytes(1000, 3, 5)},
        {"no-rows-no-samples", acmHeaderBytes(0, 6, 0)},
        {"no-rows-with-samples", acmHeaderBytes(1, 6, 0)},
        {"largest-count", acmHeaderBytes((1u << 30) - 1, 0, 1)},
        {"count-2-30", acmHeaderBytes(1u << 30, 0, 1)},
        {"count-2-31", acmHeaderBytes(1u << 31, 4, 16)},
        {"widest-geometry", acmHeaderBytes(70000, 15, 4095)},
        {"not-acm", {'R', 'I', 'F', 'F', 0x24, 0, 0, 0, 'W', 'A', 'V', 'E'}},
    };
    for (const unsigned code : {1u, 2u, 25u, 28u, 30u, 31u}) {
        list.push_back({"invalid-code-" + std::to_string(code), invalidCode(code)});
    }
    struct Shape {
        unsigned levels, rows, extraBlocks, codedColumns;
    };
    const Shape shapes[] = {{0, 1, 3, 0},  {1, 2, 1, 0},   {2, 3, 1, 0},   {3, 5, 2, 0},
                            {4, 16, 0, 0}, {5, 7, 1, 0},   {7, 3, 1, 0},   {8, 1, 1, 0},
                            {9, 2, 0, 0},  {10, 1, 0, 26}, {11, 3, 1, 26}, {15, 1, 1, 26}};
    for (const Shape& s : shapes) {
        list.push_back(
            {"codes-levels-" + std::to_string(s.levels) + "-rows-" + std::to_string(s.rows),
             everyCode(s.levels, s.rows, s.extraBlocks, s.codedColumns)});
    }
    return list;
}

// Read patterns: single samples, odd byte counts, whole buffers, and the
// first few reads failing on some seeds.
void appendPlanFor(Bytes& input, std::size_t seedNumber) {
    const auto n = static_cast<std::uint8_t>(seedNumber);
    const std::vector<Request> requests = {
        {static_cast<std::uint16_t>(1 + seedNumber), false},
        {static_cast<std::uint16_t>(7 + 2 * seedNumber), true},
        {4096, false},
        {65535, true},
    };
    const std::uint8_t failing =
        seedNumber % 5 == 4 ? static_cast<std::uint8_t>(n % 4) : kNoFailure;
    talveco::fuzzing::appendPlan(input, n, static_cast<std::uint8_t>(n * 3), failing, requests);
}

// Names for the convert seeds: plain, without extension, with several dots,
// with DOS separators, empty after a separator, the longest, and one whose
// output name is the input's own.
const char* const kSeedNames[] = {"a.acm", "ab", "a.b.acm", "X\\a:b.acm", "a\\", "b.wav"};

std::string seedName(std::size_t seedNumber) {
    if (seedNumber % 9 == 8) return std::string(255, 'a');
    return kSeedNames[seedNumber % std::size(kSeedNames)];
}

// Signals of up to 2000 samples, as the encode fuzzer reads them.
Bytes encodeSeed(const talveco::fuzzing::EncodeSettingsBytes& settings, std::size_t count,
                 int (*sample)(std::size_t, Noise&)) {
    Bytes input;
    talveco::fuzzing::appendEncodeSettings(input, settings);
    Noise noise(7);
    for (std::size_t i = 0; i < count; ++i) {
        const auto value = static_cast<std::uint16_t>(sample(i, noise));
        input.push_back(static_cast<std::uint8_t>(value & 0xFF));
        input.push_back(static_cast<std::uint8_t>(value >> 8));
    }
    return input;
}

std::vector<Seed> encodeSeeds() {
    const auto silence = [](std::size_t, Noise&) { return 0; };
    const auto square = [](std::size_t i, Noise&) { return (i / 9) % 2 == 0 ? 32767 : -32768; };
    const auto fastSquare = [](std::size_t i, Noise&) { return i % 2 == 0 ? 32767 : -32768; };
    const auto tone = [](std::size_t i, Noise&) {
        // A triangle, loud, 64 samples to the period.
        const int phase = int(i % 64);
        return (phase < 32 ? phase : 64 - phase) * 1800 - 28800;
    };
    const auto noisy = [](std::size_t, Noise& noise) { return int(noise.next() % 65536) - 32768; };
    // mode, amount, levels + 1 (0 automatic), rows (0 automatic), channels, pieces
    return {
        {"empty", encodeSeed({0, 50, 0, 0, 0, 1, 0}, 0, silence)},
        {"one-sample", encodeSeed({0, 50, 0, 0, 0, 1, 0}, 1, noisy)},
        {"silence-quality", encodeSeed({0, 50, 0, 0, 0, 3, 0}, 1500, silence)},
        {"square-quality-10", encodeSeed({0, 100, 0, 0, 0, 9, 0}, 2000, square)},
        {"fast-square-bitrate", encodeSeed({1, 80, 0, 0, 0, 4, 0}, 2000, fastSquare)},
        {"tone-levels-4-rows-2", encodeSeed({0, 30, 5, 2, 0, 5, 0}, 2000, tone)},
        {"tone-stereo-bitrate", encodeSeed({1, 40, 0, 0, 1, 6, 0}, 2000, tone)},
        {"noise-levels-7-rows-3", encodeSeed({0, 70, 8, 3, 2, 7, 0}, 2000, noisy)},
        {"noise-levels-0", encodeSeed({1, 200, 1, 5, 0, 8, 0}, 2000, noisy)},
    };
}

bool writeSeed(const std::filesystem::path& path, const Bytes& input) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(input.data()),
              static_cast<std::streamsize>(input.size()));
    if (!out) std::cerr << "make_fuzz_seeds: cannot write " << path.string() << "\n";
    return static_cast<bool>(out);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: make_fuzz_seeds DIRECTORY\n";
        return 2;
    }
    const std::filesystem::path root = argv[1];
    std::filesystem::create_directories(root / "decode");
    std::filesystem::create_directories(root / "convert");
    std::filesystem::create_directories(root / "encode");
    const std::vector<Seed> all = seeds();
    for (std::size_t i = 0; i < all.size(); ++i) {
        Bytes decodeInput = all[i].stream;
        appendPlanFor(decodeInput, i);
        Bytes convertInput = all[i].stream;
        talveco::fuzzing::appendRunTail(convertInput, {i % 2 == 1, seedName(i)});
        if (!writeSeed(root / "decode" / all[i].name, decodeInput) ||
            !writeSeed(root / "convert" / all[i].name, convertInput)) {
            return 1;
        }
    }
    for (const Seed& seed : encodeSeeds()) {
        if (!writeSeed(root / "encode" / seed.name, seed.stream)) return 1;
    }
    return 0;
}
