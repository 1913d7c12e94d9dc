// The library's face: an ACM stream opened from a file or from memory.
#include <algorithm>
#include <new>

#include "acm/AcmDecoder.h"
#include "acm/StreamReader.h"
#include "platform/Failure.h"
#include "platform/InputFile.h"
#include "talveco/talveco.h"

namespace talveco {
namespace {

// The bytes, owned, and read through a view of them.
class BytesInMemory final : public ByteSource {
  public:
    explicit BytesInMemory(std::vector<std::uint8_t>&& bytes) : bytes_(std::move(bytes)) {}

    std::size_t readSome(std::span<std::uint8_t> buffer) override { return view_.readSome(buffer); }

  private:
    std::vector<std::uint8_t> bytes_;
    BytesInView view_{bytes_};
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

struct AcmStream::State : StreamReader {
    State(std::unique_ptr<ByteSource> source, const OpenOptions& options)
        : StreamReader(std::move(source), options.secondThread ? DecodeThreads::automatic
                                                               : DecodeThreads::sequential) {}
};

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
    return state_->header().channels;
}
unsigned AcmStream::sampleRate() const noexcept {
    return state_->header().sampleRate;
}
std::uint32_t AcmStream::sampleCount() const noexcept {
    return state_->header().sampleCount;
}

unsigned AcmStream::levels() const noexcept {
    return state_->header().levels;
}
unsigned AcmStream::rows() const noexcept {
    return state_->header().rows;
}

std::size_t AcmStream::read(std::span<std::int16_t> out) {
    return state_->read(out);
}

std::uint64_t AcmStream::damagedBlocks() const noexcept {
    return state_->damagedBlocks();
}

std::uint64_t AcmStream::samplesPastEndOfInput() const noexcept {
    return state_->samplesPastEndOfInput();
}

}  // namespace talveco
