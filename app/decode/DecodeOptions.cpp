#include "app/decode/DecodeOptions.h"

#include <algorithm>

#include "app/common/CommandLine.h"
#include "platform/Interrupts.h"
#include "talveco/limits.h"

namespace talveco {
namespace {

enum OptionId {
    kHelp,
    kVersion,
    kOutput,
    kOutputDir,
    kStdout,
    kForce,
    kKeepDamaged,
    kSilent,
    kQuiet,
    kTest,
    kInfo,
    kJobs,
    kFormat,
    kRate,
    kChannels,
};

constexpr OptionSpec kOptions[] = {
    {kHelp, 'h', "help"},
    {kVersion, 'V', "version"},
    {kOutput, 'o', "output", true},
    {kOutputDir, 'd', "output-dir", true},
    {kStdout, 'c', "stdout"},
    {kForce, 'f', "force"},
    {kKeepDamaged, 'F', "decode-through-errors"},
    {kSilent, 's', "silent"},
    {kQuiet, 'Q', "quiet"},  // as talveco-encode has it
    {kTest, 't', "test"},
    {kInfo, '\0', "info"},
    {kJobs, 'j', "jobs", true},
    {kFormat, '\0', "format", true},
    {kRate, '\0', "rate", true},
    {kChannels, '\0', "channels", true},
};

// Far more than any machine has processors, and no more than the interrupt
// clean-up can follow: every job's unfinished output is removed on Ctrl-C.
constexpr unsigned kMostJobs = kMostJobsCleanedUp;

OutputFormat parseFormat(const GivenOption& option) {
    if (const auto format = formatNamed(option.value)) return *format;
    throw UsageError(option.name + " wants one of " + formatNameList() + ", not '" + option.value +
                     "'");
}

// What the options ask for, before it is settled into one action.
struct Requests {
    bool help = false;
    bool version = false;
    bool info = false;
    bool test = false;
    std::string standardOutputName;  // -c as written, when given
    std::string outputName;          // -o as written, when given
};

void applyOption(const GivenOption& option, DecodeOptions& options, Requests& requests) {
    switch (option.id) {
        case kHelp:
            requests.help = true;
            break;
        case kVersion:
            requests.version = true;
            break;
        case kOutput:
            options.outputPath = option.value;
            requests.outputName = option.name;
            break;
        case kOutputDir:
            options.outputDir = option.value;
            break;
        case kStdout:
            options.outputPath.emplace(1, '-');  // (assigning "-" trips a false GCC 12 warning)
            requests.standardOutputName = option.name;
            break;
        case kForce:
            options.force = true;
            break;
        case kKeepDamaged:
            options.keepDamaged = true;
            break;
        case kSilent:
        case kQuiet:
            options.silent = true;
            break;
        case kTest:
            requests.test = true;
            break;
        case kInfo:
            requests.info = true;
            break;
        case kJobs:
            options.jobs = parseWholeNumber(option.name, option.value, 1, kMostJobs);
            break;
        case kFormat:
            options.format = parseFormat(option);
            break;
        case kRate:
            // The rates an ACM header can state: the override corrects a header,
            // it does not resample.
            options.rate = parseWholeNumber(option.name, option.value, limits::minSampleRate,
                                            limits::maxSampleRate);
            break;
        case kChannels:
            options.channels = parseWholeNumber(option.name, option.value, 1, 2);
            break;
    }
}

void checkOutputs(const DecodeOptions& options) {
    if (options.outputPath && options.inputs.size() > 1) {
        throw UsageError(std::string(options.toStandardOutput() ? "-c" : "-o") +
                         " names the output of a single input file");
    }
    if (options.outputPath && options.outputDir) {
        throw UsageError("-d cannot be combined with -o or -c");
    }
    const auto stdinUses = std::count(options.inputs.begin(), options.inputs.end(), "-");
    if (stdinUses > 1) throw UsageError("standard input can be read only once");
    if (stdinUses == 1 && options.outputDir) {
        throw UsageError("standard input has no name to give its output in a folder; use -o");
    }
}

}  // namespace

DecodeOptions parseDecodeOptions(std::span<const std::string> arguments) {
    const ParsedCommandLine parsed = parseCommandLine(arguments, kOptions);
    DecodeOptions options;
    Requests requests;
    for (const GivenOption& option : parsed.options)
        applyOption(option, options, requests);
    options.inputs = parsed.operands;
    if (requests.help || requests.version) {
        options.action =
            requests.help ? DecodeOptions::Action::Help : DecodeOptions::Action::Version;
        return options;
    }
    if (requests.info && requests.test) throw UsageError("--info and --test exclude each other");
    // Whichever came last would silently win.
    if (!requests.standardOutputName.empty() && !requests.outputName.empty()) {
        throw UsageError(requests.standardOutputName + " and " + requests.outputName +
                         " exclude each other");
    }
    if (requests.info) options.action = DecodeOptions::Action::Info;
    if (requests.test) options.action = DecodeOptions::Action::Test;
    if (options.inputs.empty()) throw UsageError("no input file");
    checkOutputs(options);
    return options;
}

std::string decodeUsageText() {
    return "Usage: talveco-decode [options] FILE...\n"
           "Decodes ACM files to WAV (or FLAC, AIFF, Ogg Vorbis, W64, CAF, raw PCM) with the\n"
           "channels and rate their headers state. Each FILE becomes FILE with its extension\n"
           "replaced by .wav, beside it; '-' reads standard input and writes standard output.\n"
           "\n"
           "  -o, --output=OUT        write the single input's output to OUT ('-': stdout)\n"
           "  -d, --output-dir=DIR    write the outputs into DIR (created when missing)\n"
           "  -c, --stdout            write the single input's output to standard output\n"
           "      --format=FMT        wav, flac, aiff, ogg, w64, caf, raw, mp3 or opus\n"
           "                          (default: from the output's extension, else wav)\n"
           "  -f, --force             replace existing output files\n"
           "  -F, --decode-through-errors\n"
           "                          keep what a damaged or truncated file decodes to\n"
           "      --rate=HZ           the sample rate (1 to 65535), for files whose header is "
           "wrong\n"
           "      --channels=N        the channel count (1 or 2), likewise\n"
           "  -j, --jobs=N            decode N files at once (default: the usable processors)\n"
           "      --info              print each file's format, write nothing\n"
           "  -t, --test              decode fully, write nothing, report damage\n"
           "  -s, --silent            no summary lines\n"
           "  -Q, --quiet             the same as -s\n"
           "  -h, --help              show this text\n"
           "  -V, --version           show the version\n"
           "\n"
           "Exit status: 0 when every file decoded cleanly, 1 when any failed or was damaged,\n"
           "2 for a bad command line.\n";
}

}  // namespace talveco
