// The C interface over the C++ decoder and encoder. Every entry point runs
// its work inside `guarded`, which turns whatever the C++ layers raise into a
// code and this thread's message, so no exception ever reaches a C caller.
// The encoder's own rules (a failure is final, misuse refused) are the C++
// encoder's; this layer adds only what a C boundary needs: NULL checks, the
// report kept for later calls, and where a finished stream goes.
#include "talveco/talveco_c.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <functional>
#include <memory>
#include <new>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "encoder/FullScale.h"
#include "fit/InputRefused.h"
#include "fit/SampleFitter.h"
#include "platform/Failure.h"
#include "talveco/encoder.h"
#include "talveco/limits.h"
#include "talveco/talveco.h"

using talveco::Failure;
using talveco::FailureKind;

struct talveco_decoder {
    talveco::AcmStream stream;
};

struct talveco_encoder {
    enum class Target { file, memory, callback };
    // Opens the C++ encoder again with other settings, as the C encoder was opened.
    using Opener = std::function<talveco::AcmEncoder(const talveco::EncoderSettings&)>;

    talveco_encoder(Opener open, const talveco::EncoderSettings& given, Target to,
                    unsigned streamChannels, unsigned streamRate)
        : reopen(std::move(open)),
          settings(given),
          encoder(reopen(settings)),
          target(to),
          channels(streamChannels),
          rate(streamRate) {}

    Opener reopen;
    talveco::EncoderSettings settings;
    talveco::AcmEncoder encoder;
    Target target;
    unsigned channels;  // the stream's, as opened
    unsigned rate;
    // Set by talveco_encoder_set_input when the samples written are of other channels or
    // another rate than the stream's: they are fitted to it before coding.
    std::unique_ptr<talveco::SampleFitter> fitter;
    std::vector<double> fitInput;  // a piece of a write, at full scale
    std::vector<double> fitted;    // that piece once fitted, before rounding
    bool started = false;          // a write or finish has been called
    talveco_write_fn write = nullptr;
    void* user = nullptr;
    std::uint64_t clipped = 0;
    std::uint64_t notNumbers = 0;
    std::optional<talveco_encoder_report> report;  // set once the stream is complete
    // The first failure, which ended this encoder: one of the C++ encoder's,
    // or a write function's after the C++ encoder had finished. Kept here too
    // so that the calls this layer answers itself (set_like, report, bytes)
    // refuse a failed encoder as the C++ encoder refuses its own calls.
    std::optional<std::string> failure;

    std::uint64_t notNumbersSeen() const noexcept {
        return notNumbers + (fitter ? fitter->notNumbers() : 0);
    }

    void refuseIfFailed() const {
        if (failure) {
            throw Failure(FailureKind::FailedEarlier,
                          "the encoder failed earlier (" + *failure + ") and takes no more calls");
        }
    }

    // Runs a call of the C++ encoder, noting a failure that ends it: any
    // exception but the misuse it refuses and survives.
    template <typename Call>
    auto run(Call call) {
        refuseIfFailed();
        try {
            return call(encoder);
        } catch (const Failure& failed) {
            if (failed.kind() != FailureKind::InvalidCall) failure = failed.what();
            throw;
        } catch (const std::exception& failed) {
            failure = failed.what();
            throw;
        }
    }
};

