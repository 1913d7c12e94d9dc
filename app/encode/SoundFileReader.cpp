#include "app/encode/SoundFileReader.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <optional>
#include <string_view>
#include <utility>

#include "encoder/FullScale.h"
#include "talveco/limits.h"

namespace talveco {
namespace {

// The size a streaming writer puts in a header it cannot go back to: the length is unknown,
// not wrong, and the data runs to the end of the file.
constexpr std::uint64_t kUnknownLength = 0xFFFFFFFF;

std::uint64_t leadingNumber(std::string_view text) {
    std::uint64_t value = 0;
    std::from_chars(text.data(), text.data() + text.size(), value);
    return value;
}

// libsndfile reads a WAV or AIFF file whose audio chunk is shorter than its header says up to
// where the file ends and only notes it in its log, as "data : ANNOUNCED (should be PRESENT)"
// ("SSND" in AIFF). Returns the announced and present sizes of such a chunk, or nothing.
std::optional<std::pair<std::uint64_t, std::uint64_t>> shortAudioChunk(std::string_view log) {
    for (std::string_view chunk : {"data : ", "SSND : "}) {
        const auto at = log.find(chunk);
        if (at == std::string_view::npos) continue;
        const auto start = at + chunk.size();
        const std::string_view line = log.substr(start, log.find('\n', start) - start);
        const auto should = line.find("(should be ");
        if (should == std::string_view::npos) continue;
        const std::uint64_t announced = leadingNumber(line);
        const std::uint64_t present = leadingNumber(line.substr(should + 11));
        if (announced > present && announced != kUnknownLength) {
            return std::pair{announced, present};
        }
    }
    return std::nullopt;
}

// Bytes of one sample of a linear format, or 0 for formats whose frames are not counted in
// bytes (ADPCM, compressed).
unsigned bytesPerSample(int format) {
    switch (format & SF_FORMAT_SUBMASK) {
        case SF_FORMAT_PCM_S8:
        case SF_FORMAT_PCM_U8:
            return 1;
        case SF_FORMAT_PCM_16:
            return 2;
        case SF_FORMAT_PCM_24:
            return 3;
        case SF_FORMAT_PCM_32:
        case SF_FORMAT_FLOAT:
            return 4;
        case SF_FORMAT_DOUBLE:
            return 8;
        default:
            return 0;
    }
}

// Whether the file behind `fd` starts as an ACM stream does; a pipe cannot be looked into
// without taking the bytes from libsndfile, and is left to it.
bool startsAsAcm(int fd) {
    std::uint8_t start[4] = {};
    const std::uint8_t signature[4] = {0x97, 0x28, 0x03, 0x01};
    return ::pread(fd, start, sizeof start, 0) == sizeof start &&
           std::equal(std::begin(start), std::end(start), std::begin(signature));
}

FileIdentity identityOf(int fd) {
    struct stat info {};
    if (::fstat(fd, &info) != 0) return {};
    return FileIdentity{info.st_dev, info.st_ino};
}

}  // namespace

SoundFileReader::SoundFileReader(const std::string& path) {
    int fd = 0;  // standard input
    if (path != "-") {
        file_ = std::make_unique<InputFile>(path);
        fd = file_->descriptor();
    }
    identity_ = file_ ? file_->identity() : identityOf(fd);
    if (startsAsAcm(fd)) {
        openAcm(fd);
        return;
    }
    // The descriptor stays InputFile's (or the process's): it was opened read-only, and
    // libsndfile must not close it.
    sound_ = ::sf_open_fd(fd, SFM_READ, &info_, SF_FALSE);
    if (sound_ == nullptr) {
        throw InputRefused(std::string("not a readable audio file (") + ::sf_strerror(nullptr) +
                           ")");
    }
    try {
        checkAnnouncedLength();
        refuseUnencodable();
    } catch (...) {
        ::sf_close(sound_);
        throw;
    }
}

SoundFileReader::~SoundFileReader() {
    if (sound_ != nullptr) ::sf_close(sound_);
}

void SoundFileReader::openAcm(int fd) {
    // Read where the file starts (pread left the offset alone), on this thread only.
    acm_ = AcmStream::openReader([fd](std::span<std::uint8_t> buffer) -> std::size_t {
        for (;;) {
            const ssize_t got = ::read(fd, buffer.data(), buffer.size());
            if (got >= 0) return static_cast<std::size_t>(got);
            if (errno != EINTR) throw Failure(FailureKind::IoError, errno);
        }
    });
    info_.channels = static_cast<int>(acm_->channels());
    info_.samplerate = static_cast<int>(acm_->sampleRate());
    info_.frames = static_cast<sf_count_t>(acm_->sampleCount() / acm_->channels());
    info_.seekable = 1;
    refuseUnencodable();
}

// A damaged or cut short stream is refused, as talveco-decode removes what it decodes of one:
// coding it again would make a sound nobody asked for look whole.
std::size_t SoundFileReader::readAcm(std::span<std::int16_t> out) {
    std::size_t got = 0;
    try {
        got = acm_->read(out.first(out.size() / channels() * channels()));
    } catch (const Failure& failure) {
        throw InputRefused(std::string("reading: ") + failure.what());  // not the output's
    }
    std::string problem;
    if (acm_->damagedBlocks() > 0) {
        problem = "blocks that could not be decoded: " + std::to_string(acm_->damagedBlocks());
    } else if (acm_->samplesPastEndOfInput() > 0) {
        problem =
            "samples past the end of the file: " + std::to_string(acm_->samplesPastEndOfInput());
    } else if (got % channels() != 0) {
        problem = "the stream ends inside a frame";
    }
    if (!problem.empty()) throw InputRefused("damaged or cut short: " + problem);
    framesRead_ += got / channels();
    return got;
}

std::optional<std::uint64_t> SoundFileReader::frames() const noexcept {
    if (!seekable() || info_.frames < 0) return std::nullopt;
    return static_cast<std::uint64_t>(info_.frames);
}

void SoundFileReader::refuseUnencodable() const {
    if (info_.channels > 2) {
        throw InputRefused(std::to_string(info_.channels) +
                           " channels: only mono and stereo files can be encoded");
    }
    if (info_.samplerate < 1 || static_cast<unsigned>(info_.samplerate) > limits::maxSampleRate) {
        throw InputRefused(std::to_string(info_.samplerate) +
                           " Hz: an ACM file states rates from 1 to 65535 Hz; resample first");
    }
    // A pipe's length is not known before its end; the encoder refuses the sample too many.
    if (frames() && *frames() > limits::maxSamples / channels()) {
        throw InputRefused(
            "too long: an ACM file holds fewer than 2^30 samples (all channels "
            "together), this one has " +
            std::to_string(info_.frames) + " frames of " + std::to_string(info_.channels) +
            " channels");
    }
}

// A header that announces more audio than the file holds is what programs writing to a pipe
// leave behind (they cannot go back to fill in the length): read to the end of the data, as
// flac and oggenc do. Only a file that ends inside a frame is damaged for sure.
void SoundFileReader::checkAnnouncedLength() {
    std::string log(16384, '\0');
    ::sf_command(sound_, SFC_GET_LOG_INFO, log.data(), static_cast<int>(log.size()));
    const auto sizes = shortAudioChunk(log.c_str());
    if (!sizes) return;
    const std::uint64_t frameBytes = std::uint64_t{bytesPerSample(info_.format)} * channels();
    if (frameBytes > 0 && sizes->second % frameBytes != 0) {
        throw InputRefused("truncated in the middle of a frame: the header announces " +
                           std::to_string(sizes->first) + " bytes of audio, the file holds " +
                           std::to_string(sizes->second));
    }
    notes_.push_back("the header announces " + std::to_string(sizes->first) +
                     " bytes of audio, the file holds " + std::to_string(sizes->second) +
                     " (as a program writing to a pipe leaves it); encoded those");
}

std::int16_t SoundFileReader::toSixteenBits(double value) {
    // libsndfile delivers integer formats scaled to [-1, 1), so 16-bit input comes back exact
    // and wider input is rounded here, not truncated.
    return sixteenBitsFromFullScale(value, clipped_, notNumbers_);
}

bool SoundFileReader::sixteenBitsOrFewer() const {
    switch (info_.format & SF_FORMAT_SUBMASK) {
        case SF_FORMAT_PCM_S8:
        case SF_FORMAT_PCM_U8:
        case SF_FORMAT_PCM_16:
            return true;
        default:
            return false;
    }
}

sf_count_t SoundFileReader::readConverted(std::span<std::int16_t> out, sf_count_t frames) {
    // Samples that fit in 16 bits come as they are, which is also the fastest way.
    if (sixteenBitsOrFewer()) return ::sf_readf_short(sound_, out.data(), frames);
    buffer_.resize(static_cast<std::size_t>(frames) * channels());
    const sf_count_t got = ::sf_readf_double(sound_, buffer_.data(), frames);
    std::transform(buffer_.begin(), buffer_.end(), out.begin(),
                   [this](double value) { return toSixteenBits(value); });
    return got;
}

// MP3 lengths are libsndfile's estimate, and a pipe's header could not be corrected at its end;
// other formats state their length exactly, so a shortfall means damage.
bool SoundFileReader::lengthIsAnEstimate() const {
    return !seekable() || (info_.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_MPEG;
}

void SoundFileReader::endedEarly(sf_count_t got) {
    const std::uint64_t held = framesRead_ + static_cast<std::uint64_t>(got);
    const std::string announced = std::to_string(info_.frames);
    const int error = ::sf_error(sound_);
    if (error != SF_ERR_NO_ERROR || !lengthIsAnEstimate()) {
        throw InputRefused("damaged or cut short: " + std::to_string(held) + " of " + announced +
                           " frames could be read (" + ::sf_strerror(sound_) + ")");
    }
    ended_ = true;
    if (!notes_.empty()) return;  // said already, on a first pass
    notes_.push_back(seekable() ? "libsndfile estimated " + announced + " frames, the file holds " +
                                      std::to_string(held) + "; encoded those"
                                : "the header announces " + announced + " frames, the input held " +
                                      std::to_string(held) +
                                      " (as a program writing to a pipe leaves it); encoded those");
}

std::size_t SoundFileReader::read(std::span<std::int16_t> out) {
    if (acm_) return readAcm(out);
    if (ended_) return 0;
    const std::uint64_t frameCapacity = out.size() / channels();
    const std::uint64_t framesLeft = static_cast<std::uint64_t>(
        std::max<sf_count_t>(0, info_.frames - static_cast<sf_count_t>(framesRead_)));
    const auto wanted = static_cast<sf_count_t>(std::min(frameCapacity, framesLeft));
    if (wanted == 0) return 0;
    const sf_count_t got = readConverted(out, wanted);
    if (got < wanted) endedEarly(got);
    framesRead_ += static_cast<std::uint64_t>(got);
    return static_cast<std::size_t>(got) * channels();
}

}  // namespace talveco
