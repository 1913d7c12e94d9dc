// The command line of talveco-decode, parsed into what one run does.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <vector>

#include "app/decode/OutputFormat.h"

namespace talveco {

struct DecodeOptions {
    enum class Action { Decode, Info, Test, Help, Version };

    Action action = Action::Decode;
    std::vector<std::string> inputs;        // "-" is standard input
    std::optional<std::string> outputPath;  // -o: the single input's output; "-" is stdout
    std::optional<std::string> outputDir;   // -d: where the outputs go
    std::optional<OutputFormat> format;     // --format; else from the output's name
    std::optional<unsigned> rate;           // --rate: instead of the header's
    std::optional<unsigned> channels;       // --channels: instead of the header's
    unsigned jobs = 0;                      // -j: files decoded at once; 0 chooses
    bool force = false;                     // -f: replace existing outputs
    bool keepDamaged = false;               // -F: keep what a damaged file decodes to
    bool silent = false;                    // -s, -Q: no summary lines

    bool toStandardOutput() const { return outputPath == "-"; }
};

// `arguments` are the command-line arguments without the program's name.
// Raises UsageError for a command line that cannot be run.
DecodeOptions parseDecodeOptions(std::span<const std::string> arguments);

// The text of -h/--help.
std::string decodeUsageText();

}  // namespace talveco
