#include "tests/support/WrappedSamples.h"

#include <algorithm>
#include <vector>

#include "acm/AcmDecoder.h"
#include "acm/BlockProducer.h"
#include "acm/InverseTransform.h"
#include "tests/support/MemoryByteSource.h"

namespace talveco::testing {

std::size_t wrappedSamples(std::span<const std::uint8_t> stream) {
    constexpr std::size_t headerSize = 14;
    if (stream.size() < headerSize) return 0;
    const std::uint32_t count = std::uint32_t(stream[4]) | std::uint32_t(stream[5]) << 8 |
                                std::uint32_t(stream[6]) << 16 | std::uint32_t(stream[7]) << 24;
    const unsigned levels = stream[12] & 15u;
    const unsigned rows = (stream[12] >> 4) | unsigned(stream[13]) << 4;
    const BlockGeometry geometry = blockGeometry(levels, rows);
    MemoryByteSource source(std::vector<std::uint8_t>(stream.begin() + headerSize, stream.end()));
    BlockProducer producer(BitReader(source), geometry, count);
    std::vector<std::int32_t> block(geometry.blockSize);
    std::vector<std::uint32_t> carries(geometry.carryCount, 0);
    std::size_t wrapped = 0;
    for (std::size_t left = count; left > 0 && producer.unpackNext(block) == BlockOutcome::good;) {
        inverseTransform(geometry, block, carries);
        const std::size_t used = std::min(left, block.size());
        wrapped += std::size_t(std::count_if(block.begin(), block.begin() + std::ptrdiff_t(used),
                                             [levels](std::int32_t value) {
                                                 const std::int32_t shifted = value >> levels;
                                                 return shifted < -32768 || shifted > 32767;
                                             }));
        left -= used;
    }
    return wrapped;
}

}  // namespace talveco::testing
