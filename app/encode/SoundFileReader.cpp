#include "app/encode/SoundFileReader.h"

#include <algorithm>
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

// libsndfile reads a WAV or AIFF file whose audio chunk is cut short up to where the file ends
// and only notes it in its log, as "data : ANNOUNCED (should be PRESENT)" ("SSND" in AIFF).
// Returns the announced and present sizes of such a chunk, or nothing.
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

}  // namespace

SoundFileReader::SoundFileReader(const std::string& path) : file_(path) {
    // The descriptor stays InputFile's: it was opened read-only, and libsndfile must not
    // close it.
    sound_ = ::sf_open_fd(file_.descriptor(), SFM_READ, &info_, SF_FALSE);
    if (sound_ == nullptr) {
        throw InputRefused(std::string("not a readable audio file (") + ::sf_strerror(nullptr) +
                           ")");
    }
    try {
        refuseTruncated();
        refuseUnencodable();
    } catch (...) {
        ::sf_close(sound_);
        throw;
    }
}

SoundFileReader::~SoundFileReader() {
    ::sf_close(sound_);
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
    if (info_.frames < 0 || frames() > limits::maxSamples / channels()) {
        throw InputRefused(
            "too long: an ACM file holds fewer than 2^30 samples (all channels "
            "together), this one has " +
            std::to_string(info_.frames) + " frames of " + std::to_string(info_.channels) +
            " channels");
    }
}

void SoundFileReader::refuseTruncated() const {
    std::string log(16384, '\0');
    ::sf_command(sound_, SFC_GET_LOG_INFO, log.data(), static_cast<int>(log.size()));
    if (const auto sizes = shortAudioChunk(log.c_str())) {
        throw InputRefused("truncated: the header announces " + std::to_string(sizes->first) +
                           " bytes of audio, the file holds " + std::to_string(sizes->second));
    }
}

std::int16_t SoundFileReader::toSixteenBits(double value) {
    // libsndfile delivers integer formats scaled to [-1, 1), so 16-bit input comes back exact
    // and wider input is rounded here, not truncated.
    return sixteenBitsFromFullScale(value, clipped_);
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

std::size_t SoundFileReader::read(std::span<std::int16_t> out) {
    const std::size_t frameCapacity = out.size() / channels();
    const std::uint64_t framesLeft = frames() - framesRead_;
    const auto wanted = static_cast<sf_count_t>(std::min<std::uint64_t>(frameCapacity, framesLeft));
    if (wanted == 0) return 0;
    const sf_count_t got = readConverted(out, wanted);
    if (got != wanted) {
        throw InputRefused("cannot be read to its end (" + std::string(::sf_strerror(sound_)) +
                           ")");
    }
    framesRead_ += static_cast<std::uint64_t>(got);
    return static_cast<std::size_t>(got) * channels();
}

}  // namespace talveco
