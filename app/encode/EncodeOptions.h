// The command line of talveco-encode, parsed into what one run does.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <vector>

#include "app/common/CommandLine.h"
#include "talveco/encoder.h"

namespace talveco {

// The name that stands for standard input (as an input) or standard output (as -o's value).
inline constexpr const char* kStandardStream = "-";

struct EncodeOptions {
    enum class Action { Encode, Help, Version };

    Action action = Action::Encode;
    EncoderSettings settings;
    std::optional<std::string> outputPath;       // -o, only with a single input; "-": stdout
    std::optional<std::string> outputDirectory;  // -d: outputs in this folder
    bool force = false;                          // -f: replace existing outputs
    bool silent = false;                         // -s, -Q: no summary lines, no progress
    bool strictRate = false;                     // --strict-rate: a missed -b rate fails the file
    std::optional<std::string> likePath;         // --like OLD.acm: code an edit of OLD.acm
    std::optional<unsigned> channels;            // --channels: fold or copy the input's to 1|2
    std::optional<unsigned> sampleRate;          // --resample HZ
    unsigned jobs = 0;                           // -j: files encoded at once; 0 chooses
    std::vector<std::string> inputs;             // "-": standard input
};

// `arguments` are the command-line arguments without the program's name. Raises UsageError.
EncodeOptions parseEncodeOptions(std::span<const std::string> arguments);

// The text of -h/--help.
std::string encodeUsageText();

}  // namespace talveco
