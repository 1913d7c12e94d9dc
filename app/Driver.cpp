#include "app/Driver.h"

#include <cerrno>
#include <new>
#include <string_view>

#include "app/OutputName.h"
#include "platform/Failure.h"
#include "wav/ConvertJob.h"

namespace talveco {
namespace {

void printUsage(Console& console) {
    console.endLine();
    console.line(" Usage: TALVECO acm_file_name [-m]");
    console.line("    use -m option to produce mono WAV (effects and speech are mono files)");
}

// A truncated input decodes on from zero bits, which the transcript cannot
// show; the user is told on standard error how much of the audio is made up.
void warnIfMadeUp(const std::string& inputPath, const SoundSource& source, Console& warnings) {
    const std::uint64_t madeUp = source.bytesPastInputEnd();
    if (madeUp == 0) return;
    warnings.line("Warning: " + inputPath + " ends early: the last " + std::to_string(madeUp) +
                  " bytes of audio were made from past its end");
}

// A damaged block leaves a gap, or ends the data early; the transcript shows
// only the byte count, so the user is told on standard error.
void warnIfDamaged(const std::string& inputPath, const SoundSource& source, Console& warnings) {
    const std::uint64_t damaged = source.damagedBlocks();
    if (damaged == 0) return;
    warnings.line("Warning: " + inputPath + " is damaged: " + std::to_string(damaged) +
                  (damaged == 1 ? " block" : " blocks") +
                  " could not be decoded; the WAV file holds the audio that could");
}

void convert(std::span<const std::string> arguments, SoundSource& source, Console& console,
             Console& warnings) {
    const RunNames names = deriveNames(arguments[0]);
    console.write(" Converting " + names.inputPath + " to " + names.outputName);

    WavTarget target{names.outputName, names.infoName, WavHeaderTemplate{}};
    if (arguments.size() > 1 && selectsMono(arguments[1])) {
        console.line(" (mono)");
        target.header.applyMono();
    } else {
        console.endLine();
    }

    const std::int64_t bytesWritten = runConversion(source, names.inputPath, target, console);
    console.line(std::to_string(bytesWritten) + " bytes written");
    warnIfDamaged(names.inputPath, source, warnings);
    warnIfMadeUp(names.inputPath, source, warnings);
}

// The historical command line takes one file and ignores what it does not
// know; a user who tries options or several files is told where to go.
void noteIgnoredArguments(std::span<const std::string> arguments, Console& warnings) {
    const bool optionFirst = !arguments.empty() && arguments[0].starts_with('-');
    if (arguments.size() > 2 || optionFirst) {
        warnings.line("talveco converts one file; use talveco-decode for several files or options");
    }
}

int reportFailure(Console& console, std::string_view message) {
    // Ends whatever line was in progress: the " Converting " line is already
    // complete (an empty line follows), the "#" line is not.
    console.endLine();
    console.write("Error: ");
    console.line(message);
    return kExitFailure;
}

}  // namespace

int runDriver(std::span<const std::string> arguments, SoundSource& source, Console& console,
              Console& warnings) {
    console.line("Quarnix ACM to WAV converter v1.1 beta");
    noteIgnoredArguments(arguments, warnings);
    try {
        if (arguments.empty()) {
            printUsage(console);
            return kExitSuccess;
        }
        convert(arguments, source, console, warnings);
        return kExitSuccess;
    } catch (const Failure& failure) {
        return reportFailure(console, failure.what());
    } catch (const std::bad_alloc&) {
        return reportFailure(console, failureMessage(FailureKind::OutOfMemory, ENOMEM));
    }
}

}  // namespace talveco
