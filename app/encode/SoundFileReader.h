// An audio file of any format libsndfile reads, or an ACM file, which talveco's own decoder
// reads (so that a stream can be coded again at another rate or geometry), opened read-only
// and delivered as interleaved samples: as 16-bit samples (wider and floating-point samples
// rounded, those beyond full scale clipped and NaN made 0), or at full scale as they are, for
// whatever fits them to the stream wanted first. Any channel count and rate is read; whether
// an ACM file can carry them is for the caller to say.
#pragma once

#include <sndfile.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "fit/InputRefused.h"
#include "platform/FileIdentity.h"
#include "platform/InputFile.h"
#include "talveco/talveco.h"

namespace talveco {

class SoundFileReader {
  public:
    // "-" reads standard input. An input that cannot be read at will (a pipe, a FIFO) is
    // first copied whole into a scratch file (see ScratchFile), so that every format reads
    // from standard input as from a file. Raises a Failure when the file cannot be opened or
    // copied and InputRefused when it is no audio file libsndfile knows, or one an ACM file
    // cannot carry.
    explicit SoundFileReader(const std::string& path);
    ~SoundFileReader();
    SoundFileReader(const SoundFileReader&) = delete;
    SoundFileReader& operator=(const SoundFileReader&) = delete;

    unsigned channels() const noexcept { return static_cast<unsigned>(info_.channels); }
    unsigned sampleRate() const noexcept { return static_cast<unsigned>(info_.samplerate); }
    // The frames the file announces; an estimate for MP3, unknown (nothing) where the file
    // states none, as an Ogg stream cut short.
    std::optional<std::uint64_t> frames() const noexcept;
    // Standard input has the identity of whatever it is (a file, a pipe).
    FileIdentity identity() const noexcept { return file_->identity(); }

    // Fills `out` with whole frames and returns how many samples it stored; 0 at the end.
    // Raises InputRefused when the file is damaged or cut short.
    std::size_t read(std::span<std::int16_t> out);
    // The same at full scale (-1 to 1), as the file holds the samples: nothing is clipped or
    // counted, and NaN stays NaN.
    std::size_t read(std::span<double> out);

    // Samples so far that lay beyond full scale and were clipped, and that were no number.
    std::uint64_t clippedSamples() const noexcept { return clipped_; }
    std::uint64_t notNumbers() const noexcept { return notNumbers_; }
    // What the user should know about how the input was read (a length in the header that
    // the file does not hold, an estimate that was off), one line each, without newlines.
    const std::vector<std::string>& notes() const noexcept { return notes_; }

  private:
    struct Copy;
    struct Cursor;

    std::size_t readAt(std::uint64_t offset, std::span<std::uint8_t> out);
    bool startsAsAcm();
    void openAcm();
    void openSound();
    void raiseReadFailure();
    std::size_t readAcm(std::span<std::int16_t> out);
    std::size_t readAcm(std::span<double> out);
    template <typename Sample>
    std::size_t readSound(std::span<Sample> out);
    void checkAnnouncedLength();
    void refuseUnencodable() const;
    bool sixteenBitsOrFewer() const;
    bool lengthIsAnEstimate() const;
    sf_count_t readConverted(std::span<std::int16_t> out, sf_count_t frames);
    sf_count_t readConverted(std::span<double> out, sf_count_t frames);
    void endedEarly(sf_count_t got);
    std::int16_t toSixteenBits(double value);

    std::unique_ptr<InputFile> file_;  // standard input too
    std::unique_ptr<Copy> copy_;       // all of file_, when it cannot seek
    std::unique_ptr<Cursor> cursor_;   // where libsndfile reads
    SF_INFO info_{};
    SNDFILE* sound_ = nullptr;        // none for an ACM file
    std::optional<AcmStream> acm_;    // an ACM file's stream
    std::uint64_t acmBytesRead_ = 0;  // where its stream reads on
    std::vector<double> buffer_;
    std::vector<std::int16_t> acmBuffer_;  // an ACM file's samples, read at full scale
    std::uint64_t framesRead_ = 0;
    bool ended_ = false;
    std::uint64_t clipped_ = 0;
    std::uint64_t notNumbers_ = 0;
    std::vector<std::string> notes_;
};

}  // namespace talveco
