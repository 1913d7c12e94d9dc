#include "app/encode/EncodeRun.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <exception>
#include <new>
#include <vector>

#include "app/encode/EncodeOptions.h"
#include "app/encode/OutputTarget.h"
#include "app/encode/SoundFileReader.h"
#include "platform/Failure.h"
#include "talveco/encoder.h"

namespace talveco {
namespace {

constexpr const char* kProgram = "talveco-encode";
// Samples handed to the encoder at a time (a whole number of frames for mono and stereo).
constexpr std::size_t kPieceSamples = std::size_t{1} << 16;
// Onset errors above this (about -30 dBFS) are audible; smaller ones are ordinary noise.
constexpr unsigned kLoudOnsetError = 1024;
// Only files longer than this get a progress line.
constexpr double kProgressSeconds = 60;

std::string fixed(double value, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

std::string snrText(double snrDb) {
    return std::isinf(snrDb) && snrDb > 0 ? "exact" : "SNR " + fixed(snrDb, 1) + " dB";
}

std::string summaryLine(const std::string& input, const std::string& output,
                        const EncoderReport& report, unsigned channels, unsigned rate) {
    const double seconds =
        static_cast<double>(report.sampleCount) / static_cast<double>(channels * rate);
    std::string line = input + " -> " + output + ": " + fixed(seconds, 2) + " s, " +
                       (channels == 1 ? "mono" : "stereo") + ", " + std::to_string(rate) + " Hz";
    if (report.sampleCount == 0) return line + ", no samples\n";
    const double kbps = static_cast<double>(report.streamBytes) * 8 / seconds / 1000;
    return line + ", " + fixed(kbps, 1) + " kbit/s, " + fixed(report.bitsPerSample, 2) +
           " bits/sample, " + snrText(report.snrDb) + "\n";
}

// "NAME: 42%" on one line that rewrites itself, for long files on a terminal.
class ProgressLine {
  public:
    ProgressLine(Console& messages, const std::string& name, std::uint64_t totalSamples,
                 bool enabled)
        : messages_(messages), name_(name), total_(totalSamples), enabled_(enabled) {}

    void advance(std::size_t samples) {
        done_ += samples;
        if (!enabled_ || total_ == 0) return;
        const auto percent = static_cast<unsigned>(done_ * 100 / total_);
        if (percent == shown_) return;
        shown_ = percent;
        messages_.write("\r" + name_ + ": " + std::to_string(percent) + "%");
    }
    // In bitrate mode the encoder codes everything in finish(), after the last piece.
    void showCodingAll() {
        if (enabled_ && shown_ <= 100) messages_.write("\r" + name_ + ": coding at the bitrate");
    }
    // Erases the line, so that the summary or an error starts on a clean one.
    void clear() {
        if (enabled_ && shown_ <= 100) messages_.write("\r\033[K");
        shown_ = 101;
    }

  private:
    Console& messages_;
    const std::string& name_;
    std::uint64_t total_;
    bool enabled_;
    std::uint64_t done_ = 0;
    unsigned shown_ = 101;  // nothing shown yet
};

void warnAboutLosses(Console& messages, const std::string& input, const EncoderReport& report,
                     std::uint64_t clipped) {
    if (report.onsetError > kLoudOnsetError) {
        messages.write(std::string(kProgram) + ": " + input + ": warning: the sound starts too " +
                       "loud for the format; the first " +
                       std::to_string(1U << (report.levels + 1)) + " samples are off by up to " +
                       std::to_string(report.onsetError) + "\n");
    }
    if (clipped > 0) {
        messages.write(std::string(kProgram) + ": " + input + ": warning: " +
                       std::to_string(clipped) + " samples beyond full scale were clipped\n");
    }
}

// Feeds the whole input to the encoder and puts the output in place.
EncoderReport encodeInto(SoundFileReader& reader, const std::string& output,
                         const EncoderSettings& settings, ProgressLine& progress) {
    AcmEncoder encoder =
        AcmEncoder::toFile(output, reader.channels(), reader.sampleRate(), settings);
    std::vector<std::int16_t> piece(kPieceSamples);
    while (const std::size_t count = reader.read(piece)) {
        encoder.write(std::span<const std::int16_t>(piece.data(), count));
        progress.advance(count);
    }
    if (settings.bitrateKbps) progress.showCodingAll();
    EncoderReport report = encoder.finish();
    progress.clear();
    return report;
}

void encodeFile(const std::string& input, const std::string& output, const EncodeOptions& options,
                Console& messages, bool showProgress) {
    SoundFileReader reader(input);
    refuseUnsafeTarget(output, reader.identity(), options.force);
    const std::uint64_t samples = reader.frames() * reader.channels();
    const bool longFile =
        static_cast<double>(reader.frames()) > kProgressSeconds * reader.sampleRate();
    ProgressLine progress(messages, input, samples, showProgress && !options.silent && longFile);
    EncoderReport report;
    try {
        report = encodeInto(reader, output, options.settings, progress);
    } catch (const Failure& failure) {
        progress.clear();
        // Only failures of the file system are about the output file.
        if (failure.kind() > FailureKind::IoError) throw;
        throw InputRefused("writing " + output + ": " + failure.what());
    } catch (...) {
        progress.clear();
        throw;
    }
    if (!options.silent) {
        messages.write(summaryLine(input, output, report, reader.channels(), reader.sampleRate()));
    }
    warnAboutLosses(messages, input, report, reader.clippedSamples());
}

// Encodes one input; reports its failure and returns false.
bool encodeReportingFailure(const std::string& input, const EncodeOptions& options,
                            Console& messages, bool showProgress) {
    const std::string output = options.outputPath.value_or(acmPathFor(input));
    std::string problem;
    try {
        encodeFile(input, output, options, messages, showProgress);
        return true;
    } catch (const Failure& failure) {
        problem = failure.what();
    } catch (const InputRefused& refusal) {
        problem = refusal.what();
    } catch (const std::bad_alloc&) {
        problem = failureMessage(FailureKind::OutOfMemory, ENOMEM);
    } catch (const std::exception& error) {
        // Anything else the encoder raises still ends only this file, and unwinding removes
        // its temporary file.
        problem = error.what();
    }
    messages.write(std::string(kProgram) + ": " + input + ": " + problem + "\n");
    return false;
}

}  // namespace

int runEncoder(std::span<const std::string> arguments, Console& out, Console& messages,
               bool showProgress) {
    EncodeOptions options;
    try {
        options = parseEncodeOptions(arguments);
    } catch (const UsageError& error) {
        messages.write(std::string(kProgram) + ": " + error.what() + "\nTry '" + kProgram +
                       " --help'.\n");
        return kEncodeUsageError;
    }
    if (options.action == EncodeOptions::Action::Help) {
        out.write(encodeUsageText());
        return kEncodeSuccess;
    }
    if (options.action == EncodeOptions::Action::Version) {
        out.write(std::string(kProgram) + " " TALVECO_VERSION "\n");
        return kEncodeSuccess;
    }
    bool anyFailed = false;
    for (const std::string& input : options.inputs) {
        anyFailed |= !encodeReportingFailure(input, options, messages, showProgress);
    }
    return anyFailed ? kEncodeFileFailed : kEncodeSuccess;
}

}  // namespace talveco
