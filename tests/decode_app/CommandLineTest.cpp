// The shared command-line conventions: bundling, attached and detached values,
// long options with '=', "--" and "-".
#include <gtest/gtest.h>

#include "app/common/CommandLine.h"

namespace talveco {
namespace {

enum Id { kForce, kSilent, kOutput, kJobs };
constexpr OptionSpec kSpecs[] = {
    {kForce, 'f', "force"},
    {kSilent, 's', "silent"},
    {kOutput, 'o', "output", true},
    {kJobs, 'j', "", true},
};

// Each option as "name=value", then the operands.
std::vector<std::string> flattened(std::vector<std::string> arguments) {
    const ParsedCommandLine parsed = parseCommandLine(arguments, kSpecs);
    std::vector<std::string> out;
    for (const GivenOption& option : parsed.options)
        out.push_back(std::to_string(option.id) + ":" + option.name + "=" + option.value);
    out.insert(out.end(), parsed.operands.begin(), parsed.operands.end());
    return out;
}

TEST(CommandLine, AcceptsTheUsualSpellings) {
    struct Case {
        std::vector<std::string> arguments;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {{"-fs", "a"}, {"0:-f=", "1:-s=", "a"}},
        {{"-fo", "x.wav", "a"}, {"0:-f=", "2:-o=x.wav", "a"}},
        {{"-ox.wav", "a"}, {"2:-o=x.wav", "a"}},
        {{"--output=x=y.wav", "a"}, {"2:--output=x=y.wav", "a"}},
        {{"--output", "-", "a"}, {"2:--output=-", "a"}},
        {{"--output=", "a"}, {"2:--output=", "a"}},
        {{"a", "-j2", "b"}, {"3:-j=2", "a", "b"}},
        {{"-", "--", "-f", "--force"}, {"-", "-f", "--force"}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(flattened(c.arguments), c.expected) << ::testing::PrintToString(c.arguments);
    }
}

TEST(CommandLine, RefusesWhatItCannotRead) {
    struct Case {
        std::vector<std::string> arguments;
        const char* message;
    };
    const Case cases[] = {
        {{"-x"}, "unknown option '-x'"},
        {{"-fx"}, "unknown option '-x'"},
        {{"--forc"}, "unknown option '--forc'"},
        {{"--force=yes"}, "--force takes no value"},
        {{"a", "-o"}, "-o needs a value"},
        {{"--output"}, "--output needs a value"},
        {{"--j=2"}, "unknown option '--j'"},
        // No option has an empty long name; the whole argument says what was meant.
        {{"--=1"}, "unknown option '--=1'"},
        {{"--="}, "unknown option '--='"},
    };
    for (const Case& c : cases) {
        try {
            parseCommandLine(c.arguments, kSpecs);
            ADD_FAILURE() << "accepted " << ::testing::PrintToString(c.arguments);
        } catch (const UsageError& error) {
            EXPECT_STREQ(error.what(), c.message);
        }
    }
}

TEST(CommandLine, WholeNumbersAreCheckedWhole) {
    EXPECT_EQ(parseWholeNumber("-j", "16", 1, 64), 16U);
    for (const char* bad : {"", "0", "65", "2x", "-1", " 2", "1.5"}) {
        EXPECT_THROW(parseWholeNumber("-j", bad, 1, 64), UsageError) << bad;
    }
}

}  // namespace
}  // namespace talveco
