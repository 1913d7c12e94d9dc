#include "app/common/CommandLine.h"

#include <algorithm>
#include <charconv>

namespace talveco {
namespace {

const OptionSpec* findShort(std::span<const OptionSpec> specs, char name) {
    const auto found = std::find_if(specs.begin(), specs.end(), [name](const OptionSpec& known) {
        return known.shortName == name;
    });
    return found == specs.end() ? nullptr : &*found;
}

// Only an exact long name matches: abbreviations would make adding an option
// change the meaning of command lines that worked before.
const OptionSpec* findLong(std::span<const OptionSpec> specs, std::string_view name) {
    const auto found = std::find_if(specs.begin(), specs.end(), [name](const OptionSpec& known) {
        return !known.longName.empty() && known.longName == name;
    });
    return found == specs.end() ? nullptr : &*found;
}

// Walks the arguments, handing out the next one as an option's value.
class ArgumentCursor {
  public:
    explicit ArgumentCursor(std::span<const std::string> arguments) : arguments_(arguments) {}

    bool done() const { return next_ == arguments_.size(); }
    const std::string& take() { return arguments_[next_++]; }
    std::string valueFor(const std::string& option) {
        if (done()) throw UsageError(option + " needs a value");
        return take();
    }

  private:
    std::span<const std::string> arguments_;
    std::size_t next_ = 0;
};

void parseLong(const std::string& argument, ArgumentCursor& cursor,
               std::span<const OptionSpec> specs, ParsedCommandLine& parsed) {
    const auto equals = argument.find('=');
    const std::string name = argument.substr(0, equals);
    // "--=1" names no option at all; the whole argument shows what was typed.
    if (name.size() == 2) throw UsageError("unknown option '" + argument + "'");
    const OptionSpec* known = findLong(specs, std::string_view(name).substr(2));
    if (known == nullptr) throw UsageError("unknown option '" + name + "'");
    if (!known->takesValue) {
        if (equals != std::string::npos) throw UsageError(name + " takes no value");
        parsed.options.push_back({known->id, name, {}});
        return;
    }
    std::string value =
        equals != std::string::npos ? argument.substr(equals + 1) : cursor.valueFor(name);
    parsed.options.push_back({known->id, name, std::move(value)});
}

// "-fs" is "-f -s"; the first letter that takes a value takes the rest of the
// argument, or the next argument when nothing follows it.
void parseShortBundle(const std::string& argument, ArgumentCursor& cursor,
                      std::span<const OptionSpec> specs, ParsedCommandLine& parsed) {
    for (std::size_t at = 1; at < argument.size(); ++at) {
        const std::string name = std::string("-") + argument[at];
        const OptionSpec* known = findShort(specs, argument[at]);
        if (known == nullptr) throw UsageError("unknown option '" + name + "'");
        if (!known->takesValue) {
            parsed.options.push_back({known->id, name, {}});
            continue;
        }
        std::string value =
            at + 1 < argument.size() ? argument.substr(at + 1) : cursor.valueFor(name);
        parsed.options.push_back({known->id, name, std::move(value)});
        return;
    }
}

}  // namespace

ParsedCommandLine parseCommandLine(std::span<const std::string> arguments,
                                   std::span<const OptionSpec> specs) {
    ParsedCommandLine parsed;
    ArgumentCursor cursor(arguments);
    bool optionsEnded = false;
    while (!cursor.done()) {
        const std::string& argument = cursor.take();
        if (optionsEnded || argument.size() < 2 || argument[0] != '-') {
            parsed.operands.push_back(argument);
        } else if (argument == "--") {
            optionsEnded = true;
        } else if (argument[1] == '-') {
            parseLong(argument, cursor, specs, parsed);
        } else {
            parseShortBundle(argument, cursor, specs, parsed);
        }
    }
    return parsed;
}

unsigned parseWholeNumber(const std::string& option, const std::string& text, unsigned low,
                          unsigned high) {
    unsigned value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc{} || stop != end || value < low || value > high) {
        throw UsageError(option + " wants a whole number from " + std::to_string(low) + " to " +
                         std::to_string(high) + ", not '" + text + "'");
    }
    return value;
}

}  // namespace talveco
