// Writes a benchmark ACM stream (see BenchStreams.h) of about the given
// amount of PCM data:
//
//   make_bench_stream realistic|dense LEVELS OUTPUT.acm [PCM_MEGABYTES] [SEED] [ROWS]
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>

#include "bench/BenchStreams.h"

int main(int argc, char** argv) {
    using talveco::bench::StreamKind;
    if (argc < 4 || argc > 7) {
        std::cerr << "usage: make_bench_stream realistic|dense LEVELS OUTPUT.acm "
                     "[PCM_MEGABYTES] [SEED] [ROWS]\n";
        return 2;
    }
    const std::string kind = argv[1];
    const auto levels = static_cast<unsigned>(std::strtoul(argv[2], nullptr, 10));
    const double megabytes = argc > 4 ? std::strtod(argv[4], nullptr) : 100.0;
    const auto seed = static_cast<unsigned>(argc > 5 ? std::strtoul(argv[5], nullptr, 10) : 1);
    const auto rows = static_cast<unsigned>(argc > 6 ? std::strtoul(argv[6], nullptr, 10)
                                                     : talveco::bench::benchRows);
    if ((kind != "realistic" && kind != "dense") || levels > 15 || !(megabytes > 0) || rows == 0 ||
        rows > 65535) {
        std::cerr << "make_bench_stream: bad arguments\n";
        return 2;
    }
    const std::uint64_t blockSize = std::uint64_t{rows} << levels;
    const auto wanted = static_cast<std::uint64_t>(megabytes * 1e6 / 2);
    const std::uint64_t blocks = (wanted + blockSize - 1) / blockSize;
    const auto bytes = talveco::bench::makeBenchStream(
        kind == "dense" ? StreamKind::Dense : StreamKind::Realistic, levels, blocks, seed, rows);
    std::ofstream out(argv[3], std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
        std::cerr << "make_bench_stream: cannot write " << argv[3] << "\n";
        return 1;
    }
    return 0;
}
