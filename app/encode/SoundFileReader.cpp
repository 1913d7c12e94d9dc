#include "app/encode/SoundFileReader.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <exception>
#include <optional>
#include <string_view>
#include <utility>

#include "app/common/SndfileOpening.h"
#include "encoder/FullScale.h"
#include "platform/Failure.h"
#include "platform/ScratchFile.h"

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

}  // namespace

// All of an input that cannot be read at will (a pipe), held in a scratch file (its first MiB in
// memory) so that libsndfile can seek in it and the ACM signature can be looked for without
// taking bytes from either reader.
struct SoundFileReader::Copy {
    // More than any input an ACM file can carry takes (2^30 samples of 8 bytes, and room for a
    // header): an endless pipe stops here rather than filling the disk.
    static constexpr std::uint64_t kMostBytes = (std::uint64_t{8} << 30) + (std::uint64_t{1} << 20);

    ScratchFile bytes{""};  // in $TMPDIR: an input has no folder of its own
    std::uint64_t size = 0;

    explicit Copy(ByteSource& input) {
        std::vector<std::uint8_t> piece(std::size_t{1} << 16);
        while (const std::size_t got = input.readSome(piece)) {
            if (size + got > kMostBytes) {
                throw InputRefused("too long: more than " + std::to_string(kMostBytes >> 30) +
                                   " GiB, more than an ACM file can carry in any format");
            }
            hold(std::span(piece).first(got));
        }
    }

    // A full disk or a $TMPDIR that cannot take the copy is no fault of the input.
    void hold(std::span<const std::uint8_t> piece) {
        try {
            bytes.append(std::as_bytes(piece));
        } catch (const Failure& scratchFailure) {
            throw InputRefused(std::string("holding the input in a scratch file: ") +
                               scratchFailure.what());
        }
        size += piece.size();
    }

    std::size_t readAt(std::uint64_t offset, std::span<std::uint8_t> out) const {
        const auto count = static_cast<std::size_t>(
            std::min<std::uint64_t>(out.size(), size - std::min(offset, size)));
        bytes.read(offset, std::as_writable_bytes(out.first(count)));
        return count;
    }
};

// Where libsndfile reads in the input. It is handed the bytes through these calls, never the
// descriptor: libsndfile closes a descriptor it could not open as a sound, even one it was told
// to leave open, and another job may have opened a file under the same number by then.
struct SoundFileReader::Cursor {
    SoundFileReader& reader;
    std::uint64_t size;
    std::uint64_t position = 0;
    std::exception_ptr failure;  // of a read under libsndfile, raised once it returns

    static Cursor& of(void* user) { return *static_cast<Cursor*>(user); }
    static sf_count_t length(void* user) { return static_cast<sf_count_t>(of(user).size); }
    static sf_count_t tell(void* user) { return static_cast<sf_count_t>(of(user).position); }
    static sf_count_t seek(sf_count_t offset, int whence, void* user) {
        Cursor& cursor = of(user);
        const auto base = static_cast<sf_count_t>(whence == SEEK_CUR   ? cursor.position
                                                  : whence == SEEK_END ? cursor.size
                                                                       : 0);
        if (base + offset < 0) return -1;
        cursor.position = static_cast<std::uint64_t>(base + offset);
        return base + offset;
    }
    // No exception may pass through libsndfile: a failure ends the data here and is kept.
    static sf_count_t read(void* data, sf_count_t count, void* user) {
        Cursor& cursor = of(user);
        try {
            const std::size_t got = cursor.reader.readAt(
                cursor.position,
                {static_cast<std::uint8_t*>(data), static_cast<std::size_t>(count)});
            cursor.position += got;
            return static_cast<sf_count_t>(got);
        } catch (...) {
            cursor.failure = std::current_exception();
            return 0;
        }
    }
    static sf_count_t write(const void*, sf_count_t, void*) { return 0; }
};

