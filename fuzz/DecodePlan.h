// How one fuzz input is split: the ACM stream at the front, and at the back
// a few bytes that decide how the stream is fed to the decoder and read out
// of it. The seed generator writes the back part with appendPlan(), the
// fuzzer reads it with takePlan(), so the two agree by construction.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <vector>

namespace talveco::fuzzing {

// Sizes of the bit reader's refill requests and of the largest piece the
// byte source hands out at once: single bytes, odd sizes around the header
// and the usual buffer sizes.
inline constexpr std::array<std::size_t, 8> kReadSizes = {1, 2, 3, 7, 13, 512, 4096, 65536};
inline constexpr std::array<std::size_t, 8> kChunkLimits = {
    1, 2, 3, 5, 64, 513, 4096, std::numeric_limits<std::size_t>::max()};

inline constexpr std::size_t kMaxRequests = 8;
// A failing-read byte below this makes that read (counted from 0) fail.
inline constexpr std::uint8_t kReadFailureBelow = 24;

struct Request {
    std::uint16_t size = 0;  // samples, or bytes when asBytes is set
    bool asBytes = false;    // through readSampleBytes (odd sizes allowed)
};

// Whole samples a request asks for; a byte request of odd size leaves its
// last byte unused.
inline std::size_t samplesAsked(const Request& request) {
    return request.asBytes ? request.size / 2u : request.size;
}

struct DecodePlan {
    std::size_t readSize = 512;
    std::size_t chunkLimit = std::numeric_limits<std::size_t>::max();
    int failingRead = -1;           // -1: every read succeeds
    std::vector<Request> requests;  // used in turn, over and over; never empty
};

// The plan's bytes in the order takePlan consumes them, each taken from the
// end of the input: appendPlan stores them reversed.
inline std::vector<std::uint8_t> planBytes(std::uint8_t readSizeIndex, std::uint8_t chunkIndex,
                                           std::uint8_t failingRead,
                                           const std::vector<Request>& requests) {
    // takePlan reads the count as one more than the stored byte.
    std::vector<std::uint8_t> bytes = {readSizeIndex, chunkIndex, failingRead,
                                       static_cast<std::uint8_t>(requests.size() - 1)};
    for (const Request& request : requests) {
        bytes.push_back(static_cast<std::uint8_t>(request.size >> 8));
        bytes.push_back(static_cast<std::uint8_t>(request.size));
        bytes.push_back(request.asBytes ? 1 : 0);
    }
    return bytes;
}

inline void appendPlan(std::vector<std::uint8_t>& input, std::uint8_t readSizeIndex,
                       std::uint8_t chunkIndex, std::uint8_t failingRead,
                       const std::vector<Request>& requests) {
    const auto bytes = planBytes(readSizeIndex, chunkIndex, failingRead, requests);
    input.insert(input.end(), bytes.rbegin(), bytes.rend());
}

// Takes the plan from the end of the provider's data (FuzzedDataProvider or
// anything with its ConsumeIntegral).
template <typename Provider>
DecodePlan takePlan(Provider& provider) {
    DecodePlan plan;
    plan.readSize =
        kReadSizes[provider.template ConsumeIntegral<std::uint8_t>() % kReadSizes.size()];
    plan.chunkLimit =
        kChunkLimits[provider.template ConsumeIntegral<std::uint8_t>() % kChunkLimits.size()];
    const auto failing = provider.template ConsumeIntegral<std::uint8_t>();
    if (failing < kReadFailureBelow) plan.failingRead = failing;
    const std::size_t count = 1 + provider.template ConsumeIntegral<std::uint8_t>() % kMaxRequests;
    for (std::size_t i = 0; i < count; ++i) {
        Request request;
        request.size = provider.template ConsumeIntegral<std::uint16_t>();
        request.asBytes = (provider.template ConsumeIntegral<std::uint8_t>() & 1) != 0;
        plan.requests.push_back(request);
    }
    // A plan that never asks for a sample would read for ever.
    const bool asksForSamples = std::any_of(plan.requests.begin(), plan.requests.end(),
                                            [](const Request& r) { return samplesAsked(r) > 0; });
    if (!asksForSamples) plan.requests.front() = Request{1, false};
    return plan;
}

}  // namespace talveco::fuzzing
