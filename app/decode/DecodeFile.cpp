#include "app/decode/DecodeFile.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <memory>
#include <new>
#include <vector>

#include "app/common/OutputPaths.h"
#include "app/decode/Outputs.h"
#include "app/decode/SampleSinks.h"
#include "platform/Failure.h"
#include "platform/Files.h"
#include "platform/InputFile.h"
#include "talveco/talveco.h"

namespace talveco {
namespace {

constexpr const char* kProgram = "talveco-decode";
// Samples taken from the decoder at a time: whole frames of mono and stereo.
constexpr std::size_t kChunkSamples = std::size_t{1} << 16;
// The ACM file header in front of the bit stream.
constexpr std::uint64_t kHeaderBytes = 14;

std::string displayName(const std::string& path) {
    return path == "-" ? "stdin" : path;
}

std::string fixed(double value, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

std::string channelWord(unsigned channels) {
    if (channels == 1) return "mono";
    if (channels == 2) return "stereo";
    return std::to_string(channels) + " channels";
}

std::string plural(std::uint64_t count, const std::string& noun) {
    return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

// The bytes of the input as the decoder reads them, counted.
class CountedSource {
  public:
    explicit CountedSource(const std::string& path) {
        source_ = path == kStandardStreamName ? InputFile::standardInput()
                                              : std::make_unique<InputFile>(path);
    }

    std::size_t readSome(std::span<std::uint8_t> buffer) {
        const std::size_t got = source_->readSome(buffer);
        count_ += got;
        return got;
    }
    // Everything there is, by reading the rest to its end.
    std::uint64_t countToEnd() {
        std::vector<std::uint8_t> buffer(65536);
        while (readSome(buffer) > 0) {
        }
        return count_;
    }

  private:
    std::unique_ptr<InputFile> source_;
    std::uint64_t count_ = 0;
};

// An opened input: the stream, what the file is, and for --info the bytes
// read through it.
class OpenedInput {
  public:
    // A named file may unpack on a second thread; standard input is read
    // through descriptor 0 as it is (a socket cannot be opened by name), and
    // --info reads through a count of the bytes.
    OpenedInput(const std::string& path, bool secondThread, bool counted)
        : status_(path == kStandardStreamName ? statusOf(StandardStream::Input) : statusOf(path)),
          stream_(open(path, secondThread, counted)) {}

    AcmStream& stream() { return stream_; }
    std::optional<FileIdentity> identity() const {
        return status_ ? std::optional(status_->identity) : std::nullopt;
    }
    // The whole input's size: a regular file's from the file system, any
    // other's (a pipe) by reading it to its end.
    std::uint64_t totalBytes() {
        if (status_ && status_->kind == FileKind::Regular) return status_->size;
        return counted_->countToEnd();
    }

  private:
    AcmStream open(const std::string& path, bool secondThread, bool counted) {
        refuseFolderAsInput(path, status_);
        if (!counted && path != kStandardStreamName) {
            return AcmStream::openFile(path, OpenOptions{.secondThread = secondThread});
        }
        counted_ = std::make_unique<CountedSource>(path);
        return AcmStream::openReader([source = counted_.get()](std::span<std::uint8_t> buffer) {
            return source->readSome(buffer);
        });
    }

    std::optional<FileStatus> status_;
    std::unique_ptr<CountedSource> counted_;  // before the stream: it outlives it
    AcmStream stream_;
};

// The output's channels and rate (the header's unless the command line says
// otherwise), and the samples it gets: whole frames only.
SoundShape shapeOf(const AcmStream& stream, const DecodeOptions& options) {
    SoundShape shape;
    shape.channels = options.channels.value_or(stream.channels());
    shape.rate = options.rate.value_or(stream.sampleRate());
    if (shape.rate == 0) {
        throw FileRefused("the header states a rate of 0 Hz; --rate HZ sets the right one");
    }
    if (shape.channels != 1 && shape.channels != 2) {
        throw FileRefused("the header states " + std::to_string(shape.channels) +
                          " channels; only mono and stereo are decoded (--channels N sets the "
                          "right count)");
    }
    shape.samples = stream.sampleCount() - stream.sampleCount() % shape.channels;
    return shape;
}

// Passes the stream's samples, up to the shape's count and in whole frames,
// to `sink` (none when testing); returns how many there were.
std::uint64_t pumpSamples(AcmStream& reader, const SoundShape& shape, SampleSink* sink) {
    std::vector<std::int16_t> chunk(kChunkSamples);
    std::uint64_t total = 0;
    for (;;) {
        const std::size_t got = reader.read(chunk);
        std::size_t kept =
            static_cast<std::size_t>(std::min<std::uint64_t>(got, shape.samples - total));
        const bool ended = got < chunk.size() || total + kept == shape.samples;
        // A stream that ends early may end inside a frame.
        if (ended) kept -= (total + kept) % shape.channels;
        if (sink != nullptr && kept > 0) sink->write(std::span(chunk.data(), kept));
        total += kept;
        if (ended) return total;
    }
}

// What went wrong in a stream that was read to its end, one line each.
std::vector<std::string> problemsOf(const AcmStream& reader, const SoundShape& shape,
                                    std::uint64_t decoded) {
    std::vector<std::string> problems;
    if (reader.damagedBlocks() > 0) {
        problems.push_back(plural(reader.damagedBlocks(), "damaged block") +
                           " could not be decoded and " +
                           (reader.damagedBlocks() == 1 ? "was" : "were") + " skipped");
    }
    if (const std::uint64_t madeUp = reader.samplesPastEndOfInput(); madeUp > 0) {
        problems.push_back("truncated: the last " + plural(madeUp, "sample") +
                           " were decoded from past the end of the file");
    }
    if (decoded < shape.samples) {
        problems.push_back("ends after " + std::to_string(decoded) + " of the " +
                           std::to_string(shape.samples) + " samples announced");
    }
    return problems;
}

// The lines said about one file, each "talveco-decode: NAME: ...".
class FileMessages {
  public:
    FileMessages(const std::string& input, FileReport& report)
        : name_(displayName(input)), report_(report) {}

    void say(const std::string& text) {
        report_.messages += std::string(kProgram) + ": " + name_ + ": " + text + "\n";
    }
    void fail(const std::string& text) {
        say(text);
        report_.failed = true;
    }
    void summary(const std::string& target, const SoundShape& shape, std::uint64_t samples,
                 const std::vector<std::string>& remarks) {
        const double seconds =
            static_cast<double>(samples) / static_cast<double>(shape.channels * shape.rate);
        std::string line = name_ + target + ": " + fixed(seconds, 2) + " s, " +
                           channelWord(shape.channels) + ", " + std::to_string(shape.rate) + " Hz";
        for (const std::string& remark : remarks)
            line += ", " + remark;
        report_.messages += line + "\n";
    }

  private:
    std::string name_;
    FileReport& report_;
};

// An odd number of samples cannot fill the last stereo frame.
bool dropsHalfFrame(const AcmStream& stream, const SoundShape& shape, FileMessages& messages) {
    if (stream.sampleCount() == shape.samples) return false;
    messages.say("note: the header announces " + std::to_string(stream.sampleCount()) +
                 " samples, not whole stereo frames; the last half frame is dropped");
    return true;
}

// Puts the output in place when it decoded cleanly or -F keeps it; returns
// whether it stays.
bool settleOutput(const FileTask& task, const DecodeOptions& options, OutputStream& out,
                  bool damaged, FileMessages& messages) {
    if (damaged && !options.keepDamaged) {
        if (out.removedUnlessCommitted()) {
            messages.say(task.output + " removed (-F keeps what decodes)");
        }
        return false;
    }
    out.commit();
    return true;
}

void decodeToOutput(const FileTask& task, const DecodeOptions& options, bool secondThread,
                    FileMessages& messages) {
    OpenedInput input(task.input, secondThread, false);
    AcmStream& stream = input.stream();
    const SoundShape shape = shapeOf(stream, options);
    const std::unique_ptr<OutputStream> out =
        openOutput(task.output, input.identity(), options.force);
    // Only -o names an extension of no format; the refusal names it, once the
    // checks that protect the input have spoken.
    if (task.format == OutputFormat::Unlisted) {
        throw FileRefused(refusalOfName(task.output).value_or("no format for " + task.output));
    }
    std::uint64_t decoded = 0;
    {
        const std::unique_ptr<SampleSink> sink = makeSampleSink(task.format, *out, shape);
        decoded = pumpSamples(stream, shape, sink.get());
        sink->finish();
    }
    const std::vector<std::string> problems = problemsOf(stream, shape, decoded);
    for (const std::string& problem : problems)
        messages.fail(problem);
    std::vector<std::string> remarks;
    if (dropsHalfFrame(stream, shape, messages)) remarks.push_back("last half frame dropped");
    if (!settleOutput(task, options, *out, !problems.empty(), messages)) return;
    if (!problems.empty()) remarks.push_back("damaged, kept (-F)");
    if (!options.silent) {
        messages.summary(" -> " + (task.output == "-" ? "stdout" : task.output), shape, decoded,
                         remarks);
    }
}

void testStream(const FileTask& task, const DecodeOptions& options, bool secondThread,
                FileMessages& messages) {
    OpenedInput input(task.input, secondThread, false);
    const SoundShape shape = shapeOf(input.stream(), options);
    const std::uint64_t decoded = pumpSamples(input.stream(), shape, nullptr);
    const std::vector<std::string> problems = problemsOf(input.stream(), shape, decoded);
    for (const std::string& problem : problems)
        messages.fail(problem);
    if (!options.silent) {
        messages.summary("", shape, decoded, {problems.empty() ? "ok" : "damaged"});
    }
}

// Seconds of `samples` values at `channels` x `rate`, in floating point: the
// product of two 16-bit header fields need not fit an int.
std::string durationText(std::uint64_t samples, unsigned channels, unsigned rate) {
    const double frameRate = static_cast<double>(channels) * static_cast<double>(rate);
    if (frameRate == 0) return "unknown duration";
    return fixed(static_cast<double>(samples) / frameRate, 2) + " s";
}

// "NAME: stereo, 22050 Hz, 44100 samples, 1.00 s, 7 levels, 16 rows, 12345
// bytes, 2.24 bits/sample"
std::string infoLine(const std::string& input) {
    OpenedInput opened(input, false, true);
    const AcmStream& stream = opened.stream();
    const std::uint64_t bytes = opened.totalBytes();
    std::string line = displayName(input) + ": " + channelWord(stream.channels()) + ", " +
                       std::to_string(stream.sampleRate()) + " Hz, " +
                       plural(stream.sampleCount(), "sample") + ", " +
                       durationText(stream.sampleCount(), stream.channels(), stream.sampleRate());
    line += ", " + plural(stream.levels(), "level") + ", " + plural(stream.rows(), "row") + ", " +
            plural(bytes, "byte");
    if (stream.sampleCount() > 0 && bytes >= kHeaderBytes) {
        line += ", " + fixed(double(bytes - kHeaderBytes) * 8 / stream.sampleCount(), 2) +
                " bits/sample";
    }
    return line + "\n";
}

}  // namespace

FileReport runFileTask(const FileTask& task, const DecodeOptions& options, bool secondThread) {
    FileReport report;
    FileMessages messages(task.input, report);
    try {
        switch (options.action) {
            case DecodeOptions::Action::Info:
                report.info = infoLine(task.input);
                break;
            case DecodeOptions::Action::Test:
                testStream(task, options, secondThread, messages);
                break;
            default:
                decodeToOutput(task, options, secondThread, messages);
                break;
        }
    } catch (const Failure& failure) {
        messages.fail(failure.what());
    } catch (const FileRefused& refusal) {
        messages.fail(refusal.what());
    } catch (const std::bad_alloc&) {
        messages.fail(failureMessage(FailureKind::OutOfMemory, ENOMEM));
    } catch (const std::exception& error) {
        messages.fail(error.what());
    }
    return report;
}

}  // namespace talveco
