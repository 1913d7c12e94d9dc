// Micro-benchmarks of the decoder's hot parts: block unpacking by family of
// column codes, the inverse transform by level count, and readSamples from
// an in-memory stream; and how fast unpacking alone could go on one thread
// or two. Throughput is counted in values (items) and PCM bytes.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <random>
#include <span>
#include <thread>
#include <vector>

#include "acm/AcmDecoder.h"
#include "acm/BlockUnpacker.h"
#include "acm/InverseTransform.h"
#include "bench/BenchStreams.h"

namespace talveco::bench {
namespace {

// Bytes in memory handed out without copying them first.
class SpanSource final : public ByteSource {
  public:
    explicit SpanSource(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

    std::size_t readSome(std::span<std::uint8_t> buffer) override {
        const std::size_t count = std::min(buffer.size(), bytes_.size() - position_);
        std::memcpy(buffer.data(), bytes_.data() + position_, count);
        position_ += count;
        return count;
    }

  private:
    std::span<const std::uint8_t> bytes_;
    std::size_t position_ = 0;
};

// The file header: seven 16-bit fields.
void skipFileHeader(BitReader& bits) {
    for (int field = 0; field < 7; ++field)
        bits.readBits(16);
}

constexpr unsigned unpackLevels = 7;
constexpr std::uint64_t unpackBlocks = 256;

struct CodeFamily {
    const char* name;
    std::vector<unsigned> codes;  // empty for the whole-stream kinds below
    StreamKind kind = StreamKind::Realistic;
};

const std::array<CodeFamily, 8> codeFamilies = {{
    {"zero", {0}},
    {"linear3-6", {3, 4, 5, 6}},
    {"linear12-16", {12, 13, 14, 15, 16}},
    {"rangeZeroPairs", {17, 20, 23, 26}},
    {"range", {18, 21, 24, 27}},
    {"groups", {19, 22, 29}},
    {"realisticMix", {}, StreamKind::Realistic},
    {"denseMix", {}, StreamKind::Dense},
}};

std::vector<std::uint8_t> familyStream(const CodeFamily& family) {
    if (family.codes.empty()) return makeBenchStream(family.kind, unpackLevels, unpackBlocks, 11);
    return makeCodeFamilyStream(family.codes, unpackLevels, unpackBlocks, 11);
}

// Unpacks every block of a stream whose columns use one family of codes.
void BM_UnpackBlock(benchmark::State& state) {
    const CodeFamily& family = codeFamilies[static_cast<std::size_t>(state.range(0))];
    state.SetLabel(family.name);
    const std::vector<std::uint8_t> stream = familyStream(family);
    const BlockGeometry geometry = blockGeometry(unpackLevels, benchRows);
    std::vector<std::int32_t> block(geometry.blockSize);
    AmplitudeTable amplitudes;
    for (auto _ : state) {
        SpanSource source(stream);
        BitReader bits(source);
        skipFileHeader(bits);
        // One block a call, into the same buffer, with what unpacking learns
        // from block to block kept as the decoder keeps it.
        ZeroRunHint zeroRuns;
        for (std::uint64_t b = 0; b < unpackBlocks; ++b) {
            BlockRun run;
            talveco::unpackBlocks(bits, amplitudes, geometry, block, 1, run, zeroRuns);
            if (run.goodBlocks != 1) state.SkipWithError("bad block");
        }
        benchmark::DoNotOptimize(block.data());
    }
    const auto values = static_cast<std::int64_t>(unpackBlocks * geometry.blockSize);
    state.SetItemsProcessed(values * state.iterations());
    state.SetBytesProcessed(2 * values * state.iterations());
}
BENCHMARK(BM_UnpackBlock)->DenseRange(0, static_cast<int>(codeFamilies.size()) - 1);

// Where each run of blocks of a stream starts: its bit and the amplitude
// table as the blocks before it left it (later blocks may read entries
// that earlier ones wrote).
struct RunStart {
    std::uint64_t bit = 0;
    AmplitudeTable amplitudes;
};

// The starts of the runs of `perRun` blocks that make up the stream's
// `blocks` blocks.
std::vector<RunStart> findRunStarts(std::span<const std::uint8_t> stream,
                                    const BlockGeometry& geometry, std::uint64_t blocks,
                                    std::size_t perRun) {
    SpanSource source(stream);
    BitReader bits(source);
    skipFileHeader(bits);
    std::vector<std::int32_t> values(perRun * geometry.blockSize);
    std::vector<RunStart> starts;
    AmplitudeTable amplitudes;
    ZeroRunHint zeroRuns;
    for (std::uint64_t first = 0; first < blocks; first += perRun) {
        starts.push_back({bits.bitPosition(), amplitudes});
        BlockRun run;
        talveco::unpackBlocks(bits, amplitudes, geometry, values,
                              std::min<std::uint64_t>(perRun, blocks - first), run, zeroRuns);
    }
    return starts;
}

// Unpacking alone, as if every run of blocks could be started where it
// starts: on one thread, and split over two threads (runs taken in turn),
// which is as fast as unpacking one stream on two processors could be
// without the transform. Arguments: rows per block (7 levels), 1 for the
// dense stream, threads.
void BM_UnpackRuns(benchmark::State& state) {
    const auto rows = static_cast<unsigned>(state.range(0));
    const bool dense = state.range(1) != 0;
    const auto threads = static_cast<std::size_t>(state.range(2));
    state.SetLabel(dense ? "dense" : "realistic");
    const BlockGeometry geometry = blockGeometry(unpackLevels, rows);
    const std::uint64_t blocks = (std::uint64_t{1} << 22) / geometry.blockSize;  // 8 MB of PCM
    const std::vector<std::uint8_t> stream = makeBenchStream(
        dense ? StreamKind::Dense : StreamKind::Realistic, unpackLevels, blocks, 5, rows);
    constexpr std::size_t runValues = std::size_t{64} * 1024;  // as in a pipeline slot
    const std::size_t perRun = std::max<std::size_t>(1, runValues / geometry.blockSize);
    const std::vector<RunStart> starts = findRunStarts(stream, geometry, blocks, perRun);
    auto unpackEvery = [&](std::size_t first) {
        std::vector<std::int32_t> values(perRun * geometry.blockSize);
        for (std::size_t r = first; r < starts.size(); r += threads) {
            SpanSource source(std::span<const std::uint8_t>(stream).subspan(starts[r].bit / 8));
            BitReader bits(source);
            bits.readBits(starts[r].bit % 8);
            AmplitudeTable amplitudes = starts[r].amplitudes;
            ZeroRunHint zeroRuns;
            BlockRun run;
            talveco::unpackBlocks(bits, amplitudes, geometry, values,
                                  std::min<std::uint64_t>(perRun, blocks - r * perRun), run,
                                  zeroRuns);
            benchmark::DoNotOptimize(values.data());
        }
    };
    for (auto _ : state) {
        std::vector<std::thread> others;
        for (std::size_t t = 1; t < threads; ++t)
            others.emplace_back(unpackEvery, t);
        unpackEvery(0);
        for (std::thread& other : others)
            other.join();
    }
    const auto values = static_cast<std::int64_t>(blocks * geometry.blockSize);
    state.SetItemsProcessed(values * state.iterations());
    state.SetBytesProcessed(2 * values * state.iterations());
}
BENCHMARK(BM_UnpackRuns)
    ->ArgsProduct({{1, 4, 16}, {0}, {1, 2}})
    ->Args({16, 1, 1})
    ->Args({16, 1, 2})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// The transform of one 16-row block of small amplitudes, in place; the
// values wrap freely as the same block is transformed again and again.
// Arguments: levels, and which of the kernel sets this processor runs
// (0 the portable 16-byte one, then the wider ones; none past the last).
void BM_InverseTransform(benchmark::State& state) {
    const auto levels = static_cast<unsigned>(state.range(0));
    const auto kernelSets = availableKernels();
    const auto set = static_cast<std::size_t>(state.range(1));
    if (set >= kernelSets.size()) {
        state.SkipWithError("this processor does not run that kernel set");
        return;
    }
    const TransformKernels& kernels = *kernelSets[set];
    state.SetLabel(kernels.name);
    const BlockGeometry geometry = blockGeometry(levels, benchRows);
    std::vector<std::int32_t> block(geometry.blockSize);
    std::mt19937 random(3);
    std::uniform_int_distribution<int> amplitude(-300, 300);
    for (std::int32_t& value : block)
        value = amplitude(random);
    std::vector<std::uint32_t> wrap(geometry.carryCount, 0);
    for (auto _ : state) {
        inverseTransform(geometry, block, wrap, kernels);
        benchmark::DoNotOptimize(block.data());
    }
    const auto values = static_cast<std::int64_t>(geometry.blockSize);
    state.SetItemsProcessed(values * state.iterations());
    state.SetBytesProcessed(2 * values * state.iterations());
}
BENCHMARK(BM_InverseTransform)->ArgsProduct({benchmark::CreateDenseRange(0, 15, 1), {0, 1, 2}});

// The whole decoder from memory: readSampleBytes in 1 MiB requests, as the
// WAV writer makes them. Arguments: levels, and 1 for the dense stream.
void BM_ReadSamples(benchmark::State& state) {
    const auto levels = static_cast<unsigned>(state.range(0));
    const bool dense = state.range(1) != 0;
    state.SetLabel(dense ? "dense" : "realistic");
    // About 8 MB of PCM, whatever the block size.
    const std::uint64_t blocks =
        std::max<std::uint64_t>(1, (std::uint64_t{1} << 22) >> levels >> 4);
    const std::vector<std::uint8_t> stream =
        makeBenchStream(dense ? StreamKind::Dense : StreamKind::Realistic, levels, blocks, 5);
    std::vector<std::uint8_t> buffer(1 << 20);
    std::int64_t bytes = 0;
    for (auto _ : state) {
        SpanSource source(stream);
        const auto decoder = createAcmDecoder(source);
        while (const std::size_t got = decoder->readSampleBytes(buffer)) {
            bytes += static_cast<std::int64_t>(got);
            benchmark::DoNotOptimize(buffer.data());
        }
    }
    state.SetItemsProcessed(bytes / 2);
    state.SetBytesProcessed(bytes);
}
BENCHMARK(BM_ReadSamples)
    ->Args({0, 0})
    ->Args({4, 0})
    ->Args({7, 0})
    ->Args({10, 0})
    ->Args({15, 0})
    ->Args({7, 1})
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace talveco::bench
