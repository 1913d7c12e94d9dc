// The output module both programs share: names, clashes, the checks on one output, and the
// folders a run makes.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <system_error>

#include "app/common/CommandLine.h"
#include "app/common/OutputPaths.h"
#include "tests/support/TempDir.h"

namespace talveco {
namespace {

namespace fs = std::filesystem;

// Relative names resolve inside the test's own directory.
class InDirectory : public ::testing::Test {
  protected:
    InDirectory() : previous_(fs::current_path()) { fs::current_path(dir.path()); }
    ~InDirectory() override { fs::current_path(previous_); }

    static void touch(const std::string& name) { std::ofstream(name) << "x"; }
    // What a call raised, or "" when it returned.
    template <typename Call>
    static std::string refusal(Call call) {
        try {
            call();
        } catch (const FileRefused& refused) {
            return refused.what();
        } catch (const UsageError& error) {
            return error.what();
        }
        return "";
    }

    testing::TempDir dir;

  private:
    fs::path previous_;
};

TEST(OutputNames, FollowTheInputTheFolderOrTheOption) {
    struct Case {
        std::string input;
        OutputNaming naming;
        std::string expected;
    };
    const Case cases[] = {
        {"dir/a.acm", {{}, {}, ".wav"}, "dir/a.wav"},
        {"a", {{}, {}, ".wav"}, "a.wav"},
        {"dir.x/a", {{}, {}, ".acm"}, "dir.x/a.acm"},     // a dot in a folder is no extension
        {".hidden", {{}, {}, ".wav"}, ".hidden.wav"},     // nor is a leading one
        {"a.b.acm", {{}, {}, ".flac"}, "a.b.flac"},       // only the last one is
        {"dir/a.acm", {{}, "out", ".wav"}, "out/a.wav"},  // -d takes the name alone
        {"dir/a.acm", {"x.aif", {}, ".wav"}, "x.aif"},    // -o is taken as given
        {"-", {{}, {}, ".wav"}, "-"},                     // standard input to standard output
        {"-", {"y.wav", {}, ".wav"}, "y.wav"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(outputFor(c.input, c.naming), c.expected) << c.input;
}

TEST_F(InDirectory, ChecksOfOneOutput) {
    touch("input.acm");
    touch("old.wav");
    fs::create_directory("folder");
    fs::create_symlink("gone", "dangling.wav");
    const FileIdentity input = statusOf(std::string("input.acm"))->identity;
    struct Case {
        const char* target;
        bool force;
        const char* message;  // "" when the output may be written
    };
    const Case cases[] = {
        {"new.wav", false, ""},
        {"old.wav", true, ""},
        {"dangling.wav", true, ""},
        {"old.wav", false, "the output old.wav exists (-f replaces it)"},
        {"dangling.wav", false, "the output dangling.wav exists (-f replaces it)"},
        {"input.acm", true, "the output input.acm is the input itself; not overwritten"},
        {"folder", true, "the output folder is a directory"},
        {"none/new.wav", true, "the folder none does not exist"},
        {"old.wav/new.wav", true, "the output old.wav/new.wav is in old.wav, which is no folder"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(refusal([&] { checkOutput(c.target, input, c.force); }), c.message) << c.target;
    }
    EXPECT_EQ(checkOutput("/dev/null", input, false), OutputPlace::NullDevice);
    EXPECT_EQ(checkOutput("old.wav", input, true), OutputPlace::NewFile);
}

TEST_F(InDirectory, ClashesNameBothInputs) {
    touch("a.acm");
    touch("b.acm");
    touch("a.wav");
    fs::create_directory_symlink(".", "here");
    fs::create_symlink("a.wav", "alink.wav");
    fs::create_directory("sub");
    struct Case {
        std::vector<std::string> inputs;
        std::vector<std::string> outputs;
        const char* message;
    };
    const Case cases[] = {
        {{"a.acm", "b.acm"}, {"a.out", "b.out"}, ""},
        {{"a.acm", "b.acm"},
         {"x.wav", "./x.wav"},
         "a.acm and b.acm would both be written to ./x.wav"},
        {{"a.acm", "b.acm"},
         {"x.wav", "here/x.wav"},
         "a.acm and b.acm would both be written to here/x.wav"},
        {{"b.acm", "a.wav"},
         {"a.wav", "a.flac"},
         "the output a.wav of b.acm is a.wav, another input of this run"},
        {{"a.wav"}, {"a.wav"}, ""},  // its own input: refused with that file alone
        {{"a.acm", "b.acm"},
         {"x.wav", "./sub/../x.wav"},
         "a.acm and b.acm would both be written to ./sub/../x.wav"},
        // The finished file replaces the link itself, not the file it leads to.
        {{"a.acm", "b.acm"}, {"a.wav", "alink.wav"}, ""},
        {{"-", "-"}, {"x", "y"}, "standard input can be read only once"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(refusal([&] { refuseClashingOutputs(c.inputs, c.outputs); }), c.message)
            << c.outputs[0];
    }
}

TEST_F(InDirectory, FoldersAreMadeWithTheirParents) {
    touch("file");
    {
        MadeFolders folders;
        EXPECT_EQ(refusal([&] { makeOutputFolder("a/b/c/", folders); }), "");
        EXPECT_EQ(refusal([&] { makeOutputFolder("a/b", folders); }), "");  // there already
        const std::string inTheWay = refusal([&] { makeOutputFolder("file/sub", folders); });
        EXPECT_EQ(inTheWay.rfind("cannot create the folder file/sub: ", 0), 0U) << inTheWay;
    }
    // Kept once the run is over: only an interrupt takes them back.
    EXPECT_TRUE(fs::is_directory("a/b/c"));
}

}  // namespace
}  // namespace talveco
