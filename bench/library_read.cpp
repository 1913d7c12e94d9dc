// Times what talveco.read does in Python, with the C++ library alone: open
// a file, decode every sample into one buffer the size the header states
// (left uninitialised, as numpy.empty leaves it), close. Prints the
// milliseconds of each of RUNS runs and a checksum of the samples, which the
// Python side prints too. With "huge", the buffer asks for transparent huge
// pages as numpy does for large arrays, which saves most of the page faults
// of 100 MB of fresh memory.
//   library_read FILE RUNS [huge]
#include <sys/mman.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "talveco/talveco.h"

namespace {

void askForHugePages(std::int16_t* samples, std::size_t count) {
    const auto first = reinterpret_cast<std::uintptr_t>(samples) & ~std::uintptr_t{4095};
    ::madvise(reinterpret_cast<void*>(first), count * sizeof *samples + 4096, MADV_HUGEPAGE);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3 || argc > 4) {
        std::fprintf(stderr, "usage: library_read FILE RUNS [huge]\n");
        return 2;
    }
    const int runs = std::atoi(argv[2]);
    const bool huge = argc == 4 && std::strcmp(argv[3], "huge") == 0;
    std::uint64_t checksum = 0;
    for (int run = 0; run < runs; ++run) {
        const auto start = std::chrono::steady_clock::now();
        auto stream = talveco::AcmStream::openFile(argv[1]);
        const std::size_t count = stream.sampleCount();
        const auto samples = std::make_unique_for_overwrite<std::int16_t[]>(count);
        if (huge) askForHugePages(samples.get(), count);
        const std::size_t got = stream.read({samples.get(), count});
        const auto end = std::chrono::steady_clock::now();
        checksum = 0;
        for (std::size_t i = 0; i < got; ++i)  // wraps, as numpy's uint64 does
            checksum += (i + 1) * static_cast<std::uint64_t>(std::int64_t{samples[i]});
        std::printf("%.1f\n", std::chrono::duration<double, std::milli>(end - start).count());
    }
    std::printf("checksum %llu\n", static_cast<unsigned long long>(checksum));
}
