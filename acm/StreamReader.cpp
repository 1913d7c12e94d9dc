#include "acm/StreamReader.h"

namespace talveco {

StreamReader::StreamReader(std::unique_ptr<ByteSource> input, DecodeThreads threads)
    : input_(std::move(input)),
      decoder_(createAcmDecoder(*input_, BitReader::defaultReadSize, threads)) {}

// The decoder stops a read at a damaged block and tries again behind it on
// the next call; here reading goes on at once.
std::size_t StreamReader::read(std::span<std::int16_t> out) {
    std::size_t total = 0;
    while (total < out.size() && !stopped_) {
        const std::size_t got = decoder_->readSamples(out.subspan(total));
        total += got;
        if (got > 0) damagedSinceSamples_ = false;
        if (total == out.size() || decoder_->ended()) break;
        ++damagedBlocks_;
        stopped_ = damagedSinceSamples_;
        damagedSinceSamples_ = true;
    }
    return total;
}

}  // namespace talveco
