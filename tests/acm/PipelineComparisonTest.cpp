// Pipelined decoding against sequential decoding: the same samples, the same
// short reads and the same failures, whatever the stream and the reads.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <future>
#include <optional>
#include <random>
#include <string>
#include <thread>

#include "acm/AcmDecoder.h"
#include "platform/InputFile.h"
#include "platform/Processors.h"
#include "tests/support/AcmStreamBuilder.h"
#include "tests/support/MemoryByteSource.h"
#include "tests/support/RandomStreams.h"
#include "tests/support/TempDir.h"

namespace talveco {
namespace {

using testing::AcmStreamBuilder;
using testing::MemoryByteSource;
using Bytes = std::vector<std::uint8_t>;

// How a stream is read: the input's chunking, a failing input read, and the
// request sizes of the reads, used in turn.
struct ReadPlan {
    std::size_t chunkLimit = 61;
    std::optional<std::size_t> failingRead;
    std::vector<std::size_t> requests = {100};
    bool asBytes = false;
    std::size_t calls = 400;  // enough to pass the end of every stream here
    // The second thread cannot be started: the pipelined decoder must fall
    // back to unpacking on the reader's thread.
    ThreadStarter startThread;
};

// A thread starter that fails as a system out of memory would.
std::thread failToStart(std::function<void()>) {
    throw std::bad_alloc();
}

// Everything a caller can observe: the count of each read with the samples
// (as bytes) it delivered, the failures (each read after the first one must
// raise it again), and how far the input was read once the stream ended.
struct Trace {
    std::vector<std::size_t> counts;
    Bytes delivered;
    std::vector<std::string> failures;
    std::optional<std::size_t> inputReadsAtEnd;
};

// Buffers kept from one read to the next: filling fresh ones on every call
// would cost more than the decoding under a thread sanitizer.
struct ReadBuffers {
    Bytes bytes;
    std::vector<std::int16_t> samples;
};

// One read of `request` samples, appended to `delivered` as little-endian
// bytes.
std::size_t readOnce(AcmDecoder& decoder, std::size_t request, bool asBytes, ReadBuffers& buffers,
                     Bytes& delivered) {
    if (asBytes) {
        buffers.bytes.resize(2 * request);
        const std::size_t got = decoder.readSampleBytes(buffers.bytes);
        delivered.insert(delivered.end(), buffers.bytes.begin(),
                         buffers.bytes.begin() + std::ptrdiff_t(got));
        return got;
    }
    std::vector<std::int16_t>& samples = buffers.samples;
    samples.resize(request);
    const std::size_t got = decoder.readSamples(samples);
    for (std::size_t i = 0; i < got; ++i) {
        const auto bits = static_cast<std::uint16_t>(samples[i]);
        delivered.push_back(static_cast<std::uint8_t>(bits & 0xFF));
        delivered.push_back(static_cast<std::uint8_t>(bits >> 8));
    }
    return got;
}

// Reads as the plan says; after a failure three more reads, which must fail
// alike.
void readByPlan(AcmDecoder& decoder, const ReadPlan& plan, Trace& trace) {
    ReadBuffers buffers;
    for (std::size_t call = 0; call < plan.calls && trace.failures.size() < 4; ++call) {
        const std::size_t request = plan.requests[call % plan.requests.size()];
        try {
            trace.counts.push_back(
                readOnce(decoder, request, plan.asBytes, buffers, trace.delivered));
        } catch (const Failure& failure) {
            trace.failures.emplace_back(failure.what());
        }
    }
}

Trace decode(const Bytes& stream, DecodeThreads threads, const ReadPlan& plan) {
    MemoryByteSource source(stream, plan.chunkLimit);
    if (plan.failingRead) source.failReadNumber(*plan.failingRead);
    Trace trace;
    bool ended = false;
    try {
        const auto decoder = createAcmDecoder(source, 512, threads, plan.startThread);
        readByPlan(*decoder, plan, trace);
        ended = decoder->ended() || !trace.failures.empty();
    } catch (const Failure& failure) {
        trace.failures.emplace_back(failure.what());  // in the header
    }
    // The decoder is gone and its thread with it: whatever it read is read.
    if (ended) trace.inputReadsAtEnd = source.readCount();
    return trace;
}

void expectSameTrace(const Bytes& stream, const ReadPlan& plan, const std::string& what) {
    const Trace sequential = decode(stream, DecodeThreads::sequential, plan);
    const Trace pipelined = decode(stream, DecodeThreads::pipelined, plan);
    EXPECT_EQ(pipelined.counts, sequential.counts) << what;
    EXPECT_EQ(pipelined.delivered, sequential.delivered) << what;
    EXPECT_EQ(pipelined.failures, sequential.failures) << what;
    // A stream read to its end (or to a failure) was read exactly as far by
    // both: the producer never reads ahead of what the samples need.
    if (sequential.inputReadsAtEnd) {
        EXPECT_EQ(pipelined.inputReadsAtEnd, sequential.inputReadsAtEnd) << what;
    }
}

struct Shape {
    unsigned levels;
    unsigned rows;
    int blocks;
};

constexpr Shape shapes[] = {{0, 1, 40},  {1, 3, 30}, {2, 1, 50}, {4, 5, 20},
                            {7, 16, 12}, {3, 2, 9},  {14, 5, 3}};  // the last: one block a slot

// `blocks` random blocks; a sample count that cuts the last block short
// when `cutLast`.
Bytes randomStream(const Shape& shape, bool cutLast, unsigned seed) {
    const std::uint32_t blockSize = (1u << shape.levels) * shape.rows;
    const std::uint32_t count =
        blockSize * static_cast<std::uint32_t>(shape.blocks) - (cutLast ? blockSize / 2 : 0);
    return testing::randomStream(count, shape.levels, shape.rows, shape.blocks, seed);
}

std::string describe(const Shape& shape) {
    return "levels " + std::to_string(shape.levels) + " rows " + std::to_string(shape.rows);
}

const std::vector<std::vector<std::size_t>> requestPatterns = {{1},    {3, 1, 7},      {64},
                                                               {1000}, {5, 0, 200, 2}, {100000}};

TEST(PipelineComparison, ValidStreamsDecodeAlikeForEveryRequestPattern) {
    unsigned seed = 1;
    for (const Shape& shape : shapes) {
        for (const bool cutLast : {false, true}) {
            const Bytes stream = randomStream(shape, cutLast, seed++);
            for (const auto& requests : requestPatterns) {
                for (const bool asBytes : {false, true}) {
                    ReadPlan plan;
                    plan.requests = requests;
                    plan.asBytes = asBytes;
                    plan.calls = requests.front() == 1 ? 6000 : 400;
                    expectSameTrace(stream, plan,
                                    describe(shape) + " request " + std::to_string(requests[0]));
                }
            }
        }
    }
}

TEST(PipelineComparison, PipelinedValidStreamEndsWithTheHeaderCountAndThenZeros) {
    const Bytes stream = randomStream({4, 5, 20}, true, 99);
    MemoryByteSource source(stream);
    const auto decoder = createAcmDecoder(source, 512, DecodeThreads::pipelined);
    ASSERT_TRUE(decoder->unpacksAhead());
    std::vector<std::int16_t> out(100000);
    EXPECT_EQ(decoder->readSamples(out), decoder->header().sampleCount);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(decoder->readSamples(out), 0u);
}

// Streams of good blocks (g) and bad blocks (b, with how many good columns
// come first and the code that ends them).
struct BadBlockCase {
    const char* layout;
    unsigned levels;
    unsigned rows;
};

constexpr BadBlockCase badBlockCases[] = {
    {"bgggggg", 2, 3},  {"gggbggg", 2, 3},    {"ggggggb", 2, 3},   {"gbbgbbbg", 3, 2},
    {"bbbbbbgg", 1, 4}, {"gbgbgbgbgb", 4, 1}, {"ggbgggbgg", 0, 5}, {"gggggggggbb", 7, 2},
};

Bytes layoutStream(const BadBlockCase& layout, unsigned seed) {
    return testing::layoutStream(layout.layout, layout.levels, layout.rows, seed);
}

TEST(PipelineComparison, BadBlocksEndTheSameReadsAndTheNextReadsMoveOnAlike) {
    unsigned seed = 100;
    for (const BadBlockCase& layout : badBlockCases) {
        const Bytes stream = layoutStream(layout, seed++);
        for (const auto& requests : requestPatterns) {
            ReadPlan plan;
            plan.requests = requests;
            plan.calls = 3000;
            expectSameTrace(stream, plan, std::string(layout.layout));
        }
    }
}

// Streams long enough that the producer goes round its ring of slots several
// times and has to wait for the reader: 2048-value blocks (many to a slot)
// and 65,536-value blocks (one to a slot), with bad blocks in between.
std::vector<std::pair<BadBlockCase, std::string>> longLayouts() {
    const std::string g31(31, 'g');
    const std::string g40(40, 'g');
    return {
        {{nullptr, 7, 16}, std::string(150, 'g')},
        {{nullptr, 7, 16}, g31 + "b" + g40 + "bb" + g40 + g31 + "b"},
        {{nullptr, 7, 16}, "b" + g40 + g40 + "bgbgb" + g40},
        {{nullptr, 10, 64}, "ggbggggbbg"},
    };
}

TEST(PipelineComparison, LongStreamsDecodeAlikeThroughEverySlot) {
    unsigned seed = 300;
    for (auto [layout, blocks] : longLayouts()) {
        layout.layout = blocks.c_str();
        const Bytes stream = layoutStream(layout, seed++);
        for (const auto& requests : {std::vector<std::size_t>{4096}, {777, 1, 20000}, {1u << 20}}) {
            ReadPlan plan;
            plan.chunkLimit = 4096;
            plan.requests = requests;
            plan.calls = 1500;
            expectSameTrace(stream, plan, blocks);
        }
    }
}

// Blocks of 2048 values, and blocks of 12 that sequential decoding unpacks
// many at a time, so that a read fails in the middle of such a run.
TEST(PipelineComparison, ReadErrorsInLongStreamsSurfaceAlike) {
    const std::string g40(40, 'g');
    const std::pair<BadBlockCase, std::string> layouts[] = {
        longLayouts()[1], {{nullptr, 2, 3}, g40 + "b" + std::string(400, 'g') + "bb" + g40}};
    unsigned seed = 400;
    for (auto [layout, blocks] : layouts) {
        layout.layout = blocks.c_str();
        const Bytes stream = layoutStream(layout, seed++);
        const std::size_t reads = stream.size() / 512 + 1;  // the decoders ask for 512 bytes a read
        for (const std::size_t failing :
             {std::size_t{1}, reads / 3, reads / 2, reads - 1, reads + 1}) {
            for (const std::size_t request : {7u, 3000u}) {
                ReadPlan plan;
                plan.chunkLimit = 4096;
                plan.failingRead = failing;
                plan.requests = {request};
                plan.calls = 1500;
                expectSameTrace(stream, plan,
                                "levels " + std::to_string(layout.levels) + ", failing read " +
                                    std::to_string(failing) + ", request " +
                                    std::to_string(request));
            }
        }
    }
}

TEST(PipelineComparison, BadBlockShortensTheReadOfThePipelinedDecoder) {
    // Guards the comparison above: the bad block does show as a short read.
    const Bytes stream = layoutStream({"gbg", 2, 3}, 7);
    MemoryByteSource source(stream);
    const auto decoder = createAcmDecoder(source, 512, DecodeThreads::pipelined);
    std::vector<std::int16_t> out(100);
    EXPECT_EQ(decoder->readSamples(out), 12u);
    EXPECT_EQ(decoder->readSamples(out), 12u);
    EXPECT_EQ(decoder->readSamples(out), 0u);
}

TEST(PipelineComparison, ThreadThatCannotStartFallsBackToUnpackingOnTheReadersThread) {
    const Bytes valid = randomStream({4, 5, 20}, true, 21);
    const Bytes withBad = layoutStream(badBlockCases[3], 22);
    for (const Bytes* stream : {&valid, &withBad}) {
        for (const auto& requests : requestPatterns) {
            ReadPlan plan;
            plan.requests = requests;
            plan.calls = 3000;
            plan.startThread = failToStart;
            expectSameTrace(*stream, plan, "request " + std::to_string(requests[0]));
            plan.failingRead = 2;
            expectSameTrace(*stream, plan, "failing, request " + std::to_string(requests[0]));
        }
    }
}

TEST(PipelineComparison, TruncatedStreamsDecodeAlike) {
    const Bytes whole = randomStream({4, 5, 20}, false, 55);
    const Bytes withBad = layoutStream(badBlockCases[3], 56);
    for (const Bytes* stream : {&whole, &withBad}) {
        for (const std::size_t keep :
             {std::size_t{14}, std::size_t{15}, std::size_t{40}, stream->size() / 3,
              stream->size() / 2, stream->size() - 1}) {
            const Bytes cut(stream->begin(), stream->begin() + std::ptrdiff_t(keep));
            for (const auto& requests : requestPatterns) {
                ReadPlan plan;
                plan.requests = requests;
                plan.calls = 3000;
                expectSameTrace(cut, plan, "kept " + std::to_string(keep));
            }
        }
    }
}

TEST(PipelineComparison, RandomBytesAfterAValidHeaderDecodeAlike) {
    std::mt19937 random(2024);
    for (int round = 0; round < 40; ++round) {
        std::uniform_int_distribution<unsigned> levels(0, 6);
        std::uniform_int_distribution<unsigned> rows(1, 9);
        std::uniform_int_distribution<std::uint32_t> count(1, 3000);
        std::uniform_int_distribution<std::size_t> length(0, 3000);
        Bytes stream = testing::acmHeaderBytes(count(random), levels(random), rows(random));
        std::uniform_int_distribution<int> byte(0, 255);
        for (std::size_t i = length(random); i > 0; --i)
            stream.push_back(static_cast<std::uint8_t>(byte(random)));
        ReadPlan plan;
        plan.requests = {static_cast<std::size_t>(round % 7) * 37 + 1};
        plan.calls = 4000;
        expectSameTrace(stream, plan, "round " + std::to_string(round));
    }
}

TEST(PipelineComparison, ReadErrorsSurfaceAtTheSameReadWithTheSameMessage) {
    const Bytes valid = randomStream({4, 5, 20}, true, 77);
    const Bytes withBad = layoutStream(badBlockCases[5], 78);
    for (const Bytes* stream : {&valid, &withBad}) {
        // With 61 bytes a read, the failing read lands anywhere in the stream,
        // and beyond it (the input is asked again after its end).
        for (std::size_t failing = 0; failing < stream->size() / 61 + 3; ++failing) {
            for (const auto& requests : {std::vector<std::size_t>{1}, {50, 3}, {100000}}) {
                ReadPlan plan;
                plan.failingRead = failing;
                plan.requests = requests;
                plan.calls = 5000;
                expectSameTrace(*stream, plan, "failing read " + std::to_string(failing));
            }
        }
    }
}

TEST(PipelineComparison, ReadErrorMidStreamIsRaisedAgainByLaterReads) {
    const Bytes stream = randomStream({4, 5, 20}, false, 5);
    MemoryByteSource source(stream, 61);
    source.failReadNumber(3);
    const auto decoder = createAcmDecoder(source, 512, DecodeThreads::pipelined);
    std::vector<std::int16_t> out(100000);
    EXPECT_THROW(decoder->readSamples(out), Failure);
    EXPECT_THROW(decoder->readSamples(out), Failure);
}

TEST(PipelineComparison, DecoderChoosesWhereToUnpack) {
    struct Case {
        std::uint32_t sampleCount;
        unsigned levels;
        unsigned rows;
        DecodeThreads threads;
        bool ahead;
    };
    // Automatic never pipelines a stream of few blocks, nor blocks of more
    // than 1 Mi values, nor fewer than 4 levels; an empty stream has nothing
    // to unpack.
    const Case cases[] = {
        {1000, 4, 5, DecodeThreads::sequential, false},
        {1000, 4, 5, DecodeThreads::pipelined, true},
        {0, 4, 5, DecodeThreads::pipelined, false},
        {0, 0, 0, DecodeThreads::pipelined, false},
        {320, 4, 5, DecodeThreads::automatic, false},
        {100000, 7, 16, DecodeThreads::automatic, usableProcessors() > 1},
        {100000, 3, 16, DecodeThreads::automatic, false},
        {100000, 0, 16, DecodeThreads::automatic, false},
        {100u << 20, 15, 32, DecodeThreads::automatic, usableProcessors() > 1},
        {100u << 20, 15, 33, DecodeThreads::automatic, false},
        {100u << 20, 15, 33, DecodeThreads::pipelined, true},
    };
    for (const Case& c : cases) {
        MemoryByteSource source(testing::acmHeaderBytes(c.sampleCount, c.levels, c.rows));
        const auto decoder = createAcmDecoder(source, 512, c.threads);
        EXPECT_EQ(decoder->unpacksAhead(), c.ahead) << c.sampleCount << " levels " << c.levels;
    }
}

// Under `taskset -c 0` or in a container of one processor a second thread
// would only take turns with the first.
TEST(PipelineComparison, OneUsableProcessorUnpacksOnTheCallersThread) {
    cpu_set_t allowed;
    ASSERT_EQ(::sched_getaffinity(0, sizeof allowed, &allowed), 0);
    int first = 0;
    while (!CPU_ISSET(first, &allowed))
        ++first;
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(first, &one);
    ASSERT_EQ(::sched_setaffinity(0, sizeof one, &one), 0);
    MemoryByteSource source(testing::acmHeaderBytes(100000, 7, 16));
    const bool ahead = createAcmDecoder(source, 512, DecodeThreads::automatic)->unpacksAhead();
    ASSERT_EQ(::sched_setaffinity(0, sizeof allowed, &allowed), 0);
    EXPECT_FALSE(ahead);
}

TEST(PipelineComparison, DestroyingDecodersAtAnyPointReturnsPromptly) {
    // Enough blocks that the producer fills every slot and waits for a free one.
    const Bytes stream = randomStream({7, 16, 120}, false, 11);
    for (const std::size_t reads : {0u, 1u, 2u, 30u}) {
        MemoryByteSource source(stream);
        const auto decoder = createAcmDecoder(source, 512, DecodeThreads::pipelined);
        std::vector<std::int16_t> out(3);
        for (std::size_t r = 0; r < reads; ++r)
            EXPECT_EQ(decoder->readSamples(out), 3u) << r;
    }
    // And when the producer has stopped at a read error.
    MemoryByteSource failing(stream, 5);
    failing.failReadNumber(4);
    const auto decoder = createAcmDecoder(failing, 512, DecodeThreads::pipelined);
    std::vector<std::int16_t> out(1000);
    EXPECT_THROW(decoder->readSamples(out), Failure);
}

// A FIFO whose writer stays open: the producer waits in a read that only
// more bytes end. Destroying the decoder may wait for that read, but not for
// the further reads a slot would need: fed a byte at a time, it ends after a
// few bytes, not after the rest of the stream.
TEST(PipelineComparison, DestroyingADecoderWaitingOnASlowInputWaitsOnlyForTheReadInProgress) {
    testing::TempDir dir;
    const std::string fifo = (dir / "slow.acm").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const int writer = ::open(fifo.c_str(), O_RDWR | O_CLOEXEC);  // no end of file while open
    ASSERT_GE(writer, 0);
    const Bytes stream = randomStream({7, 16, 120}, false, 12);
    auto writeBytes = [writer](const std::uint8_t* data, std::size_t size) {
        for (std::size_t done = 0; done < size;) {
            const ssize_t put = ::write(writer, data + done, size - done);
            if (put <= 0) return;
            done += static_cast<std::size_t>(put);
        }
    };
    // Half the stream: the first slots fill, a later one waits for bytes.
    std::thread firstHalf([&] { writeBytes(stream.data(), stream.size() / 2); });

    InputFile input(fifo);
    auto decoder = createAcmDecoder(input, 4096, DecodeThreads::pipelined);
    std::vector<std::int16_t> out(100);
    EXPECT_EQ(decoder->readSamples(out), out.size());
    firstHalf.join();

    auto destroyed = std::async(std::launch::async, [&decoder] { decoder.reset(); });
    std::size_t fed = 0;
    while (destroyed.wait_for(std::chrono::milliseconds(20)) != std::future_status::ready &&
           fed < 500) {
        writeBytes(stream.data() + stream.size() / 2 + fed, 1);
        ++fed;
    }
    EXPECT_LT(fed, 500u) << "the producer went on reading after the decoder was destroyed";
    ::close(writer);  // lets a producer that went on reading see the end
    destroyed.wait();
}

// The signals blocked by each thread of this process other than the caller's,
// as the kernel reports them.
std::vector<std::uint64_t> otherThreadsBlockedSignals() {
    std::vector<std::uint64_t> masks;
    const std::string self = std::to_string(::gettid());
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        if (task.path().filename() == self) continue;
        std::ifstream status(task.path() / "status");
        for (std::string line; std::getline(status, line);) {
            if (line.starts_with("SigBlk:"))
                masks.push_back(std::stoull(line.substr(7), nullptr, 16));
        }
    }
    return masks;
}

TEST(PipelineComparison, ProducerThreadLeavesInterruptsToTheCallersThread) {
    const Bytes stream = randomStream({7, 16, 120}, false, 13);
    MemoryByteSource source(stream);
    const auto decoder = createAcmDecoder(source, 512, DecodeThreads::pipelined);
    std::vector<std::int16_t> out(10);
    ASSERT_EQ(decoder->readSamples(out), out.size());
    const auto masks = otherThreadsBlockedSignals();
    ASSERT_FALSE(masks.empty()) << "no producer thread";
    const std::uint64_t interrupts =
        (1u << (SIGINT - 1)) | (1u << (SIGTERM - 1)) | (1u << (SIGHUP - 1));
    for (const std::uint64_t mask : masks)
        EXPECT_EQ(mask & interrupts, interrupts) << std::hex << mask;
    // The caller's own mask is as it was.
    sigset_t own;
    ASSERT_EQ(::pthread_sigmask(SIG_SETMASK, nullptr, &own), 0);
    EXPECT_FALSE(::sigismember(&own, SIGINT));
}

}  // namespace
}  // namespace talveco
