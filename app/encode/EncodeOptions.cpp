#include "app/encode/EncodeOptions.h"

#include <charconv>
#include <cmath>

#include "talveco/limits.h"

namespace talveco {
namespace {

// Reads the whole of `text` as a number in [low, high]; anything else is a usage error
// naming the option.
double parseNumber(const std::string& option, const std::string& text, double low, double high) {
    double value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (error != std::errc{} || stop != end || text.empty() || !std::isfinite(value) ||
        value < low || value > high) {
        throw UsageError(option + " wants a number from " + std::to_string(int(low)) + " to " +
                         std::to_string(int(high)) + ", not '" + text + "'");
    }
    return value;
}

unsigned parseWhole(const std::string& option, const std::string& text, unsigned low,
                    unsigned high) {
    const double value = parseNumber(option, text, low, high);
    if (value != std::floor(value)) {
        throw UsageError(option + " wants a whole number, not '" + text + "'");
    }
    return static_cast<unsigned>(value);
}

// Walks the arguments; options that take a value take the next argument.
class OptionReader {
  public:
    explicit OptionReader(std::span<const std::string> arguments) : arguments_(arguments) {}

    bool done() const { return next_ == arguments_.size(); }
    const std::string& take() { return arguments_[next_++]; }
    const std::string& valueOf(const std::string& option) {
        if (done()) throw UsageError(option + " needs a value");
        return take();
    }

  private:
    std::span<const std::string> arguments_;
    std::size_t next_ = 0;
};

// Applies one option; returns false when `argument` is not an option.
bool applyOption(const std::string& argument, OptionReader& reader, EncodeOptions& options) {
    if (argument == "-h" || argument == "--help") {
        options.action = EncodeOptions::Action::Help;
    } else if (argument == "-V" || argument == "--version") {
        options.action = EncodeOptions::Action::Version;
    } else if (argument == "-f" || argument == "--force") {
        options.force = true;
    } else if (argument == "-s" || argument == "--silent") {
        options.silent = true;
    } else if (argument == "-o") {
        options.outputPath = reader.valueOf(argument);
    } else if (argument == "-q") {
        options.settings.quality =
            parseNumber(argument, reader.valueOf(argument), limits::minQuality, limits::maxQuality);
    } else if (argument == "-b") {
        // The top is that of stereo at the highest rate; the encoder refuses more than a
        // file's own channels and rate can use.
        options.settings.bitrateKbps =
            parseNumber(argument, reader.valueOf(argument), limits::minBitrateKbps,
                        limits::maxBitrateKbps(2, limits::maxSampleRate));
    } else if (argument == "--levels") {
        options.settings.levels =
            parseWhole(argument, reader.valueOf(argument), 0, limits::maxLevels);
    } else if (argument == "--rows") {
        options.settings.rows =
            parseWhole(argument, reader.valueOf(argument), limits::minRows, limits::maxRows);
    } else {
        return false;
    }
    return true;
}

}  // namespace

EncodeOptions parseEncodeOptions(std::span<const std::string> arguments) {
    EncodeOptions options;
    OptionReader reader(arguments);
    bool optionsEnded = false;
    while (!reader.done()) {
        const std::string& argument = reader.take();
        if (!optionsEnded && argument == "--") {
            optionsEnded = true;
        } else if (optionsEnded || argument.size() < 2 || argument[0] != '-') {
            options.inputs.push_back(argument);
        } else if (!applyOption(argument, reader, options)) {
            throw UsageError("unknown option '" + argument + "'");
        }
    }
    if (options.action != EncodeOptions::Action::Encode) return options;
    if (options.inputs.empty()) throw UsageError("no input file");
    if (options.outputPath && options.inputs.size() > 1) {
        throw UsageError("-o names the output of a single input file");
    }
    return options;
}

std::string encodeUsageText() {
    return "Usage: talveco-encode [options] FILE...\n"
           "Encodes audio files (WAV, AIFF, FLAC, Ogg Vorbis, ...; mono or stereo) as ACM.\n"
           "Each FILE becomes FILE with its extension replaced by .acm, beside it.\n"
           "\n"
           "  -q N         constant quality, 0 (smallest) to 10 (best); default 5\n"
           "  -b KBPS      average bitrate in kbit/s, all channels together\n"
           "  --levels N   transform levels, 0 to 15 (default: chosen from the material)\n"
           "  --rows N     rows per block, 1 to 4095 (default: chosen from the material)\n"
           "  -o OUT       write the single input's output to OUT\n"
           "  -f           replace existing output files\n"
           "  -s           silent: no summary lines, no progress\n"
           "  -h, --help   show this text\n"
           "  -V, --version\n"
           "\n"
           "Exit status: 0 when every file was encoded, 1 when any failed, 2 for a bad command\n"
           "line.\n";
}

}  // namespace talveco
