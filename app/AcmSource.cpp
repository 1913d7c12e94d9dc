#include "app/AcmSource.h"

namespace talveco {

AcmSource::AcmSource() = default;
AcmSource::~AcmSource() = default;

void AcmSource::open(const std::string& path) {
    // A decoder may still read its file from a second thread.
    decoder_.reset();
    damagedBlocks_ = 0;
    file_ = std::make_unique<InputFile>(path);
    decoder_ = createAcmDecoder(*file_);
    // The decoder refuses sample counts above limits::maxSamples, so this fits.
    byteSize_ = static_cast<std::int32_t>(decoder_->header().sampleCount * 2);
}

// The decoder delivers fewer samples than asked only at the end of the
// stream or at a block it cannot unpack.
std::size_t AcmSource::read(std::span<std::uint8_t> buffer) {
    if (!decoder_) return 0;
    const std::size_t got = decoder_->readSampleBytes(buffer);
    if (got < buffer.size() / 2 * 2 && !decoder_->ended()) ++damagedBlocks_;
    return got;
}

std::uint64_t AcmSource::bytesPastInputEnd() const {
    return decoder_ ? 2 * decoder_->samplesPastEndOfInput() : 0;
}

std::optional<FileIdentity> AcmSource::inputIdentity() const {
    if (!file_) return std::nullopt;
    return file_->identity();
}

}  // namespace talveco
