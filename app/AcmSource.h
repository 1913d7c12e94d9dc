// The ACM file as a sound source for the conversion job.
#pragma once

#include <memory>

#include "acm/AcmDecoder.h"
#include "platform/InputFile.h"
#include "wav/SoundSource.h"

namespace talveco {

class AcmSource final : public SoundSource {
  public:
    AcmSource();
    ~AcmSource() override;

    void open(const std::string& path) override;
    std::int32_t size() const override { return byteSize_; }
    std::size_t read(std::span<std::uint8_t> buffer) override;
    std::optional<FileIdentity> inputIdentity() const override;
    std::uint64_t bytesPastInputEnd() const override;
    std::uint64_t damagedBlocks() const override { return damagedBlocks_; }

  private:
    std::unique_ptr<InputFile> file_;
    std::unique_ptr<AcmDecoder> decoder_;
    std::int32_t byteSize_ = 0;
    std::uint64_t damagedBlocks_ = 0;
};

}  // namespace talveco
