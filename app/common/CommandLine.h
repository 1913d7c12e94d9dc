// The command-line conventions the talveco programs share: short options that
// bundle (-fs) and take their value attached or as the next argument (-oX,
// -o X), long options that take it after '=' or as the next argument
// (--output=X, --output X), "--" to end the options, and "-" as an operand
// (standard input or output).
#pragma once

#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace talveco {

// A command line that cannot be run; what() says why.
class UsageError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// One option a program accepts. `id` is the program's own tag for it.
struct OptionSpec {
    int id;
    char shortName;             // '\0' when there is only the long form
    std::string_view longName;  // without the dashes; empty when there is only the short form
    bool takesValue = false;
};

// One option as given, in command-line order.
struct GivenOption {
    int id;
    std::string name;   // as the user wrote it ("-o", "--output"), for messages
    std::string value;  // empty for options without a value
};

struct ParsedCommandLine {
    std::vector<GivenOption> options;
    std::vector<std::string> operands;
};

// Splits `arguments` (without the program's name) into options and operands.
// Options and operands may be mixed; everything after "--" is an operand.
// Raises UsageError for an unknown option, a missing value, or a value given
// to an option that takes none.
ParsedCommandLine parseCommandLine(std::span<const std::string> arguments,
                                   std::span<const OptionSpec> specs);

// Reads the whole of `text` as a whole number in [low, high]; anything else is
// a UsageError naming `option`.
unsigned parseWholeNumber(const std::string& option, const std::string& text, unsigned low,
                          unsigned high);

}  // namespace talveco