namespace {

// The one table of the C codes of the failure kinds, with their names. A
// kind added to FailureKind without a line here leaves codeFor's switch
// without its case: a compiler warning (an error in the checked builds).
#define TALVECO_FAILURE_CODES(X)                       \
    X(NotAcmFile, TALVECO_E_NOT_ACM_FILE)              \
    X(FileNotFound, TALVECO_E_FILE_NOT_FOUND)          \
    X(InvalidFilename, TALVECO_E_INVALID_FILENAME)     \
    X(TooManyOpenFiles, TALVECO_E_TOO_MANY_OPEN_FILES) \
    X(AccessDenied, TALVECO_E_ACCESS_DENIED)           \
    X(DiskFull, TALVECO_E_DISK_FULL)                   \
    X(OutOfMemory, TALVECO_E_OUT_OF_MEMORY)            \
    X(IoError, TALVECO_E_IO_ERROR)                     \
    X(TooManySamples, TALVECO_E_TOO_MANY_SAMPLES)      \
    X(OutsideLimits, TALVECO_E_OUTSIDE_LIMITS)         \
    X(PartialFrame, TALVECO_E_PARTIAL_FRAME)           \
    X(InvalidCall, TALVECO_E_INVALID_CALL)             \
    X(FailedEarlier, TALVECO_E_FAILED_EARLIER)

int codeFor(FailureKind kind) noexcept {
    switch (kind) {
#define TALVECO_CODE_OF_KIND(name, code) \
    case FailureKind::name:              \
        return code;
        TALVECO_FAILURE_CODES(TALVECO_CODE_OF_KIND)
#undef TALVECO_CODE_OF_KIND
    }
    return TALVECO_E_INTERNAL;
}

struct LastError {
    std::string message;
    int errorNumber = 0;
};

// The C interface promises each thread its own last failure.
thread_local LastError lastError;

int fail(int code, const char* call, const char* what, int errorNumber = 0) noexcept {
    try {
        lastError.message = what;
        if (call != nullptr) lastError.message = std::string(call) + ": " + what;
    } catch (...) {
        lastError.message.clear();  // no memory even for the message: the code says it
    }
    lastError.errorNumber = errorNumber;
    return code;
}

template <typename Body>
int guarded(const char* call, Body body) noexcept {
    try {
        body();
        return TALVECO_OK;
    } catch (const Failure& failure) {
        return fail(codeFor(failure.kind()), nullptr, failure.what(), failure.errorNumber());
    } catch (const std::bad_alloc&) {
        const Failure failure(FailureKind::OutOfMemory);
        return fail(TALVECO_E_OUT_OF_MEMORY, nullptr, failure.what());
    } catch (const std::invalid_argument& refused) {
        return fail(TALVECO_E_INVALID_ARGUMENT, call, refused.what());
    } catch (const std::exception& other) {
        return fail(TALVECO_E_INTERNAL, call, other.what());
    } catch (...) {
        return fail(TALVECO_E_INTERNAL, call, "unknown failure");
    }
}

void require(bool condition, const char* what) {
    if (!condition) throw std::invalid_argument(what);
}

talveco::EncoderSettings settingsFrom(const talveco_encoder_settings* s) {
    talveco_encoder_settings given;
    talveco_encoder_settings_init(&given);
    if (s != nullptr) given = *s;
    talveco::EncoderSettings settings;
    settings.quality = given.quality;
    // 0 is constant quality; anything else, negative included, asks for a
    // bitrate and is checked as one.
    if (given.bitrate_kbps != 0) settings.bitrateKbps = given.bitrate_kbps;
    if (given.levels != TALVECO_AUTOMATIC) settings.levels = given.levels;
    if (given.rows != TALVECO_AUTOMATIC) settings.rows = given.rows;
    return settings;
}

int openEncoder(const char* call, talveco_encoder** out, talveco_encoder::Target target,
                talveco::AcmEncoder (*make)(unsigned, unsigned, const talveco::EncoderSettings&,
                                            const char*),
                unsigned channels, unsigned rate, const talveco_encoder_settings* s,
                const char* path = nullptr) {
    return guarded(call, [&] {
        require(out != nullptr, "no place for the handle");
        *out = nullptr;
        auto reopen = [make, channels, rate, where = std::string(path ? path : "")](
                          const talveco::EncoderSettings& settings) {
            return make(channels, rate, settings, where.c_str());
        };
        *out = new talveco_encoder(std::move(reopen), settingsFrom(s), target, channels, rate);
    });
}

talveco::AcmEncoder encoderToMemory(unsigned channels, unsigned rate,
                                    const talveco::EncoderSettings& settings, const char*) {
    return talveco::AcmEncoder::toMemory(channels, rate, settings);
}

talveco::AcmEncoder encoderToFile(unsigned channels, unsigned rate,
                                  const talveco::EncoderSettings& settings, const char* path) {
    return talveco::AcmEncoder::toFile(path, channels, rate, settings);
}

// Hands a finished stream to the caller's write function.
void deliver(talveco_encoder& e) {
    constexpr std::size_t piece = 1 << 16;
    const std::vector<std::uint8_t>& stream = e.encoder.bytes();
    for (std::size_t at = 0; at < stream.size(); at += piece) {
        const std::size_t size = std::min(piece, stream.size() - at);
        if (int error = e.write(e.user, stream.data() + at, size); error != 0) {
            if (error < 0)
                error = error == INT_MIN ? EIO : -error;  // a negated number, taken as meant
            const Failure failure(talveco::failureKindForErrno(error), error);
            e.failure = failure.what();
            throw failure;
        }
    }
}

void requireFinished(const talveco_encoder& e, const char* call) {
    if (!e.report)
        throw Failure(FailureKind::InvalidCall, std::string(call) + " before a successful finish");
}

talveco_encoder_report reportOf(const talveco::EncoderReport& report, const talveco_encoder& e) {
    talveco_encoder_report out{};
    out.samples = report.sampleCount;
    out.stream_bytes = report.streamBytes;
    out.bits_per_sample = report.bitsPerSample;
    out.snr_db = report.snrDb;
    out.levels = report.levels;
    out.rows = report.rows;
    out.clipped = e.clipped;
    out.not_numbers = e.notNumbersSeen();
    return out;
}

[[noreturn]] void refuseOutsideLimits(const std::string& message) {
    throw Failure(FailureKind::OutsideLimits, message);
}

// The fitting of `channels` at `rate` to the encoder's stream, none when they are the
// stream's. Refused as talveco-encode refuses such an input, in its words.
std::unique_ptr<talveco::SampleFitter> fitterFor(const talveco_encoder& e, unsigned channels,
                                                 unsigned rate) {
    using namespace talveco::limits;
    if (channels < minChannels || channels > maxChannels) {
        refuseOutsideLimits("input channels must be from " + std::to_string(minChannels) + " to " +
                            std::to_string(maxChannels) + ", not " + std::to_string(channels));
    }
    if (rate < minSampleRate || rate > maxInputSampleRate) {
        refuseOutsideLimits("the input rate must be from " + std::to_string(minSampleRate) +
                            " to " + std::to_string(maxInputSampleRate) + " Hz, not " +
                            std::to_string(rate));
    }
    if (channels == e.channels && rate == e.rate) return nullptr;
    try {
        return std::make_unique<talveco::SampleFitter>(channels, rate, e.channels, e.rate);
    } catch (const talveco::InputRefused& refused) {
        refuseOutsideLimits(refused.what());
    }
}

// Rounds what the fitter gave to the 16 bits the encoder takes, as talveco-encode rounds
// its fitted input, and codes it.
void writeFitted(talveco_encoder& e) {
    std::vector<std::int16_t> rounded(e.fitted.size());
    for (std::size_t i = 0; i < rounded.size(); ++i)
        rounded[i] = talveco::sixteenBitsFromFullScale(e.fitted[i], e.clipped, e.notNumbers);
    e.fitted.clear();
    e.encoder.write(rounded);
}

// A failure of this layer's own (not the C++ encoder's) ends the C++ encoder too, so that a
// file encoder's temporary file goes at once, as when the encoder fails by itself: it is
// replaced by an empty one in memory, which the failure keeps every later call from.
void abandonEncoder(talveco_encoder& e) {
    e.encoder = talveco::AcmEncoder::toMemory(1, talveco::limits::minSampleRate, {});
}

// Frames fitted at a time. A caller's piece may hold minutes of sound, which fitted at once
// would take several times its own size in memory, and run through libsoxr several times
// slower than in pieces that stay in the cache.
constexpr std::size_t kFitPieceFrames = 8192;

// Whole frames of the input's channels, scaled to full scale by `scale` (exact: a power of
// two), fitted to the stream's and coded piece by piece.
template <typename Sample>
void writeThroughFitter(talveco_encoder& e, std::span<const Sample> samples, double scale) {
    // A write after the finish is refused by the encoder, in its words, before the fitter
    // (flushed by the finish) takes anything.
    e.encoder.write({});
    try {
        const unsigned channels = e.fitter->inputChannels();
        if (samples.size() % channels != 0) {
            throw Failure(FailureKind::PartialFrame, std::to_string(samples.size()) +
                                                         " samples do not make whole frames of " +
                                                         std::to_string(channels) + " channels");
        }
        const std::size_t piece = kFitPieceFrames * channels;
        for (std::size_t at = 0; at < samples.size(); at += piece) {
            const auto part = samples.subspan(at, std::min(piece, samples.size() - at));
            e.fitInput.assign(part.begin(), part.end());
            for (double& sample : e.fitInput)
                sample *= scale;
            e.fitter->fit(e.fitInput, e.fitted);
            writeFitted(e);
        }
    } catch (...) {
        abandonEncoder(e);
        throw;
    }
}

}  // namespace

