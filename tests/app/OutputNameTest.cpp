#include "app/OutputName.h"

#include <gtest/gtest.h>

namespace talveco {
namespace {

struct NameCase {
    std::string inputPath;
    std::string infoName;
    std::string outputName;

    friend void PrintTo(const NameCase& c, std::ostream* out) { *out << '"' << c.inputPath << '"'; }
};

class DeriveNamesTest : public ::testing::TestWithParam<NameCase> {};

TEST_P(DeriveNamesTest, SplitsOffTheFileNameAndReplacesTheExtension) {
    const RunNames names = deriveNames(GetParam().inputPath);
    EXPECT_EQ(names.inputPath, GetParam().inputPath);
    EXPECT_EQ(names.infoName, GetParam().infoName);
    EXPECT_EQ(names.outputName, GetParam().outputName);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, DeriveNamesTest,
    ::testing::Values(
        NameCase{"C:\\snd\\SPEECH.ACM", "SPEECH.ACM", "SPEECH.wav"},
        NameCase{"music.acm", "music.acm", "music.wav"}, NameCase{"a.b.acm", "a.b.acm", "a.b.wav"},
        NameCase{"noext", "noext", "noext.wav"}, NameCase{"trail.", "trail.", "trail.wav"},
        NameCase{".acm", ".acm", ".wav"}, NameCase{"D:x.acm", "x.acm", "x.wav"},
        NameCase{"dir/x.acm", "dir/x.acm", "dir/x.wav"}, NameCase{"C:\\snd\\", "", ".wav"},
        NameCase{"-m", "-m", "-m.wav"}, NameCase{"dir.d/noext", "dir.d/noext", "dir.wav"},
        NameCase{"Mixed.Case.AcM", "Mixed.Case.AcM", "Mixed.Case.wav"}));

TEST(DeriveNames, KeepsTheFirst255Characters) {
    const std::string longName = std::string(300, 'x') + ".acm";
    const RunNames names = deriveNames("C:\\" + longName);
    EXPECT_EQ(names.infoName, std::string(255, 'x'));
    EXPECT_EQ(names.outputName, std::string(255, 'x') + ".wav");

    const RunNames cutInExtension = deriveNames(std::string(250, 'y') + ".abcdefgh");
    EXPECT_EQ(cutInExtension.infoName, std::string(250, 'y') + ".abcd");
    EXPECT_EQ(cutInExtension.outputName, std::string(250, 'y') + ".wav");
}

TEST(SelectsMono, OnlyMinusMInEitherCase) {
    EXPECT_TRUE(selectsMono("-m"));
    EXPECT_TRUE(selectsMono("-M"));
    for (const char* other : {"", "m", "M", "/m", "-mono", "--m", "-n", "-", "-m "}) {
        EXPECT_FALSE(selectsMono(other)) << '"' << other << '"';
    }
}

}  // namespace
}  // namespace talveco
