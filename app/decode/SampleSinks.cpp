#include "app/decode/SampleSinks.h"

#include <sndfile.h>

#include <bit>
#include <vector>

#include "app/common/OutputPaths.h"
#include "wav/WavTemplates.h"

namespace talveco {
namespace {

// A 16-bit PCM WAV file: the header states the expected length, and is
// written again at the end when less came. Where it cannot be written again
// (a pipe) it states an unknown length instead, the streaming convention.
class WavSink final : public SampleSink {
  public:
    WavSink(OutputStream& out, const SoundShape& shape) : out_(out), shape_(shape) {
        const std::uint32_t length =
            out_.canRewrite() ? dataBytes(shape.samples) : kUnknownWavLength;
        out_.write(pcmWavHeader(shape.channels, shape.rate, length));
    }

    void write(std::span<const std::int16_t> samples) override {
        out_.write(littleEndianBytes(samples));
        written_ += samples.size();
    }

    void finish() override {
        if (written_ == shape_.samples || !out_.canRewrite()) return;
        out_.rewriteAt(0, pcmWavHeader(shape_.channels, shape_.rate, dataBytes(written_)));
    }

  private:
    // The samples as the file stores them: as they are in memory on a
    // little-endian machine, byte-swapped into a buffer on any other.
    std::span<const std::uint8_t> littleEndianBytes(std::span<const std::int16_t> samples) {
        if constexpr (std::endian::native == std::endian::little) {
            return {reinterpret_cast<const std::uint8_t*>(samples.data()), samples.size() * 2};
        }
        bytes_.resize(samples.size() * 2);
        for (std::size_t i = 0; i < samples.size(); ++i) {
            const auto value = static_cast<std::uint16_t>(samples[i]);
            bytes_[2 * i] = static_cast<std::uint8_t>(value);
            bytes_[2 * i + 1] = static_cast<std::uint8_t>(value >> 8);
        }
        return bytes_;
    }

    // Under 2^30 samples: the decoder refuses more.
    static std::uint32_t dataBytes(std::uint64_t samples) {
        return static_cast<std::uint32_t>(samples * 2);
    }

    OutputStream& out_;
    SoundShape shape_;
    std::vector<std::uint8_t> bytes_;
    std::uint64_t written_ = 0;
};

// Any other format libsndfile writes, on the output's descriptor.
class SndfileSink final : public SampleSink {
  public:
    SndfileSink(OutputFormat format, OutputStream& out, const SoundShape& shape)
        : channels_(shape.channels) {
        SF_INFO info{};
        info.samplerate = static_cast<int>(shape.rate);
        info.channels = static_cast<int>(shape.channels);
        info.format = sndfileFormat(format);
        // The descriptor stays the output's: libsndfile must not close it.
        sound_ = ::sf_open_fd(out.descriptor(), SFM_WRITE, &info, SF_FALSE);
        if (sound_ == nullptr) {
            throw FileRefused(std::string("cannot write ") + std::string(extensionOf(format)) +
                              " here (" + ::sf_strerror(nullptr) + ")");
        }
    }
    ~SndfileSink() override {
        if (sound_ != nullptr) ::sf_close(sound_);
    }
    SndfileSink(const SndfileSink&) = delete;
    SndfileSink& operator=(const SndfileSink&) = delete;

    void write(std::span<const std::int16_t> samples) override {
        const auto frames = static_cast<sf_count_t>(samples.size() / channels_);
        if (::sf_writef_short(sound_, samples.data(), frames) != frames) fail();
    }

    // Closing is where the header gets its lengths and the last data leaves
    // the encoder's buffers.
    void finish() override {
        SNDFILE* sound = sound_;
        sound_ = nullptr;
        if (const int error = ::sf_close(sound); error != 0) {
            throw FileRefused(std::string("writing failed (") + ::sf_error_number(error) + ")");
        }
    }

  private:
    [[noreturn]] void fail() const {
        throw FileRefused(std::string("writing failed (") + ::sf_strerror(sound_) + ")");
    }

    unsigned channels_;
    SNDFILE* sound_ = nullptr;
};

}  // namespace

std::unique_ptr<SampleSink> makeSampleSink(OutputFormat format, OutputStream& out,
                                           const SoundShape& shape) {
    if (format == OutputFormat::Wav) return std::make_unique<WavSink>(out, shape);
    return std::make_unique<SndfileSink>(format, out, shape);
}

}  // namespace talveco
