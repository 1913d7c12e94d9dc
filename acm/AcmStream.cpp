// The library's face: an ACM stream opened from a file or from memory.
#include <algorithm>
#include <new>

#include "acm/AcmDecoder.h"
#include "platform/Failure.h"
#include "platform/InputFile.h"
#include "talveco/talveco.h"

namespace talveco {
namespace {

class BytesInMemory final : public ByteSource {
  public:
    explicit BytesInMemory(std::vector<std::uint8_t>&& bytes) : bytes_(std::move(bytes)) {}

    std::size_t readSome(std::span<std::uint8_t> buffer) override {
        const std::size_t count = std::min(buffer.size(), bytes_.size() - position_);
        std::copy_n(bytes_.begin() + static_cast<std::ptrdiff_t>(position_), count, buffer.begin());
        position_ += count;
        return count;
    }

  private:
    std::vector<std::uint8_t> bytes_;
    std::size_t position_ = 0;
};

class BytesFromReader final : public ByteSource {
  public:
    explicit BytesFromReader(AcmStream::Reader reader) : reader_(std::move(reader)) {}

    std::size_t readSome(std::span<std::uint8_t> buffer) override {
        return std::min(reader_(buffer), buffer.size());
    }

  private:
    AcmStream::Reader reader_;
};

}  // namespace

struct AcmStream::State {
    State(std::unique_ptr<ByteSource> source, const OpenOptions& options)
        : input(std::move(source)),
          decoder(createAcmDecoder(
              *input, BitReader::defaultReadSize,
              options.secondThread ? DecodeThreads::automatic : DecodeThreads::sequential)) {}

    std::size_t read(std::span<std::int16_t> out);

    std::unique_ptr<ByteSource> input;  // declared first: the decoder reads from it
    std::unique_ptr<AcmDecoder> decoder;
    std::uint64_t damagedBlocks = 0;
    bool damagedSinceSamples = false;  // a damaged block, and no sample decoded since
    bool stopped = false;              // two damaged blocks in a row ended the stream
};

// The decoder stops a read at a damaged block and tries again behind it on
// the next call; here reading goes on at once, so that what the caller gets
// does not depend on where its reads begin and end.
std::size_t AcmStream::State::read(std::span<std::int16_t> out) {
    std::size_t total = 0;
    while (total < out.size() && !stopped) {
        const std::size_t got = decoder->readSamples(out.subspan(total));
        total += got;
        if (got > 0) damagedSinceSamples = false;
        if (total == out.size() || decoder->ended()) break;
        ++damagedBlocks;
        stopped = damagedSinceSamples;
        damagedSinceSamples = true;
    }
    return total;
}

namespace {

// Allocation failures reach the caller as the program reports them.
template <typename Make>
auto outOfMemoryAsFailure(Make make) {
    try {
        return make();
    } catch (const std::bad_alloc&) {
        throw Failure(FailureKind::OutOfMemory);
    }
}

}  // namespace

AcmStream::AcmStream(std::unique_ptr<State> state) : state_(std::move(state)) {}
AcmStream::AcmStream(AcmStream&&) noexcept = default;
AcmStream& AcmStream::operator=(AcmStream&&) noexcept = default;
AcmStream::~AcmStream() = default;

AcmStream AcmStream::openFile(const std::string& path, const OpenOptions& options) {
    return outOfMemoryAsFailure([&] {
        return AcmStream(std::make_unique<State>(std::make_unique<InputFile>(path), options));
    });
}

AcmStream AcmStream::openMemory(std::span<const std::uint8_t> bytes, const OpenOptions& options) {
    return outOfMemoryAsFailure(
        [&] { return openMemory(std::vector<std::uint8_t>(bytes.begin(), bytes.end()), options); });
}

AcmStream AcmStream::openMemory(std::vector<std::uint8_t>&& bytes, const OpenOptions& options) {
    return outOfMemoryAsFailure([&] {
        return AcmStream(
            std::make_unique<State>(std::make_unique<BytesInMemory>(std::move(bytes)), options));
    });
}

AcmStream AcmStream::openReader(Reader readSome) {
    return outOfMemoryAsFailure([&] {
        return AcmStream(
            std::make_unique<State>(std::make_unique<BytesFromReader>(std::move(readSome)),
                                    OpenOptions{.secondThread = false}));
    });
}

unsigned AcmStream::channels() const noexcept {
    return state_->decoder->header().channels;
}
unsigned AcmStream::sampleRate() const noexcept {
    return state_->decoder->header().sampleRate;
}
std::uint32_t AcmStream::sampleCount() const noexcept {
    return state_->decoder->header().sampleCount;
}

unsigned AcmStream::levels() const noexcept {
    return state_->decoder->header().levels;
}
unsigned AcmStream::rows() const noexcept {
    return state_->decoder->header().rows;
}

std::size_t AcmStream::read(std::span<std::int16_t> out) {
    return state_->read(out);
}

std::uint64_t AcmStream::damagedBlocks() const noexcept {
    return state_->damagedBlocks;
}

std::uint64_t AcmStream::samplesPastEndOfInput() const noexcept {
    return state_->decoder->samplesPastEndOfInput();
}

}  // namespace talveco
