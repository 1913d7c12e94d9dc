#include "app/encode/EncodeRun.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <exception>
#include <iterator>
#include <new>
#include <optional>
#include <vector>

#include "app/common/OrderedJobs.h"
#include "app/common/OutputPaths.h"
#include "app/encode/EncodeOptions.h"
#include "app/encode/InputFitting.h"
#include "app/encode/OutputTarget.h"
#include "app/encode/SoundFileReader.h"
#include "encoder/RateControl.h"
#include "platform/Failure.h"
#include "platform/InputFile.h"
#include "platform/Processors.h"
#include "talveco/encoder.h"
#include "talveco/talveco.h"

namespace talveco {
namespace {

constexpr const char* kProgram = "talveco-encode";
// Samples handed to the encoder at a time (a whole number of frames for mono and stereo).
constexpr std::size_t kPieceSamples = std::size_t{1} << 16;
// Only files longer than this get a progress line.
constexpr double kProgressSeconds = 60;
// A bitrate exceeded by more than this share could not be met at all: the coarsest coding
// the signal allows takes more.
// Bitrates reached further than this from -b are named.
constexpr double kRateTolerance = 0.02;

std::string fixed(double value, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

std::string shortest(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

std::string snrText(double snrDb) {
    return std::isinf(snrDb) && snrDb > 0 ? "exact" : "SNR " + fixed(snrDb, 1) + " dB";
}

// What the user calls an input or output in messages.
std::string shownName(const std::string& path, const char* standardStream) {
    return path == kStandardStream ? standardStream : path;
}

std::string summaryLine(const std::string& input, const std::string& output,
                        const EncoderReport& report, const FittedInput& reader, bool countExact) {
    const unsigned channels = reader.channels();
    const unsigned rate = reader.sampleRate();
    const double seconds =
        static_cast<double>(report.sampleCount) / (static_cast<double>(channels) * rate);
    std::string line = input + " -> " + output + ": " + fixed(seconds, 2) + " s, " +
                       (channels == 1 ? "mono" : "stereo");
    // What was fitted is named beside what was coded.
    if (reader.inputChannels() != channels) {
        line += " from " + (reader.inputChannels() == 1 ? std::string("mono")
                            : reader.inputChannels() == 2
                                ? std::string("stereo")
                                : std::to_string(reader.inputChannels()) + " channels");
    }
    line += ", " + std::to_string(rate) + " Hz";
    if (reader.inputRate() != rate) line += " from " + std::to_string(reader.inputRate()) + " Hz";
    if (report.sampleCount == 0) return line + ", no samples\n";
    const double kbps = static_cast<double>(report.streamBytes) * 8 / seconds / 1000;
    // What was encoded is the input as read: clipped, NaN made 0.
    const bool altered = reader.clippedSamples() > 0 || reader.notNumbers() > 0;
    line += ", " + fixed(kbps, 1) + " kbit/s, " + fixed(report.bitsPerSample, 2) +
            " bits/sample, " + snrText(report.snrDb) +
            (altered ? " against the clipped input" : "");
    if (countExact) {
        line += ", " + std::to_string(report.exactSamples) + " of " +
                std::to_string(report.sampleCount) + " samples exact";
    }
    return line + "\n";
}

// "NAME: 42%" on one line that rewrites itself, for long files on a terminal, cut to the
// terminal's width so that it never wraps (a wrapped line would not be rewritten).
class ProgressLine {
  public:
    ProgressLine(Console& messages, const std::string& name, std::optional<unsigned> columns)
        : messages_(messages), name_(name), columns_(columns) {}

    // `phase` is empty, or says what the percentage is of ("coding ").
    void show(const char* phase, std::uint64_t done, std::uint64_t total) {
        if (!columns_ || total == 0) return;
        const auto percent =
            static_cast<unsigned>(std::min<std::uint64_t>(done, total) * 100 / total);
        if (percent == shown_ && phase == phase_) return;
        shown_ = percent;
        phase_ = phase;
        const std::string tail = ": " + std::string(phase) + std::to_string(percent) + "%";
        // The last column stays free: some terminals wrap on writing to it.
        const std::size_t room = *columns_ > tail.size() + 1 ? *columns_ - tail.size() - 1 : 0;
        const std::string name =
            name_.size() <= room ? name_ : name_.substr(name_.size() - room, room);
        messages_.write("\r" + name + tail + "\033[K");
    }
    // Erases the line, so that the summary or an error starts on a clean one.
    void clear() {
        if (shown_ <= 100) messages_.write("\r\033[K");
        shown_ = 101;
    }

  private:
    Console& messages_;
    const std::string& name_;
    std::optional<unsigned> columns_;
    unsigned shown_ = 101;  // nothing shown yet
    const char* phase_ = "";
};

void warn(std::string& said, const std::string& input, const std::string& text) {
    said += std::string(kProgram) + ": " + input + ": warning: " + text + "\n";
}

// Empty when the stream's bitrate is within kRateTolerance of -b (or there is no -b);
// otherwise what was reached.
std::string missedRate(const EncoderReport& report, const FittedInput& reader,
                       const EncoderSettings& settings) {
    if (!settings.bitrateKbps || report.sampleCount == 0) return {};
    const double asked = *settings.bitrateKbps;
    const double seconds = static_cast<double>(report.sampleCount) /
                           (static_cast<double>(reader.channels()) * reader.sampleRate());
    const double kbps = static_cast<double>(report.streamBytes) * 8 / seconds / 1000;
    if (std::abs(kbps / asked - 1) <= kRateTolerance) return {};
    return std::string(kbps > asked ? "-b " + shortest(asked) +
                                          " is below what this sound can be carried at: "
                                    : "") +
           "the bitrate reached is " + fixed(kbps, 1) + " kbit/s (" +
           fixed(report.bitsPerSample, 2) + " bits/sample), not within 2 % of -b " +
           shortest(asked);
}

void warnAboutLosses(std::string& said, const std::string& input, const EncoderReport& report,
                     const FittedInput& reader) {
    if (report.startClicks()) {
        warn(said, input,
             "the sound starts abruptly, where the format starts from silence; the first " +
                 std::to_string(1U << (report.levels + 1)) + " samples are off by up to " +
                 std::to_string(report.onsetError) + " where the sound reaches " +
                 std::to_string(report.onsetPeak) +
                 "; a fade-in of a few milliseconds, or fewer levels, brings them closer");
    }
    if (reader.clippedSamples() > 0) {
        warn(said, input,
             std::to_string(reader.clippedSamples()) + " samples beyond full scale were clipped");
    }
    if (reader.notNumbers() > 0) {
        warn(said, input,
             std::to_string(reader.notNumbers()) +
                 " samples were not numbers (NaN) and were "
                 "made silent");
    }
    for (const std::string& note : reader.notes())
        said += std::string(kProgram) + ": " + input + ": note: " + note + "\n";
}

// What makes the geometry of --levels or --rows far worse than one chosen to suit the sound,
// or nothing. Blocks so small that their codes outweigh their values cost more than the
// samples as 16-bit PCM (the header of the stream left out). Geometries of many levels reach
// an SNR they cannot pass at any quality (about 21 dB at 9 levels, 3 dB at 15): one short by
// more than kGeometryShortfallDb of the quality's aim is named, but never one above
// kFairSnrDb, since the chosen geometry too falls up to 12 dB short at the top qualities on
// dense noise, and whole-number steps limit a quiet input's SNR.
std::vector<std::string> geometryFaults(const EncoderReport& report,
                                        const EncoderSettings& settings) {
    constexpr std::uint64_t kHeaderBytes = 14;
    constexpr double kPcmBitsPerSample = 16;
    constexpr double kGeometryShortfallDb = 15;
    constexpr double kFairSnrDb = 20;
    std::vector<std::string> faults;
    if ((!settings.levels && !settings.rows) || report.sampleCount == 0) return faults;
    const double aimed = qualityAimSnrDb(settings.quality);
    if (!settings.bitrateKbps &&
        report.snrDb < std::min(aimed - kGeometryShortfallDb, kFairSnrDb)) {
        faults.push_back(snrText(report.snrDb) + " where -q " + shortest(settings.quality) +
                         " aims at about " + fixed(aimed, 0) + " dB");
    }
    const double blockBits = static_cast<double>(report.streamBytes - kHeaderBytes) * 8 /
                             static_cast<double>(report.sampleCount);
    if (blockBits > kPcmBitsPerSample) {
        faults.push_back(fixed(report.bitsPerSample, 2) +
                         " bits/sample, more than the samples as 16-bit PCM");
    }
    return faults;
}

void warnAboutForcedGeometry(std::string& said, const std::string& input,
                             const EncoderReport& report, const EncoderSettings& settings) {
    const std::vector<std::string> faults = geometryFaults(report, settings);
    if (faults.empty()) return;
    std::string text;
    if (settings.levels) text += "--levels " + std::to_string(*settings.levels) + " ";
    if (settings.rows) text += "--rows " + std::to_string(*settings.rows) + " ";
    text.back() = ':';
    for (std::size_t i = 0; i < faults.size(); ++i)
        text += (i == 0 ? " " : ", and ") + faults[i];
    const bool both = settings.levels && settings.rows;
    warn(said, input,
         text + (both ? "; leave them out" : "; leave it out") +
             " to have the geometry chosen to suit the sound");
}

// Feeds the whole input to the encoder and finishes it. The encoder codes everything in
// finish(), after the last piece: the progress line shows the reading, then the share of
// the coding the encoder reports done.
EncoderReport encodeAll(FittedInput& reader, AcmEncoder& encoder, ProgressLine& progress) {
    const std::uint64_t total = reader.frames().value_or(0) * reader.channels();
    encoder.onProgress([&](double done) {
        progress.show("coding ", static_cast<std::uint64_t>(done * double(total)), total);
    });
    std::vector<std::int16_t> piece(kPieceSamples);
    std::uint64_t read = 0;
    while (const std::size_t count = reader.read(piece)) {
        encoder.write(std::span<const std::int16_t>(piece.data(), count));
        read += count;
        progress.show("reading ", read, total);
    }
    EncoderReport report = encoder.finish();
    progress.clear();
    return report;
}

EncoderReport encodeToFile(FittedInput& reader, const std::string& output,
                           const EncoderSettings& settings, ProgressLine& progress) {
    AcmEncoder encoder =
        AcmEncoder::toFile(output, reader.channels(), reader.sampleRate(), settings);
    return encodeAll(reader, encoder, progress);
}

// The header's sample count is known only at the end, and standard output may be a pipe that
// cannot go back to it: the stream is held (about a tenth of the input) and written at once.
EncoderReport encodeToStandardOutput(FittedInput& reader, const EncoderSettings& settings,
                                     ProgressLine& progress) {
    AcmEncoder encoder = AcmEncoder::toMemory(reader.channels(), reader.sampleRate(), settings);
    const EncoderReport report = encodeAll(reader, encoder, progress);
    writeToStandardOutput(encoder.bytes());
    return report;
}

// The null device (-o /dev/null, to time the encoder) is written directly, as standard output
// is: there is nothing to protect, and no temporary file may be renamed over it.
EncoderReport encodeToNullDevice(FittedInput& reader, const std::string& output,
                                 const EncoderSettings& settings, ProgressLine& progress) {
    DeviceOutput device(output);
    AcmEncoder encoder = AcmEncoder::toMemory(reader.channels(), reader.sampleRate(), settings);
    const EncoderReport report = encodeAll(reader, encoder, progress);
    device.write(encoder.bytes());
    return report;
}

// Only failures of the file system are about the output file, and of those only the ones that
// do not say what they are about: the encoder's scratch data, which is not beside the output,
// names its own folder.
bool isAboutTheOutput(const Failure& failure) {
    return failure.kind() <= FailureKind::IoError &&
           failure.what() == failureMessage(failure.kind(), failure.errorNumber());
}

// The settings of the command line, with the stream of --like read in.
EncoderSettings settingsFor(const EncodeOptions& options) {
    EncoderSettings settings = options.settings;
    if (!options.likePath) return settings;
    try {
        InputFile file(*options.likePath);
        std::vector<std::uint8_t> piece(std::size_t{1} << 16);
        while (const std::size_t got = file.readSome(piece))
            settings.likeStream.insert(settings.likeStream.end(), piece.begin(),
                                       piece.begin() + static_cast<std::ptrdiff_t>(got));
    } catch (const Failure& failure) {
        throw InputRefused("--like " + *options.likePath + ": " + openFailureReason(failure));
    }
    const std::uint8_t signature[] = {0x97, 0x28, 0x03, 0x01};
    if (settings.likeStream.size() < 14 ||
        !std::equal(std::begin(signature), std::end(signature), settings.likeStream.begin())) {
        throw InputRefused("--like " + *options.likePath + ": not an ACM file");
    }
    return settings;
}

// The stream to fit the input to: what --channels and --resample ask for, else, with --like,
// the old stream's channels and rate, since the edit is to replace it.
FitRequest fitRequestFor(const EncodeOptions& options, const EncoderSettings& settings) {
    FitRequest request{options.channels, options.sampleRate};
    if (settings.likeStream.empty()) return request;
    try {
        std::size_t offset = 0;
        const std::span<const std::uint8_t> old = settings.likeStream;
        AcmStream header = AcmStream::openReader([&](std::span<std::uint8_t> buffer) {
            const std::size_t count = std::min(buffer.size(), old.size() - offset);
            std::copy_n(old.begin() + static_cast<std::ptrdiff_t>(offset), count, buffer.begin());
            offset += count;
            return count;
        });
        // A header no encoder writes would make a fit to nothing (no channels, no rate).
        if (header.channels() < 1 || header.channels() > 2 || header.sampleRate() < 1) {
            throw InputRefused("--like " + *options.likePath + ": the header states " +
                               std::to_string(header.channels()) + " channels at " +
                               std::to_string(header.sampleRate()) +
                               " Hz; an ACM file carries mono or stereo at 1 to 65535 Hz");
        }
        if (!request.channels) request.channels = header.channels();
        if (!request.sampleRate) request.sampleRate = header.sampleRate();
    } catch (const Failure& failure) {
        throw InputRefused("--like " + *options.likePath + ": " + failure.what());
    }
    return request;
}

// What the file's encoding says goes to `said`; only the progress line goes straight to
// `console`, and only when `progressColumns` allow it.
void encodeFile(const std::string& input, const std::string& output, const EncodeOptions& options,
                std::string& said, Console& console, std::optional<unsigned> progressColumns) {
    const EncoderSettings settings = settingsFor(options);
    if (input != kStandardStream) refuseFolderAsInput(input, statusOf(input));
    FittedInput reader(input, fitRequestFor(options, settings));
    const bool toStandardOutput = output == kStandardStream;
    const OutputPlace place = refuseUnsafeTarget(output, reader.identity(), options.force);
    const std::string inputName = shownName(input, "(standard input)");
    const std::string outputName = shownName(output, "(standard output)");
    const bool longFile = reader.frames() && static_cast<double>(*reader.frames()) >
                                                 kProgressSeconds * reader.sampleRate();
    ProgressLine progress(console, inputName,
                          options.silent || !longFile ? std::nullopt : progressColumns);
    EncoderReport report;
    try {
        if (toStandardOutput) {
            report = encodeToStandardOutput(reader, settings, progress);
        } else if (place == OutputPlace::NullDevice) {
            report = encodeToNullDevice(reader, output, settings, progress);
        } else {
            report = encodeToFile(reader, output, settings, progress);
        }
    } catch (const Failure& failure) {
        progress.clear();
        if (!isAboutTheOutput(failure)) throw;
        throw InputRefused("writing " + outputName + ": " + failure.what());
    } catch (...) {
        progress.clear();
        throw;
    }
    if (!options.silent) {
        said += summaryLine(inputName, outputName, report, reader, options.likePath.has_value());
    }
    warnAboutLosses(said, inputName, report, reader);
    warnAboutForcedGeometry(said, inputName, report, settings);
    const std::string missed = missedRate(report, reader, settings);
    if (missed.empty()) return;
    if (options.strictRate) {
        throw InputRefused(missed + " (--strict-rate; " + outputName + " is kept)");
    }
    warn(said, inputName, missed);
}

// Where an input's stream goes: -o, standard output for standard input, else beside the input
// or in the -d folder.
std::string outputFor(const std::string& input, const EncodeOptions& options) {
    return talveco::outputFor(input, {options.outputPath, options.outputDirectory, ".acm"});
}

// Two inputs written to one output would leave only the last, after encoding both; an output
// that is another input would be replaced before it is read; and a terminal is no place for a
// stream, in or out.
void refuseCollidingOutputs(const EncodeOptions& options) {
    std::vector<std::string> outputs;
    for (const std::string& input : options.inputs)
        outputs.push_back(outputFor(input, options));
    refuseClashingOutputs(options.inputs, outputs);
    if (options.outputDirectory &&
        std::count(options.inputs.begin(), options.inputs.end(), kStandardStream) > 0) {
        throw UsageError("standard input has no name to put in the -d folder; use -o");
    }
}

// What encoding one input said, to be shown once the inputs before it have had their say.
struct FileReport {
    std::string messages;
    bool failed = false;
};

// Encodes one input, its failure reported with the rest of what it says.
FileReport encodeReportingFailure(const std::string& input, const EncodeOptions& options,
                                  Console& console, std::optional<unsigned> progressColumns) {
    FileReport report;
    std::string problem;
    try {
        encodeFile(input, outputFor(input, options), options, report.messages, console,
                   progressColumns);
        return report;
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
    report.messages +=
        std::string(kProgram) + ": " + shownName(input, "(standard input)") + ": " + problem + "\n";
    report.failed = true;
    return report;
}

unsigned jobCount(const EncodeOptions& options) {
    const unsigned wanted = options.jobs != 0 ? options.jobs : usableProcessors();
    return static_cast<unsigned>(std::min<std::size_t>(wanted, options.inputs.size()));
}

}  // namespace

int runEncoder(std::span<const std::string> arguments, Console& out, Console& messages,
               std::optional<unsigned> progressColumns) {
    EncodeOptions options;
    try {
        options = parseEncodeOptions(arguments);
        if (options.action == EncodeOptions::Action::Encode) refuseCollidingOutputs(options);
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
    MadeFolders folders;
    if (options.outputDirectory) {
        try {
            makeOutputFolder(*options.outputDirectory, folders);
        } catch (const FileRefused& refusal) {
            messages.write(std::string(kProgram) + ": " + refusal.what() + "\n");
            return kEncodeFileFailed;
        }
    }
    // Files coded side by side would share one progress line: only a run of one job has it.
    const unsigned jobs = jobCount(options);
    const std::optional<unsigned> columns = jobs == 1 ? progressColumns : std::nullopt;
    bool anyFailed = false;
    auto work = [&](std::size_t i) {
        return encodeReportingFailure(options.inputs[i], options, messages, columns);
    };
    auto deliver = [&](std::size_t, FileReport&& report) {
        messages.write(report.messages);
        anyFailed |= report.failed;
    };
    runInOrder(options.inputs.size(), jobs, work, deliver);
    return anyFailed ? kEncodeFileFailed : kEncodeSuccess;
}

}  // namespace talveco
