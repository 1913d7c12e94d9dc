#include "app/AcmSource.h"

#include <gtest/gtest.h>

#include "platform/Failure.h"
#include "platform/InputFile.h"
#include "tests/support/AcmStreamBuilder.h"
#include "tests/support/TempDir.h"

namespace talveco {
namespace {

using testing::acmHeaderBytes;
using testing::TempDir;
using testing::writeFileBytes;

FailureKind openFailure(const std::string& path) {
    AcmSource source;
    try {
        source.open(path);
    } catch (const Failure& failure) {
        return failure.kind();
    }
    ADD_FAILURE() << "opened " << path;
    return FailureKind::IoError;
}

TEST(AcmSource, SizeIsTwiceTheSampleCountAndReadsFillUntilTheEnd) {
    TempDir dir;
    writeFileBytes(dir / "a.acm", acmHeaderBytes(1000, 3, 5));
    AcmSource source;
    source.open((dir / "a.acm").string());
    EXPECT_EQ(source.size(), 2000);
    std::vector<std::uint8_t> buffer(1024);
    EXPECT_EQ(source.read(buffer), 1024u);
    EXPECT_EQ(source.read(buffer), 976u);
    EXPECT_EQ(source.read(buffer), 0u);
}

TEST(AcmSource, DeliversTheDecodersBytes) {
    testing::AcmStreamBuilder builder(8, 1, 2);
    builder.blockHeader(3, 1).column(4, {4, 6}).column(4, {2, 0});
    builder.blockHeader(3, 1).column(4, {1, 1}).column(4, {1, 1});
    TempDir dir;
    writeFileBytes(dir / "b.acm", builder.bytes());
    AcmSource source;
    source.open((dir / "b.acm").string());
    std::vector<std::uint8_t> buffer(64);
    ASSERT_EQ(source.read(buffer), 16u);
    buffer.resize(16);
    // Samples 2, 3, 7, 5, 4, 1, 2, 0 as little-endian 16-bit values.
    EXPECT_EQ(buffer, (std::vector<std::uint8_t>{2, 0, 3, 0, 7, 0, 5, 0, 4, 0, 1, 0, 2, 0, 0, 0}));
}

TEST(AcmSource, EmptyStream) {
    TempDir dir;
    writeFileBytes(dir / "e.acm", acmHeaderBytes(0, 0, 0));
    AcmSource source;
    source.open((dir / "e.acm").string());
    EXPECT_EQ(source.size(), 0);
    std::vector<std::uint8_t> buffer(16);
    EXPECT_EQ(source.read(buffer), 0u);
}

TEST(AcmSource, ReportsTheInputFileIdentity) {
    TempDir dir;
    writeFileBytes(dir / "c.acm", acmHeaderBytes(4, 1, 2));
    AcmSource source;
    EXPECT_FALSE(source.inputIdentity().has_value());
    source.open((dir / "c.acm").string());
    const InputFile sameFile((dir / "c.acm").string());
    EXPECT_EQ(source.inputIdentity(), sameFile.identity());
}

TEST(AcmSource, OpenFailures) {
    TempDir dir;
    writeFileBytes(dir / "wave.wav", {'R', 'I', 'F', 'F', 0, 0, 0, 0});
    writeFileBytes(dir / "norows.acm", acmHeaderBytes(10, 2, 0));
    EXPECT_EQ(openFailure((dir / "missing.acm").string()), FailureKind::FileNotFound);
    EXPECT_EQ(openFailure((dir / "wave.wav").string()), FailureKind::NotAcmFile);
    EXPECT_EQ(openFailure((dir / "norows.acm").string()), FailureKind::NotAcmFile);
}

}  // namespace
}  // namespace talveco
