// An audio file of any format libsndfile reads, opened read-only and delivered as interleaved
// 16-bit samples: wider and floating-point samples are rounded to 16 bits, floating-point
// samples beyond full scale clipped.
#pragma once

#include <sndfile.h>

#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/FileIdentity.h"
#include "platform/InputFile.h"

namespace talveco {

// An input that opens but cannot be encoded (not audio, too many channels, ...); what() says
// why.
class InputRefused : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

class SoundFileReader {
  public:
    // Raises a Failure when the file cannot be opened and InputRefused when it is no audio
    // file libsndfile knows, or one an ACM file cannot carry.
    explicit SoundFileReader(const std::string& path);
    ~SoundFileReader();
    SoundFileReader(const SoundFileReader&) = delete;
    SoundFileReader& operator=(const SoundFileReader&) = delete;

    unsigned channels() const noexcept { return static_cast<unsigned>(info_.channels); }
    unsigned sampleRate() const noexcept { return static_cast<unsigned>(info_.samplerate); }
    std::uint64_t frames() const noexcept { return static_cast<std::uint64_t>(info_.frames); }
    FileIdentity identity() const noexcept { return file_.identity(); }

    // Fills `out` with whole frames and returns how many samples it stored; 0 at the end.
    // Raises InputRefused when the file cannot be read to its announced end.
    std::size_t read(std::span<std::int16_t> out);
    // Samples so far that lay beyond full scale and were clipped.
    std::uint64_t clippedSamples() const noexcept { return clipped_; }

  private:
    void refuseUnencodable() const;
    void refuseTruncated() const;
    bool sixteenBitsOrFewer() const;
    sf_count_t readConverted(std::span<std::int16_t> out, sf_count_t frames);
    std::int16_t toSixteenBits(double value);

    InputFile file_;
    SF_INFO info_{};
    SNDFILE* sound_ = nullptr;
    std::vector<double> buffer_;
    std::uint64_t framesRead_ = 0;
    std::uint64_t clipped_ = 0;
};

}  // namespace talveco