SoundFileReader::SoundFileReader(const std::string& path)
    : file_(path == "-" ? InputFile::standardInput() : std::make_unique<InputFile>(path)) {
    if (!file_->seekable()) copy_ = std::make_unique<Copy>(*file_);
    if (startsAsAcm()) {
        openAcm();
        return;
    }
    openSound();
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

std::size_t SoundFileReader::readAt(std::uint64_t offset, std::span<std::uint8_t> out) {
    return copy_ ? copy_->readAt(offset, out) : file_->readAt(offset, out);
}

// A device that seeks but cannot be read at an offset is left to libsndfile.
bool SoundFileReader::startsAsAcm() {
    std::array<std::uint8_t, 4> start{};
    const std::array<std::uint8_t, 4> signature{0x97, 0x28, 0x03, 0x01};
    try {
        return readAt(0, start) == start.size() && start == signature;
    } catch (const Failure&) {
        return false;
    }
}

void SoundFileReader::openSound() {
    static SF_VIRTUAL_IO callbacks{Cursor::length, Cursor::seek, Cursor::read, Cursor::write,
                                   Cursor::tell};
    cursor_ =
        std::make_unique<Cursor>(Cursor{*this, copy_ ? copy_->size : file_->size(), 0, nullptr});
    const SndfileOpening opening =
        openSndfile([&] { return ::sf_open_virtual(&callbacks, SFM_READ, &info_, cursor_.get()); });
    sound_ = opening.sound;
    if (cursor_->failure && sound_ != nullptr) {
        ::sf_close(sound_);
        sound_ = nullptr;
    }
    raiseReadFailure();
    if (sound_ == nullptr) {
        throw InputRefused("not a readable audio file (" + opening.failure + ")");
    }
}

// A read that failed under libsndfile made it see the end of the data: that is no end of the
// input, nor anything the output is to blame for.
void SoundFileReader::raiseReadFailure() {
    if (!cursor_ || !cursor_->failure) return;
    try {
        std::rethrow_exception(std::exchange(cursor_->failure, nullptr));
    } catch (const Failure& failure) {
        throw InputRefused(std::string("reading: ") + failure.what());
    }
}

void SoundFileReader::openAcm() {
    // The stream reads from the start, on this thread only, and takes the bytes in turn.
    acm_ = AcmStream::openReader([this](std::span<std::uint8_t> buffer) {
        const std::size_t got = readAt(acmBytesRead_, buffer);
        acmBytesRead_ += got;
        return got;
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

// libsndfile states the length it cannot find (an Ogg stream whose last page is missing) as
// the largest count there is.
std::optional<std::uint64_t> SoundFileReader::frames() const noexcept {
    if (info_.frames < 0 || info_.frames == SF_COUNT_MAX) return std::nullopt;
    return static_cast<std::uint64_t>(info_.frames);
}

void SoundFileReader::refuseUnencodable() const {
    if (info_.samplerate < 1) {
        throw InputRefused(std::to_string(info_.samplerate) + " Hz: not a sample rate");
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

sf_count_t SoundFileReader::readConverted(std::span<double> out, sf_count_t frames) {
    return ::sf_readf_double(sound_, out.data(), frames);
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

// MP3 lengths are libsndfile's estimate; other formats state their length exactly, so a
// shortfall means damage.
bool SoundFileReader::lengthIsAnEstimate() const {
    return (info_.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_MPEG;
}

void SoundFileReader::endedEarly(sf_count_t got) {
    const std::uint64_t held = framesRead_ + static_cast<std::uint64_t>(got);
    const std::string announced = std::to_string(info_.frames);
    const int error = ::sf_error(sound_);
    if (!frames()) {
        if (error != SF_ERR_NO_ERROR) {
            throw InputRefused("damaged: after " + std::to_string(held) + " frames (" +
                               ::sf_strerror(sound_) + ")");
        }
        ended_ = true;
        return;
    }
    if (error != SF_ERR_NO_ERROR || !lengthIsAnEstimate()) {
        throw InputRefused("damaged or cut short: " + std::to_string(held) + " of " + announced +
                           " frames could be read (" + ::sf_strerror(sound_) + ")");
    }
    ended_ = true;
    if (!notes_.empty()) return;  // said already, on a first pass
    notes_.push_back("libsndfile estimated " + announced + " frames, the file holds " +
                     std::to_string(held) + "; encoded those");
}

std::size_t SoundFileReader::readAcm(std::span<double> out) {
    acmBuffer_.resize(out.size());
    const std::size_t got = readAcm(std::span(acmBuffer_));
    std::transform(acmBuffer_.begin(), acmBuffer_.begin() + static_cast<std::ptrdiff_t>(got),
                   out.begin(), [](std::int16_t sample) { return sample / 32768.0; });
    return got;
}

template <typename Sample>
std::size_t SoundFileReader::readSound(std::span<Sample> out) {
    if (ended_) return 0;
    const std::uint64_t frameCapacity = out.size() / channels();
    const std::uint64_t framesLeft =
        frames() ? *frames() - std::min(*frames(), framesRead_) : frameCapacity;
    const auto wanted = static_cast<sf_count_t>(std::min(frameCapacity, framesLeft));
    if (wanted == 0) return 0;
    const sf_count_t got = readConverted(out, wanted);
    raiseReadFailure();
    if (got < wanted) endedEarly(got);
    framesRead_ += static_cast<std::uint64_t>(got);
    return static_cast<std::size_t>(got) * channels();
}

std::size_t SoundFileReader::read(std::span<std::int16_t> out) {
    return acm_ ? readAcm(out) : readSound(out);
}

std::size_t SoundFileReader::read(std::span<double> out) {
    return acm_ ? readAcm(out) : readSound(out);
}

}  // namespace talveco
