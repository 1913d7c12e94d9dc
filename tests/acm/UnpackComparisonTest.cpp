// Block unpacking against the plain reference on random input: the banded
// amplitude table against the full one, every column filler on random bits
// with the table in random states, and whole blocks and streams.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "acm/BlockUnpacker.h"
#include "acm/InverseTransform.h"
#include "acm/SampleOutput.h"
#include "tests/acm/ReferenceComparison.h"
#include "tests/acm/ReferenceTransform.h"
#include "tests/acm/ReferenceUnpacker.h"
#include "tests/support/AcmStreamBuilder.h"
#include "tests/support/MemoryByteSource.h"
#include "tests/support/RandomStreams.h"

namespace talveco {
namespace {

using testing::MemoryByteSource;
using Bytes = std::vector<std::uint8_t>;
using Values = std::vector<std::int32_t>;

constexpr std::int32_t untouched = 0x5A5A5A5A;

Bytes randomBytes(std::size_t count, std::mt19937& random) {
    std::uniform_int_distribution<unsigned> byte(0, 255);
    Bytes bytes(count);
    for (std::uint8_t& b : bytes)
        b = static_cast<std::uint8_t>(byte(random));
    return bytes;
}

// The same rewrite on both tables. Small ranges come more often than large
// ones, so that entries of earlier blocks survive many rewrites.
void rewriteBoth(AmplitudeTable& fast, reference::AmplitudeTable& plain, std::mt19937& random) {
    std::geometric_distribution<unsigned> exponent(0.25);
    std::uniform_int_distribution<unsigned> step(0, 65535);
    const unsigned p = std::min(exponent(random), 15u);
    const auto s = static_cast<std::uint16_t>(step(random));
    fast.rewrite(p, s);
    plain.rewrite(p, s);
}

TEST(UnpackComparison, AmplitudeBandsHoldTheEntriesOfTheFullTable) {
    const std::uint32_t seed = testing::comparisonSeed();
    SCOPED_TRACE(testing::seedTrace(seed));
    std::mt19937 random(seed);
    AmplitudeTable fast;
    reference::AmplitudeTable plain;
    for (int rewrite = 0; rewrite < 60; ++rewrite) {
        rewriteBoth(fast, plain, random);
        for (int k = AmplitudeTable::lowest; k <= AmplitudeTable::highest; ++k) {
            ASSERT_EQ(fast[k], plain[k]) << "entry " << k << " after rewrite " << rewrite;
        }
        for (int k = AmplitudeTable::nearLowest; k <= AmplitudeTable::nearHighest; ++k) {
            ASSERT_EQ(fast.near()[k], plain[k]) << "ready entry " << k;
        }
        for (unsigned top = 0; top < AmplitudeTable::bandCount; ++top) {
            std::uint16_t step = 0;
            if (!fast.uniformThrough(top, step)) continue;
            const int bound = 1 << top;
            for (int k = -bound; k < bound; ++k) {
                ASSERT_EQ(AmplitudeTable::entryValue(k, step), plain[k])
                    << "entry " << k << " of uniform bands through " << top;
            }
        }
    }
}

// Every code with a method (and the invalid ones) on random bits: the same
// values in the column, nothing outside it, and the same bits consumed.
TEST(UnpackComparison, EveryFillerMatchesTheReferenceOnRandomBits) {
    const std::uint32_t seed = testing::comparisonSeed();
    SCOPED_TRACE(testing::seedTrace(seed));
    std::mt19937 random(seed);
    AmplitudeTable fastTable;
    reference::AmplitudeTable plainTable;
    std::uniform_int_distribution<std::size_t> rowCount(1, 40);
    std::uniform_int_distribution<std::size_t> columnCount(1, 9);
    for (int round = 0; round < 40; ++round) {
        rewriteBoth(fastTable, plainTable, random);
        for (unsigned code = 0; code < 32; ++code) {
            const std::size_t rows = rowCount(random);
            const std::size_t columns = columnCount(random);
            const std::size_t column =
                std::uniform_int_distribution<std::size_t>(0, columns - 1)(random);
            // Enough bits for 16 per row, and a read size that makes the
            // reader refill within the column.
            const Bytes bytes = randomBytes(2 * rows + 8, random);
            MemoryByteSource fastSource(bytes);
            MemoryByteSource plainSource(bytes);
            BitReader fastBits(fastSource, 7);
            BitReader plainBits(plainSource, 7);
            Values fastBlock(rows * columns, untouched);
            Values plainBlock(rows * columns, untouched);
            ColumnTarget fastTarget{fastBits, fastTable, fastBlock, columns, rows};
            reference::ColumnTarget plainTarget{plainBits, plainTable, plainBlock, columns, rows};
            const bool fastResult = fillColumn(fastTarget, code, column);
            const bool plainResult = reference::fillColumn(plainTarget, code, column);
            ASSERT_EQ(fastResult, plainResult) << "code " << code;
            ASSERT_EQ(fastBlock, plainBlock) << "code " << code << ", rows " << rows;
            ASSERT_EQ(fastBits.bitPosition(), plainBits.bitPosition()) << "code " << code;
        }
    }
}

struct UnpackResult {
    std::vector<bool> results;
    std::vector<Values> blocks;
    std::vector<bool> pastEnd;  // per block: bits from beyond the input's end were read
    std::uint64_t consumed;
};

// What a bad block leaves in the columns it did not reach depends on where
// it was unpacked to, so only the good blocks are compared.
UnpackResult goodBlocksOnly(UnpackResult result) {
    for (std::size_t b = 0; b < result.results.size(); ++b) {
        if (!result.results[b]) {
            result.blocks[b].clear();
            result.pastEnd[b] = false;
        }
    }
    return result;
}

template <typename Table, typename Unpack>
UnpackResult unpackAll(const Bytes& stream, const BlockGeometry& geometry, int blocks,
                       Unpack unpack) {
    MemoryByteSource source(stream, 1000);
    BitReader bits(source, 512);
    Table table;
    UnpackResult result{{}, {}, {}, 0};
    Values block(geometry.blockSize, untouched);
    for (int b = 0; b < blocks; ++b) {
        result.results.push_back(unpack(bits, table, geometry, std::span<std::int32_t>(block)));
        result.blocks.push_back(block);
        result.pastEnd.push_back(bits.pastEndOfInput());
    }
    result.consumed = bits.bitPosition();
    return result;
}

// The same blocks unpacked in runs: every run asks for all the blocks still
// to come, and the run after a bad block starts from the bits behind it.
UnpackResult unpackInRuns(const Bytes& stream, const BlockGeometry& geometry, int blocks) {
    MemoryByteSource source(stream, 1000);
    BitReader bits(source, 512);
    AmplitudeTable table;
    UnpackResult result{{}, {}, {}, 0};
    const auto count = static_cast<std::size_t>(blocks);
    Values values(geometry.blockSize * count, untouched);
    ZeroRunHint zeroRuns;
    while (result.results.size() < count) {
        BlockRun run;
        unpackBlocks(bits, table, geometry, values, count - result.results.size(), run, zeroRuns);
        for (std::size_t b = 0; b < run.goodBlocks; ++b) {
            const auto first = values.begin() + static_cast<std::ptrdiff_t>(b * geometry.blockSize);
            result.results.push_back(true);
            result.blocks.emplace_back(first,
                                       first + static_cast<std::ptrdiff_t>(geometry.blockSize));
            result.pastEnd.push_back(run.firstPastEnd && b >= *run.firstPastEnd);
        }
        if (run.stoppedAtBadBlock) {
            result.results.push_back(false);
            result.blocks.emplace_back();
            result.pastEnd.push_back(false);
        }
    }
    result.consumed = bits.bitPosition();
    return result;
}

// Valid blocks, and random bytes with their invalid codes and failed blocks,
// unpacked block after block with the table carried along, one by one and
// in runs. One block more than the valid stream holds is read from beyond
// its end.
TEST(UnpackComparison, BlocksMatchTheReferenceOnValidAndRandomStreams) {
    const std::uint32_t seed = testing::comparisonSeed();
    SCOPED_TRACE(testing::seedTrace(seed));
    std::mt19937 random(seed);
    for (const unsigned levels : {0u, 1u, 3u, 5u, 7u, 9u, 11u}) {
        for (const unsigned rows : {1u, 2u, 5u, 12u, 16u, 33u}) {
            const BlockGeometry geometry = blockGeometry(levels, rows);
            testing::AcmStreamBuilder builder(0, levels, rows);
            for (int b = 0; b < 6; ++b)
                testing::addRandomBlock(builder, random);
            const Bytes noise = randomBytes(geometry.blockSize * 2 + 64, random);
            for (const Bytes* stream : {&builder.bytes(), &noise}) {
                const auto fast = unpackAll<AmplitudeTable>(*stream, geometry, 7, unpackBlock);
                const auto plain = unpackAll<reference::AmplitudeTable>(*stream, geometry, 7,
                                                                        reference::unpackBlock);
                ASSERT_EQ(fast.results, plain.results) << "levels " << levels << ", rows " << rows;
                ASSERT_EQ(fast.blocks, plain.blocks) << "levels " << levels << ", rows " << rows;
                ASSERT_EQ(fast.pastEnd, plain.pastEnd) << "levels " << levels << ", rows " << rows;
                ASSERT_EQ(fast.consumed, plain.consumed)
                    << "levels " << levels << ", rows " << rows;

                const auto runs = goodBlocksOnly(unpackInRuns(*stream, geometry, 7));
                const auto good = goodBlocksOnly(plain);
                ASSERT_EQ(runs.results, good.results) << "levels " << levels << ", rows " << rows;
                ASSERT_EQ(runs.blocks, good.blocks) << "levels " << levels << ", rows " << rows;
                ASSERT_EQ(runs.pastEnd, good.pastEnd) << "levels " << levels << ", rows " << rows;
                ASSERT_EQ(runs.consumed, good.consumed) << "levels " << levels << ", rows " << rows;
            }
        }
    }
}

// Blocks whose columns are mostly silent, so that runs of zero codes end
// at the end of a block and at every other column, and blocks that stop at
// a bad code right behind such a run, where the columns after it must be
// zero.
TEST(UnpackComparison, ZeroColumnRunsMatchTheReference) {
    const std::uint32_t seed = testing::comparisonSeed();
    SCOPED_TRACE(testing::seedTrace(seed));
    std::mt19937 random(seed);
    std::bernoulli_distribution silence(0.85);
    for (const unsigned levels : {0u, 2u, 4u, 7u, 9u}) {
        for (const unsigned rows : {1u, 3u, 16u}) {
            const BlockGeometry geometry = blockGeometry(levels, rows);
            const auto columns = static_cast<unsigned>(geometry.columns);
            testing::AcmStreamBuilder builder(0, levels, rows);
            constexpr int blocks = 12;
            for (int b = 0; b < blocks; ++b) {
                if (b % 3 != 2) {
                    testing::addRandomBlock(builder, random, 0.85);
                    continue;
                }
                builder.blockHeader(3, 7);
                unsigned column = 0;
                while (column + 1 < columns && silence(random)) {
                    builder.column(0, std::vector<int>(rows, 0));
                    ++column;
                }
                builder.columnCode(b % 2 == 0 ? 25 : 1);
            }
            const auto fast =
                unpackAll<AmplitudeTable>(builder.bytes(), geometry, blocks, unpackBlock);
            const auto plain = unpackAll<reference::AmplitudeTable>(builder.bytes(), geometry,
                                                                    blocks, reference::unpackBlock);
            ASSERT_EQ(fast.results, plain.results) << "levels " << levels << ", rows " << rows;
            ASSERT_EQ(fast.blocks, plain.blocks) << "levels " << levels << ", rows " << rows;
            ASSERT_EQ(fast.consumed, plain.consumed) << "levels " << levels << ", rows " << rows;
        }
    }
}

// The whole decoder against the reference pieces put together the plain
// way: unpack, transform, shift, value by value.
TEST(UnpackComparison, DecoderMatchesTheReferencePipeline) {
    const std::uint32_t seed = testing::comparisonSeed();
    SCOPED_TRACE(testing::seedTrace(seed));
    std::mt19937 random(seed);
    for (const unsigned levels : {0u, 1u, 2u, 4u, 7u, 10u}) {
        const unsigned rows = levels >= 10 ? 3 : 16;
        const BlockGeometry geometry = blockGeometry(levels, rows);
        const auto sampleCount = static_cast<std::uint32_t>(geometry.blockSize * 5 - 3);
        testing::AcmStreamBuilder builder(sampleCount, levels, rows);
        for (int b = 0; b < 5; ++b)
            testing::addRandomBlock(builder, random);

        MemoryByteSource source(builder.bytes());
        const auto decoder = createAcmDecoder(source, 512);
        std::vector<std::int16_t> samples(sampleCount + 10);
        samples.resize(decoder->readSamples(samples));

        MemoryByteSource plainSource(builder.bytes());
        BitReader bits(plainSource, 512);
        for (int field = 0; field < 7; ++field)
            bits.readBits(16);  // the file header
        reference::AmplitudeTable table;
        Values block(geometry.blockSize);
        std::vector<std::uint32_t> wrap(geometry.carryCount, 0);
        std::vector<std::int16_t> expected;
        while (expected.size() < sampleCount) {
            ASSERT_TRUE(reference::unpackBlock(bits, table, geometry, block));
            reference::inverseTransform(geometry, block, wrap);
            for (std::size_t i = 0; i < block.size() && expected.size() < sampleCount; ++i)
                expected.push_back(outputSample(block[i], levels));
        }
        EXPECT_EQ(samples, expected) << "levels " << levels;
    }
}

}  // namespace
}  // namespace talveco
