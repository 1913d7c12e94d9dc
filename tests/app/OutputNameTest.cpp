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
        NameCase{"-m", "-m", "-m.wav"},
        NameCase{"Mixed.Case.AcM", "Mixed.Case.AcM", "Mixed.Case.wav"},
        // A forward slash keeps its directories; the extension is looked for
        // in the last component only.
        NameCase{"dir.d/noext", "dir.d/noext", "dir.d/noext.wav"},
        NameCase{"v1.2/track", "v1.2/track", "v1.2/track.wav"},
        NameCase{"./NOEXT", "./NOEXT", "./NOEXT.wav"}, NameCase{"dir/.acm", "dir/.acm", "dir/.wav"},
        NameCase{"/abs/x.y/", "/abs/x.y/", "/abs/x.y/.wav"},
        NameCase{"C:\\snd/sub/a.acm", "snd/sub/a.acm", "snd/sub/a.wav"},
        NameCase{"a/b\\c.acm", "c.acm", "c.wav"}));

TEST(DeriveNames, KeepsTheFirst255Characters) {
    const std::string longName = std::string(300, 'x') + ".acm";
    const RunNames names = deriveNames("C:\\" + longName);
    EXPECT_EQ(names.infoName, std::string(255, 'x'));
    EXPECT_EQ(names.outputName, std::string(255, 'x') + ".wav");

    // Directories named with slashes do not count towards the 255.
    std::string deepPath;
    for (int d = 1; d <= 40; ++d)
        deepPath += "dir0" + std::to_string(d / 10) + std::to_string(d % 10) + "/";
    const RunNames deep = deriveNames("deep/" + deepPath + "SAMPLE.ACM");
    EXPECT_EQ(deep.outputName, "deep/" + deepPath + "SAMPLE.wav");
    EXPECT_EQ(deep.infoName, ("deep/" + deepPath + "SAMPLE.ACM").substr(0, 255));
    const RunNames longLast = deriveNames("d.x/" + longName);
    EXPECT_EQ(longLast.outputName, "d.x/" + std::string(255, 'x') + ".wav");

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
