// Fuzz target for the whole decode path: header checks, decoder creation and
// sample reading, with the way the bytes arrive and the sizes of the reads
// taken from the input too (see DecodePlan.h).
//
// Besides the sanitizers it checks what the decoder promises:
// - the header is accepted exactly when its raw bytes say it should be;
// - a read never delivers more than asked, nor more samples than the header
//   announces, and readSampleBytes leaves the bytes past its count alone;
// - every failed block consumes input, so reading on always reaches the
//   announced sample count;
// - the samples do not depend on how the input is split up or read out:
//   the plan's decode must match a plain one sample for sample (up to an
//   injected read failure).
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <vector>

#include "acm/AcmDecoder.h"
#include "fuzz/DecodePlan.h"
#include "platform/Failure.h"

namespace talveco::fuzzing {
namespace {

// Work per input stays small however large the header's promises: a block
// holds at most kBlockCap values (rows are narrowed to fit), and no more
// samples are read than kSampleFloor or two blocks, whichever is more, so
// the carries from one block to the next are always reached. The widest
// blocks are exercised by the tests.
constexpr std::size_t kBlockCap = std::size_t{1} << 15;
constexpr std::size_t kSampleFloor = std::size_t{1} << 13;
constexpr std::size_t kHeaderSize = 14;
constexpr int kInjectedError = 5;

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "talveco decode fuzzer: %s\n", what);
    std::abort();
}

void check(bool condition, const char* what) {
    if (!condition) fail(what);
}

// Bytes in memory, handed out at most `chunkLimit` at a time; the read with
// number `failingRead` raises an I/O error instead.
class FuzzByteSource final : public ByteSource {
  public:
    FuzzByteSource(std::span<const std::uint8_t> bytes, std::size_t chunkLimit, int failingRead)
        : bytes_(bytes), chunkLimit_(chunkLimit), failingRead_(failingRead) {}

    std::size_t readSome(std::span<std::uint8_t> buffer) override {
        if (reads_++ == failingRead_) {
            failed_ = true;
            throw Failure(FailureKind::IoError, kInjectedError);
        }
        const std::size_t count = std::min({buffer.size(), chunkLimit_, bytes_.size()});
        std::copy_n(bytes_.begin(), count, buffer.begin());
        bytes_ = bytes_.subspan(count);
        return count;
    }

    bool failed() const { return failed_; }

  private:
    std::span<const std::uint8_t> bytes_;
    std::size_t chunkLimit_;
    int failingRead_;
    int reads_ = 0;
    bool failed_ = false;
};

struct HeaderFacts {
    bool acceptable = false;
    std::uint32_t sampleCount = 0;
    std::size_t samplesToRead = 0;  // the part of sampleCount this input decodes
};

// The verdict on the header straight from its bytes; missing bytes are zero
// as the bit reader supplies them.
HeaderFacts judgeHeader(std::span<const std::uint8_t> stream) {
    std::array<std::uint8_t, kHeaderSize> h{};
    std::copy_n(stream.begin(), std::min(stream.size(), h.size()), h.begin());
    const bool signature = h[0] == 0x97 && h[1] == 0x28 && h[2] == 0x03 && h[3] == 0x01;
    HeaderFacts facts;
    facts.sampleCount = std::uint32_t{h[4]} | std::uint32_t{h[5]} << 8 | std::uint32_t{h[6]} << 16 |
                        std::uint32_t{h[7]} << 24;
    const unsigned levels = h[12] & 0x0Fu;
    const unsigned rows = unsigned{h[12]} >> 4 | unsigned{h[13]} << 4;
    facts.acceptable = signature && !(rows == 0 && facts.sampleCount != 0) &&
                       facts.sampleCount < (std::uint32_t{1} << 30);
    const std::size_t cap = std::max(kSampleFloor, std::size_t{2 * rows} << levels);
    facts.samplesToRead = facts.acceptable ? std::min<std::size_t>(facts.sampleCount, cap) : 0;
    return facts;
}

// Narrows the header's rows so that one block stays within kBlockCap values.
// A stream that ends inside the header reads zeros for the missing bytes, so
// it is padded with them when the rows have to change.
void limitBlockSize(std::vector<std::uint8_t>& stream) {
    const auto byteAt = [&stream](std::size_t at) -> unsigned {
        return at < stream.size() ? stream[at] : 0u;
    };
    const unsigned levels = byteAt(12) & 0x0Fu;
    const unsigned rows = byteAt(12) >> 4 | byteAt(13) << 4;
    const auto maxRows = static_cast<unsigned>(kBlockCap >> levels);
    if (rows <= maxRows) return;
    if (stream.size() < kHeaderSize) stream.resize(kHeaderSize, 0);
    stream[12] = static_cast<std::uint8_t>(levels | (maxRows & 0x0Fu) << 4);
    stream[13] = static_cast<std::uint8_t>(maxRows >> 4);
}

