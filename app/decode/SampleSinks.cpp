#include "app/decode/SampleSinks.h"

#include <FLAC/stream_encoder.h>
#include <sndfile.h>

#include <bit>
#include <exception>
#include <new>
#include <utility>
#include <vector>

#include "app/common/OutputPaths.h"
#include "app/common/SndfileOpening.h"
#include "platform/OutputFile.h"
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

// libsndfile's text for a failure of `sound`; a number it has no text for (the Ogg writer's -1)
// is given as it is rather than as the "bug in libsndfile" libsndfile would print.
std::string reasonOf(SNDFILE* sound) {
    const int error = ::sf_error(sound);
    if (error < 0) return "libsndfile error " + std::to_string(error);
    return ::sf_strerror(sound);
}

// Any other format libsndfile writes, on the output's descriptor.
class SndfileSink final : public SampleSink {
  public:
    SndfileSink(OutputFormat format, OutputStream& out, const SoundShape& shape)
        : channels_(shape.channels), descriptor_(out.descriptor()) {
        SF_INFO info{};
        info.samplerate = static_cast<int>(shape.rate);
        info.channels = static_cast<int>(shape.channels);
        info.format = sndfileFormat(format);
        // libsndfile writes on a copy of the output's descriptor, which it closes itself when
        // the sound cannot be opened (the output's own then stays open for the output to close).
        const SndfileOpening opening = openSndfile(
            [&] { return ::sf_open_fd(descriptor_.get(), SFM_WRITE, &info, SF_FALSE); });
        sound_ = opening.sound;
        if (sound_ == nullptr) {
            descriptor_.release();
            throw FileRefused(std::string("cannot write ") + std::string(extensionOf(format)) +
                              " here (" + opening.failure + ")");
        }
    }
    ~SndfileSink() override {
        if (sound_ != nullptr) ::sf_close(sound_);
    }
    SndfileSink(const SndfileSink&) = delete;
    SndfileSink& operator=(const SndfileSink&) = delete;

    void write(std::span<const std::int16_t> samples) override {
        const auto frames = static_cast<sf_count_t>(samples.size() / channels_);
        // The MP3 writer counts every frame as written even when the output took none of its
        // data; only the sound's error says so.
        if (::sf_writef_short(sound_, samples.data(), frames) != frames || ::sf_error(sound_) != 0)
            fail();
    }

    // Closing is where the header gets its lengths and the last data leaves
    // the encoder's buffers.
    void finish() override {
        if (::sf_error(sound_) != 0) fail();
        SNDFILE* sound = sound_;
        sound_ = nullptr;
        if (const int error = ::sf_close(sound); error != 0) {
            throw FileRefused(std::string("writing failed (") + ::sf_error_number(error) + ")");
        }
        descriptor_.close();
    }

  private:
    [[noreturn]] void fail() const {
        throw FileRefused("writing failed (" + reasonOf(sound_) + ")");
    }

    unsigned channels_;
    DescriptorCopy descriptor_;  // closed after the sound
    SNDFILE* sound_ = nullptr;
};

// FLAC written front to back for outputs that cannot go back (a pipe):
// libFLAC's streaming encoder, given no way to seek, states the length and
// checksum as unknown instead of coming back to fill them in, as `flac -c`
// does. libsndfile would "seek" on the pipe and append its header rewrite to
// the stream's end.
class FlacStreamSink final : public SampleSink {
  public:
    FlacStreamSink(OutputStream& out, const SoundShape& shape)
        : out_(out), channels_(shape.channels), owned_(::FLAC__stream_encoder_new()) {
        if (owned_ == nullptr) throw std::bad_alloc();
        encoder_ = owned_.get();
        ::FLAC__stream_encoder_set_channels(encoder_, shape.channels);
        ::FLAC__stream_encoder_set_bits_per_sample(encoder_, 16);
        ::FLAC__stream_encoder_set_sample_rate(encoder_, shape.rate);
        ::FLAC__stream_encoder_set_compression_level(encoder_, 5);
        ::FLAC__stream_encoder_set_total_samples_estimate(encoder_, 0);
        const FLAC__StreamEncoderInitStatus status = ::FLAC__stream_encoder_init_stream(
            encoder_, &FlacStreamSink::writeBytes, nullptr, nullptr, nullptr, this);
        if (status != FLAC__STREAM_ENCODER_INIT_STATUS_OK) {
            rethrowWriteFailure();
            const std::string reason = status == FLAC__STREAM_ENCODER_INIT_STATUS_ENCODER_ERROR
                                           ? stateText()
                                           : FLAC__StreamEncoderInitStatusString[status];
            throw FileRefused("cannot write FLAC here (" + reason + ")");
        }
    }

