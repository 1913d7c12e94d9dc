#include "app/encode/EncodeOptions.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <optional>

#include "platform/Interrupts.h"
#include "talveco/limits.h"

namespace talveco {
namespace {

enum OptionId {
    kHelp,
    kVersion,
    kForce,
    kSilent,
    kQuiet,
    kOutput,
    kStdout,
    kDirectory,
    kQuality,
    kBitrate,
    kLevels,
    kRows,
    kStrictRate,
    kLike,
    kChannels,
    kResample,
    kJobs
};

constexpr OptionSpec kOptions[] = {
    {kHelp, 'h', "help"},
    {kVersion, 'V', "version"},
    {kForce, 'f', "force"},
    {kSilent, 's', "silent"},
    {kQuiet, 'Q', "quiet"},
    {kOutput, 'o', "output", true},
    {kStdout, 'c', "stdout"},
    {kDirectory, 'd', "output-dir", true},
    {kQuality, 'q', "quality", true},
    {kBitrate, 'b', "bitrate", true},
    {kLevels, '\0', "levels", true},
    {kRows, '\0', "rows", true},
    {kStrictRate, '\0', "strict-rate"},
    {kLike, '\0', "like", true},
    {kChannels, '\0', "channels", true},
    {kResample, '\0', "resample", true},
    {kJobs, 'j', "jobs", true},
};

// As talveco-decode has it: far more than any machine has processors, and no more than the
// interrupt clean-up can follow, so that every job's unfinished output is removed on Ctrl-C.
constexpr unsigned kMostJobs = kMostJobsCleanedUp;

std::string shortest(double value) {
    char text[32];
    const auto [end, error] = std::to_chars(text, text + sizeof text, value);
    return error == std::errc{} ? std::string(text, end) : std::to_string(value);
}

// Reads the whole of `text` as a number in [low, high]; anything else is a usage error
// naming the option.
double parseNumber(const std::string& option, const std::string& text, double low, double high) {
    double value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (error != std::errc{} || stop != end || text.empty() || !std::isfinite(value) ||
        value < low || value > high) {
        throw UsageError(option + " wants a number from " + shortest(low) + " to " +
                         shortest(high) + ", not '" + text + "'");
    }
    return value;
}

void apply(const GivenOption& given, EncodeOptions& options) {
    EncoderSettings& settings = options.settings;
    switch (given.id) {
        case kHelp:
            options.action = EncodeOptions::Action::Help;
            break;
        case kVersion:
            options.action = EncodeOptions::Action::Version;
            break;
        case kForce:
            options.force = true;
            break;
        case kSilent:
        case kQuiet:
            options.silent = true;
            break;
        case kOutput:
            options.outputPath = given.value;
            break;
        case kStdout:
            options.outputPath.emplace(kStandardStream);
            break;
        case kDirectory:
            options.outputDirectory = given.value;
            break;
        case kQuality:
            settings.quality =
                parseNumber(given.name, given.value, limits::minQuality, limits::maxQuality);
            break;
        case kBitrate:
            // The top is that of stereo at the highest rate; the encoder refuses more than a
            // file's own channels and rate can use.
            settings.bitrateKbps = parseNumber(given.name, given.value, limits::minBitrateKbps,
                                               limits::maxBitrateKbps(2, limits::maxSampleRate));
            break;
        case kLevels:
            settings.levels = parseWholeNumber(given.name, given.value, 0, limits::maxLevels);
            break;
        case kRows:
            settings.rows =
                parseWholeNumber(given.name, given.value, limits::minRows, limits::maxRows);
            break;
        case kStrictRate:
            options.strictRate = true;
            break;
        case kLike:
            options.likePath = given.value;
            break;
        case kChannels:
            options.channels = parseWholeNumber(given.name, given.value, 1, 2);
            break;
        case kResample:
            options.sampleRate =
                parseWholeNumber(given.name, given.value, 1, limits::maxSampleRate);
            break;
        case kJobs:
            options.jobs = parseWholeNumber(given.name, given.value, 1, kMostJobs);
            break;
    }
}

// How the user wrote the first option of `id`, or nothing when it was not given.
std::optional<std::string> givenName(std::span<const GivenOption> given, OptionId id) {
    const auto found = std::find_if(given.begin(), given.end(),
                                    [id](const GivenOption& option) { return option.id == id; });
    if (found == given.end()) return std::nullopt;
    return found->name;
}

// Options that one another would silently override or make meaningless: a user who gave both
// asked for something the run would not do.
void refuseOverriddenOptions(std::span<const GivenOption> given) {
    const auto like = givenName(given, kLike);
    for (const OptionId geometry : {kLevels, kRows}) {
        if (const auto name = givenName(given, geometry); name && like) {
            throw UsageError(*like + " codes with the old stream's levels and rows; " + *name +
                             " does not go with it");
        }
    }
    const auto bitrate = givenName(given, kBitrate);
    if (const auto quality = givenName(given, kQuality); quality && bitrate) {
        throw UsageError(*quality + " and " + *bitrate + " do not go together: " + *bitrate +
                         " chooses the quality that meets its rate");
    }
    if (const auto strict = givenName(given, kStrictRate); strict && !bitrate) {
        throw UsageError(*strict + " holds the bitrate to -b, which is not given");
    }
    const auto output = givenName(given, kOutput);
    if (const auto toStdout = givenName(given, kStdout); toStdout && output) {
        throw UsageError(*output + " and " + *toStdout +
                         " do not go together: both say where the output goes");
    }
}

void refuseConflicts(const EncodeOptions& options, std::span<const GivenOption> given) {
    if (options.inputs.empty()) throw UsageError("no input file");
    refuseOverriddenOptions(given);
    const std::optional<unsigned>& levels = options.settings.levels;
    const std::optional<unsigned>& rows = options.settings.rows;
    if (levels && rows && *rows > limits::maxEncoderRows(*levels)) {
        throw UsageError("--levels " + std::to_string(*levels) + " takes at most --rows " +
                         std::to_string(limits::maxEncoderRows(*levels)) + " (blocks of up to " +
                         std::to_string(limits::maxEncoderBlockValues) + " values)");
    }
    if (options.outputPath && options.outputDirectory) {
        throw UsageError("-o (or -c) and -d do not go together");
    }
    if (options.outputPath && options.inputs.size() > 1) {
        throw UsageError(*options.outputPath == kStandardStream
                             ? "-c writes a single input's stream to standard output"
                             : "-o names the output of a single input file");
    }
}

}  // namespace

EncodeOptions parseEncodeOptions(std::span<const std::string> arguments) {
    const ParsedCommandLine parsed = parseCommandLine(arguments, kOptions);
    EncodeOptions options;
    for (const GivenOption& given : parsed.options)
        apply(given, options);
    options.inputs = parsed.operands;
    if (options.action == EncodeOptions::Action::Encode) refuseConflicts(options, parsed.options);
    return options;
}

std::string encodeUsageText() {
    return "Usage: talveco-encode [options] FILE...\n"
           "Encodes audio files (WAV, AIFF, FLAC, Ogg Vorbis, MP3, ACM, ...) as ACM.\n"
           "Each FILE becomes FILE with its extension replaced by .acm, beside it. A FILE of -\n"
           "is standard input, encoded to standard output unless -o or -d say otherwise.\n"
           "\n"
           "  -q, --quality N     constant quality, 0 (smallest) to 10 (best); default 5\n"
           "  -b, --bitrate KBPS  average bitrate in kbit/s, all channels together\n"
           "  --strict-rate       fail a file whose bitrate is not within 2 % of -b\n"
           "  --like OLD          code an edit of OLD.acm: its geometry, and its blocks where\n"
           "                      the input still decodes as OLD does, which come back exact;\n"
           "                      after a cut or insertion that is not a multiple of 2^levels\n"
           "                      samples, what follows it is coded afresh, not exact\n"
           "                      the input takes OLD's channels and rate unless\n"
           "                      --channels or --resample say otherwise\n"
           "  --channels N        1 or 2: fold the input's channels to mono (their average)\n"
           "                      or stereo (5.1 and 4 channels by the standard downmix),\n"
           "                      or copy mono to both sides\n"
           "  --resample HZ       resample to HZ, 1 to 65535, before coding (libsoxr, high\n"
           "                      quality)\n"
           "  --levels N          transform levels, 0 to 15 (default: chosen from the material)\n"
           "  --rows N            rows per block, 1 to 4095 (default: chosen from the material)\n"
           "  -o, --output OUT    write the single input's output to OUT (- for standard output)\n"
           "  -c, --stdout        write the single input's output to standard output\n"
           "  -d, --output-dir DIR  write the outputs into DIR (created when missing)\n"
           "  -f, --force         replace existing output files\n"
           "  -j, --jobs N        encode N files at once (default: the usable processors);\n"
           "                      the messages come in the files' order all the same\n"
           "  -s, --silent        no summary lines, no progress\n"
           "  -Q, --quiet         the same as -s\n"
           "  -h, --help          show this text\n"
           "  -V, --version       show the version\n"
           "  --                  end of options: every later argument is a FILE\n"
           "\n"
           "-q and -b do not go together, nor --like with --levels or --rows, nor -o with -c;\n"
           "--strict-rate needs -b.\n"
           "\n"
           "Short options bundle (-fs) and take values attached (-q5); long options take them\n"
           "after = (--quality=5) or as the next argument.\n"
           "\n"
           "Exit status: 0 when every file was encoded, 1 when any failed, 2 for a bad command\n"
           "line.\n";
}

}  // namespace talveco