// One call of readSamples or readSampleBytes; appends what it delivered and
// returns the number of samples.
std::size_t readOnce(AcmDecoder& decoder, const Request& request, std::vector<std::int16_t>& out,
                     std::vector<std::int16_t>& samples, std::vector<std::uint8_t>& scratch) {
    if (!request.asBytes) {
        samples.resize(request.size);
        const std::size_t got = decoder.readSamples(samples);
        check(got <= request.size, "readSamples delivered more than asked");
        out.insert(out.end(), samples.begin(), samples.begin() + static_cast<std::ptrdiff_t>(got));
        return got;
    }
    constexpr std::uint8_t untouched = 0xA5;
    scratch.assign(request.size, untouched);
    const std::size_t got = decoder.readSampleBytes(scratch);
    check(got % 2 == 0 && got <= request.size, "readSampleBytes count out of range");
    check(std::all_of(scratch.begin() + static_cast<std::ptrdiff_t>(got), scratch.end(),
                      [](std::uint8_t b) { return b == untouched; }),
          "readSampleBytes wrote past its count");
    for (std::size_t i = 0; i < got; i += 2) {
        out.push_back(static_cast<std::int16_t>(scratch[i] | scratch[i + 1] << 8));
    }
    return got / 2;
}

// Reads until `wanted` samples, or every announced one, are out. A read
// that delivers less than asked before the end met a block that did not
// unpack; each such attempt takes at least a block header and a column code
// (25 bits) of the input, and past the input the zero bits always unpack, so
// there can be no more of them than the input holds.
void drain(AcmDecoder& decoder, const std::vector<Request>& requests, std::size_t inputBytes,
           std::size_t wanted, std::vector<std::int16_t>& out) {
    const std::uint32_t announced = decoder.header().sampleCount;
    const std::size_t attemptLimit = inputBytes * 8 / 25 + 2;
    std::size_t shortReads = 0;
    std::vector<std::int16_t> samples;
    std::vector<std::uint8_t> scratch;
    for (std::size_t i = 0; out.size() < wanted; ++i) {
        const Request& request = requests[i % requests.size()];
        const std::size_t got = readOnce(decoder, request, out, samples, scratch);
        if (got < samplesAsked(request) && out.size() < announced) {
            check(++shortReads <= attemptLimit, "decoding makes no progress");
        }
    }
    check(out.size() <= announced, "more samples than the header announces");
    if (out.size() == announced) {
        std::array<std::int16_t, 1> one{};
        check(decoder.readSamples(one) == 0, "samples after the announced end");
    }
}

struct Outcome {
    bool accepted = false;
    bool readFailed = false;
    std::vector<std::int16_t> samples;
};

Outcome decode(std::span<const std::uint8_t> stream, const DecodePlan& plan, std::size_t wanted) {
    Outcome outcome;
    FuzzByteSource source(stream, plan.chunkLimit, plan.failingRead);
    try {
        const auto decoder = createAcmDecoder(source, plan.readSize);
        outcome.accepted = true;
        drain(*decoder, plan.requests, stream.size(), wanted, outcome.samples);
    } catch (const Failure& failure) {
        if (failure.kind() == FailureKind::IoError && failure.errorNumber() == kInjectedError &&
            source.failed()) {
            outcome.readFailed = true;
        } else {
            check(failure.kind() == FailureKind::NotAcmFile, "unexpected failure kind");
        }
    }
    return outcome;
}

void compare(const Outcome& reference, const Outcome& planned, std::size_t wanted) {
    if (planned.readFailed) {
        const std::size_t common = std::min(planned.samples.size(), wanted);
        check(std::equal(planned.samples.begin(), planned.samples.begin() + common,
                         reference.samples.begin()),
              "samples before a read error differ");
        return;
    }
    check(planned.accepted == reference.accepted, "header verdict depends on the reads");
    check(std::equal(planned.samples.begin(), planned.samples.begin() + wanted,
                     reference.samples.begin()),
          "samples depend on how the input is read");
}

}  // namespace
}  // namespace talveco::fuzzing

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace talveco::fuzzing;
    FuzzedDataProvider provider(data, size);
    const DecodePlan plan = takePlan(provider);
    std::vector<std::uint8_t> stream = provider.ConsumeRemainingBytes<std::uint8_t>();
    limitBlockSize(stream);
    const HeaderFacts header = judgeHeader(stream);

    const std::size_t wanted = header.samplesToRead;
    const Outcome reference =
        decode(stream, DecodePlan{.requests = {Request{4096, false}}}, wanted);
    check(!reference.readFailed, "read failure without injection");
    check(reference.accepted == header.acceptable, "header verdict is wrong");
    compare(reference, decode(stream, plan, wanted), wanted);
    return 0;
}