    void write(std::span<const std::int16_t> samples) override {
        widened_.assign(samples.begin(), samples.end());
        const auto frames = static_cast<std::uint32_t>(samples.size() / channels_);
        if (!::FLAC__stream_encoder_process_interleaved(encoder_, widened_.data(), frames)) fail();
    }

    // The last frame leaves the encoder here.
    void finish() override {
        if (!::FLAC__stream_encoder_finish(encoder_)) fail();
    }

  private:
    static FLAC__StreamEncoderWriteStatus writeBytes(const FLAC__StreamEncoder*,
                                                     const FLAC__byte buffer[], size_t bytes,
                                                     std::uint32_t, std::uint32_t, void* self) {
        auto& sink = *static_cast<FlacStreamSink*>(self);
        // No exception may cross libFLAC; it is raised again once libFLAC
        // has returned.
        try {
            sink.out_.write({buffer, bytes});
            return FLAC__STREAM_ENCODER_WRITE_STATUS_OK;
        } catch (...) {
            if (!sink.writeFailure_) sink.writeFailure_ = std::current_exception();
            return FLAC__STREAM_ENCODER_WRITE_STATUS_FATAL_ERROR;
        }
    }

    void rethrowWriteFailure() {
        if (writeFailure_) std::rethrow_exception(std::exchange(writeFailure_, nullptr));
    }

    [[noreturn]] void fail() {
        rethrowWriteFailure();
        throw FileRefused("writing failed (" + stateText() + ")");
    }

    std::string stateText() const {
        return FLAC__StreamEncoderStateString[::FLAC__stream_encoder_get_state(encoder_)];
    }

    struct EncoderDeleter {
        void operator()(FLAC__StreamEncoder* encoder) const {
            ::FLAC__stream_encoder_delete(encoder);
        }
    };

    OutputStream& out_;
    unsigned channels_;
    std::vector<FLAC__int32> widened_;
    std::exception_ptr writeFailure_;
    // Owned from the start, so that a constructor that fails frees it too,
    // and declared last: deleting an unfinished encoder writes its last
    // frame through writeBytes, which needs the members above.
    std::unique_ptr<FLAC__StreamEncoder, EncoderDeleter> owned_;
    FLAC__StreamEncoder* encoder_ = nullptr;
};

// Refuses, before any byte goes out, an output the format cannot be written
// to: a name of no format, a rate the format cannot hold, or a format that
// goes back to its header at the end when the output cannot go back.
void refuseUnwritable(OutputFormat format, const OutputStream& out, const SoundShape& shape) {
    if (format == OutputFormat::Unlisted) {
        throw FileRefused(unlistedExtensionRefusal({}));
    }
    const std::string name(displayNameOf(format));
    if (!holdsRate(format, shape.rate)) {
        throw FileRefused(name + " holds only " + rateListOf(format) + ", not " +
                          std::to_string(shape.rate) + " Hz; choose another format");
    }
    if (out.canRewrite()) return;
    const bool pipe = isPipeOrSocket(out.descriptor());
    if (!writesInOnePass(format, pipe)) {
        throw FileRefused(name + " cannot be written to " +
                          (pipe ? "a pipe"
                                : "an output it cannot go back in (a file opened to "
                                  "append, a device)") +
                          " (its header is completed at the end); use " + onePassFormatList(pipe));
    }
}

}  // namespace

std::unique_ptr<SampleSink> makeSampleSink(OutputFormat format, OutputStream& out,
                                           const SoundShape& shape) {
    refuseUnwritable(format, out, shape);
    if (format == OutputFormat::Wav) return std::make_unique<WavSink>(out, shape);
    if (format == OutputFormat::Flac && !out.canRewrite()) {
        return std::make_unique<FlacStreamSink>(out, shape);
    }
    return std::make_unique<SndfileSink>(format, out, shape);
}

}  // namespace talveco
