// The command line of talveco-encode, parsed into what one run does.
#pragma once

#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "talveco/encoder.h"

namespace talveco {

struct EncodeOptions {
    enum class Action { Encode, Help, Version };

    Action action = Action::Encode;
    EncoderSettings settings;
    std::optional<std::string> outputPath;  // -o, only with a single input
    bool force = false;                     // -f: replace existing outputs
    bool silent = false;                    // -s: no summary lines, no progress
    bool strictRate = false;                // --strict-rate: a missed -b rate fails the file
    std::optional<std::string> likePath;    // --like OLD.acm: code an edit of OLD.acm
    std::vector<std::string> inputs;
};

// A command line that cannot be run; what() says why.
class UsageError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// `arguments` are the command-line arguments without the program's name.
EncodeOptions parseEncodeOptions(std::span<const std::string> arguments);

// The text of -h/--help.
std::string encodeUsageText();

}  // namespace talveco