extern "C" {

const char* talveco_version(void) {
    return TALVECO_VERSION_STRING;
}

const char* talveco_error_name(int code) {
    switch (code) {
        case TALVECO_OK:
            return "Ok";
#define TALVECO_NAME_OF_CODE(name, code) \
    case code:                           \
        return #name;
            TALVECO_FAILURE_CODES(TALVECO_NAME_OF_CODE)
#undef TALVECO_NAME_OF_CODE
        case TALVECO_E_INVALID_ARGUMENT:
            return "InvalidArgument";
        case TALVECO_E_INTERNAL:
            return "Internal";
        default:
            return nullptr;
    }
}

const char* talveco_error_message(void) {
    return lastError.message.c_str();
}

int talveco_error_errno(void) {
    return lastError.errorNumber;
}

int talveco_decoder_open_file(const char* path, talveco_decoder** out) {
    return guarded("talveco_decoder_open_file", [&] {
        require(out != nullptr && path != nullptr, "path and handle place must not be NULL");
        *out = nullptr;
        *out = new talveco_decoder{talveco::AcmStream::openFile(path)};
    });
}

int talveco_decoder_open_memory(const void* data, size_t size, talveco_decoder** out) {
    return guarded("talveco_decoder_open_memory", [&] {
        require(out != nullptr, "no place for the handle");
        *out = nullptr;
        require(data != nullptr || size == 0, "data is NULL");
        const auto* bytes = static_cast<const std::uint8_t*>(data);
        *out = new talveco_decoder{talveco::AcmStream::openMemory(
            std::span<const std::uint8_t>(bytes, bytes == nullptr ? 0 : size))};
    });
}

int talveco_decoder_open_callbacks(talveco_read_fn read, void* user, talveco_decoder** out) {
    return guarded("talveco_decoder_open_callbacks", [&] {
        require(out != nullptr && read != nullptr,
                "read function and handle place must not be NULL");
        *out = nullptr;
        auto reader = [read, user](std::span<std::uint8_t> buffer) -> std::size_t {
            const long long got = read(user, buffer.data(), buffer.size());
            if (got < 0) {
                const int error = got < -INT_MAX ? EIO : static_cast<int>(-got);
                throw Failure(talveco::failureKindForErrno(error), error);
            }
            return static_cast<std::size_t>(got);
        };
        *out = new talveco_decoder{talveco::AcmStream::openReader(std::move(reader))};
    });
}

void talveco_decoder_info(const talveco_decoder* d, talveco_stream_info* info) {
    guarded("talveco_decoder_info", [&] {
        require(info != nullptr, "info is NULL");
        *info = {};
        require(d != nullptr, "the decoder is NULL");
        const talveco::AcmStream& s = d->stream;
        *info = {s.channels(), s.sampleRate(), s.sampleCount(), s.levels(), s.rows()};
    });
}

long long talveco_decoder_read(talveco_decoder* d, int16_t* samples, size_t count) {
    long long got = 0;
    const int code = guarded("talveco_decoder_read", [&] {
        require(d != nullptr, "the decoder is NULL");
        require(samples != nullptr || count == 0, "samples is NULL");
        require(count <= static_cast<std::size_t>(LLONG_MAX), "count too large");
        got = static_cast<long long>(d->stream.read(std::span<std::int16_t>(samples, count)));
    });
    return code == TALVECO_OK ? got : -code;
}

int talveco_decoder_damage(const talveco_decoder* d, uint64_t* damaged_blocks,
                           uint64_t* samples_past_end) {
    return guarded("talveco_decoder_damage", [&] {
        require(d != nullptr && damaged_blocks != nullptr && samples_past_end != nullptr,
                "decoder and counts must not be NULL");
        *damaged_blocks = d->stream.damagedBlocks();
        *samples_past_end = d->stream.samplesPastEndOfInput();
    });
}

void talveco_decoder_close(talveco_decoder* d) {
    delete d;
}

void talveco_encoder_settings_init(talveco_encoder_settings* s) {
    if (s == nullptr) return;
    const talveco::EncoderSettings defaults;
    *s = {defaults.quality, 0.0, TALVECO_AUTOMATIC, TALVECO_AUTOMATIC};
}

int talveco_encoder_open_file(const char* path, unsigned channels, unsigned rate,
                              const talveco_encoder_settings* s, talveco_encoder** out) {
    if (path == nullptr) {
        if (out != nullptr) *out = nullptr;
        return fail(TALVECO_E_INVALID_ARGUMENT, "talveco_encoder_open_file", "path is NULL");
    }
    return openEncoder("talveco_encoder_open_file", out, talveco_encoder::Target::file,
                       encoderToFile, channels, rate, s, path);
}

int talveco_encoder_open_memory(unsigned channels, unsigned rate, const talveco_encoder_settings* s,
                                talveco_encoder** out) {
    return openEncoder("talveco_encoder_open_memory", out, talveco_encoder::Target::memory,
                       encoderToMemory, channels, rate, s);
}

int talveco_encoder_open_callbacks(unsigned channels, unsigned rate,
                                   const talveco_encoder_settings* s, talveco_write_fn write,
                                   void* user, talveco_encoder** out) {
    if (write == nullptr) {
        if (out != nullptr) *out = nullptr;
        return fail(TALVECO_E_INVALID_ARGUMENT, "talveco_encoder_open_callbacks",
                    "the write function is NULL");
    }
    const int code =
        openEncoder("talveco_encoder_open_callbacks", out, talveco_encoder::Target::callback,
                    encoderToMemory, channels, rate, s);
    if (code == TALVECO_OK) {
        (*out)->write = write;
        (*out)->user = user;
    }
    return code;
}

int talveco_encoder_set_like(talveco_encoder* e, const void* stream, size_t size) {
    return guarded("talveco_encoder_set_like", [&] {
        require(e != nullptr, "the encoder is NULL");
        require(stream != nullptr || size == 0, "stream is NULL");
        e->refuseIfFailed();
        if (e->started) {
            throw Failure(FailureKind::InvalidCall,
                          "talveco_encoder_set_like after the first write or finish");
        }
        // The C++ encoder takes the old stream when it is opened: it is opened again with it
        // (nothing has been written), and the encoder stays as it was if that fails.
        talveco::EncoderSettings settings = e->settings;
        const auto* bytes = static_cast<const std::uint8_t*>(stream);
        settings.likeStream.assign(bytes, bytes == nullptr ? bytes : bytes + size);
        e->encoder = e->reopen(settings);
        e->settings = std::move(settings);
    });
}

int talveco_encoder_set_input(talveco_encoder* e, unsigned channels, unsigned rate) {
    return guarded("talveco_encoder_set_input", [&] {
        require(e != nullptr, "the encoder is NULL");
        e->refuseIfFailed();
        if (e->started) {
            throw Failure(FailureKind::InvalidCall,
                          "talveco_encoder_set_input after the first write or finish");
        }
        e->fitter = fitterFor(*e, channels, rate);
    });
}

int talveco_encoder_write(talveco_encoder* e, const int16_t* samples, size_t count) {
    return guarded("talveco_encoder_write", [&] {
        require(e != nullptr, "the encoder is NULL");
        require(samples != nullptr || count == 0, "samples is NULL");
        e->started = true;
        if (e->fitter) {
            // Scaled as libsndfile reads a 16-bit file, so that the samples fit as
            // talveco-encode fits such a file.
            e->run([&](talveco::AcmEncoder&) {
                writeThroughFitter(*e, std::span<const std::int16_t>(samples, count), 1 / 32768.0);
            });
            return;
        }
        e->run([&](talveco::AcmEncoder& encoder) {
            encoder.write(std::span<const std::int16_t>(samples, count));
        });
    });
}

int talveco_encoder_write_double(talveco_encoder* e, const double* samples, size_t count) {
    return guarded("talveco_encoder_write_double", [&] {
        require(e != nullptr, "the encoder is NULL");
        require(samples != nullptr || count == 0, "samples is NULL");
        if (e->fitter) {
            e->started = true;
            e->run([&](talveco::AcmEncoder&) {
                writeThroughFitter(*e, std::span<const double>(samples, count), 1.0);
            });
            return;
        }
        std::uint64_t clipped = 0;
        std::uint64_t notNumbers = 0;
        std::vector<std::int16_t> rounded(count);
        for (std::size_t i = 0; i < count; ++i)
            rounded[i] = talveco::sixteenBitsFromFullScale(samples[i], clipped, notNumbers);
        e->started = true;
        e->run([&](talveco::AcmEncoder& encoder) { encoder.write(rounded); });
        e->clipped += clipped;
        e->notNumbers += notNumbers;
    });
}

int talveco_encoder_finish(talveco_encoder* e, double* snr_db, double* bits_per_sample) {
    return guarded("talveco_encoder_finish", [&] {
        require(e != nullptr, "the encoder is NULL");
        e->started = true;
        const talveco_encoder_report report = reportOf(e->run([&](talveco::AcmEncoder& encoder) {
            if (e->fitter && !e->fitter->finished()) {  // a second finish: the encoder refuses it
                e->fitter->finish(e->fitted);
                writeFitted(*e);
            }
            return encoder.finish();
        }),
                                                       *e);
        if (e->target == talveco_encoder::Target::callback) deliver(*e);
        e->report = report;
        if (snr_db != nullptr) *snr_db = report.snr_db;
        if (bits_per_sample != nullptr) *bits_per_sample = report.bits_per_sample;
    });
}

int talveco_encoder_report_get(const talveco_encoder* e, talveco_encoder_report* report) {
    return guarded("talveco_encoder_report_get", [&] {
        require(e != nullptr && report != nullptr, "encoder and report must not be NULL");
        e->refuseIfFailed();
        requireFinished(*e, "talveco_encoder_report_get");
        *report = *e->report;
    });
}

int talveco_encoder_bytes(const talveco_encoder* e, const uint8_t** data, size_t* size) {
    return guarded("talveco_encoder_bytes", [&] {
        require(e != nullptr && data != nullptr && size != nullptr,
                "encoder, data and size must not be NULL");
        *data = nullptr;
        *size = 0;
        e->refuseIfFailed();
        if (e->target == talveco_encoder::Target::callback)
            throw Failure(FailureKind::InvalidCall,
                          "an encoder with a write function keeps no stream");
        const std::vector<std::uint8_t>& stream = e->encoder.bytes();
        *data = stream.data();
        *size = stream.size();
    });
}

void talveco_encoder_close(talveco_encoder* e) {
    delete e;
}

}  // extern "C"
