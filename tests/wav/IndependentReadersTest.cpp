// The independent readers must accept what the converter should write and
// object to what it must not; otherwise the end-to-end checks prove nothing.
#include "tests/support/IndependentReaders.h"

#include <gtest/gtest.h>

#include "tests/support/ExpectedWav.h"
#include "tests/support/TempDir.h"

namespace talveco::testing {
namespace {

TEST(IndependentReaders, AcceptWellFormedFilesWithAnyNameLength) {
    TempDir dir;
    for (const std::string name : {"", "odd.acm", "SPEECH.ACM"}) {
        const std::vector<std::uint8_t> data(4000, 0x11);
        writeFileBytes(dir / "good.wav", expectedWav(data, name));
        EXPECT_EQ(independentReadersComplaints(dir / "good.wav", {2, data.size(), name.size()}), "")
            << name;
    }
}

TEST(IndependentReaders, ObjectToALyingHeader) {
    TempDir dir;
    auto bytes = expectedWav(std::vector<std::uint8_t>(4000, 0x11), "x.acm");
    // The data is cut short but the header still promises 4000 bytes.
    bytes.erase(bytes.begin() + 44 + 1000, bytes.begin() + 44 + 4000);
    writeFileBytes(dir / "bad.wav", bytes);
    EXPECT_NE(independentReadersComplaints(dir / "bad.wav", {2, 4000, 5}), "");
}

TEST(IndependentReaders, ObjectToTheWrongChannelCount) {
    TempDir dir;
    writeFileBytes(dir / "mono.wav", expectedWav(std::vector<std::uint8_t>(400), "m.acm", true));
    EXPECT_NE(independentReadersComplaints(dir / "mono.wav", {2, 400, 5}), "");
}

}  // namespace
}  // namespace talveco::testing
