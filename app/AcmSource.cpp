#include "app/AcmSource.h"

namespace talveco {

AcmSource::AcmSource() = default;
AcmSource::~AcmSource() = default;

void AcmSource::open(const std::string& path) {
    // A decoder may still read its file from a second thread.
    decoder_.reset();
    file_ = std::make_unique<InputFile>(path);
    decoder_ = createAcmDecoder(*file_);
    // The decoder refuses sample counts above limits::maxSamples, so this fits.
    byteSize_ = static_cast<std::int32_t>(decoder_->header().sampleCount * 2);
}

std::size_t AcmSource::read(std::span<std::uint8_t> buffer) {
    return decoder_ ? decoder_->readSampleBytes(buffer) : 0;
}

std::uint64_t AcmSource::bytesPastInputEnd() const {
    return decoder_ ? 2 * decoder_->samplesPastEndOfInput() : 0;
}

std::optional<FileIdentity> AcmSource::inputIdentity() const {
    if (!file_) return std::nullopt;
    return file_->identity();
}

}  // namespace talveco
