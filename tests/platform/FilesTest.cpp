#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/Failure.h"
#include "platform/InputFile.h"
#include "platform/Interrupts.h"
#include "platform/OutputFile.h"
#include "tests/support/TempDir.h"

namespace talveco {
namespace {

using testing::readFileBytes;
using testing::TempDir;
using testing::writeFileBytes;

FailureKind openFailure(const std::filesystem::path& path) {
    try {
        InputFile file(path.string());
    } catch (const Failure& failure) {
        return failure.kind();
    }
    ADD_FAILURE() << path << " opened";
    return FailureKind::IoError;
}

TEST(InputFile, OpenFailuresNameTheirCause) {
    TempDir dir;
    writeFileBytes(dir / "plain", {1});
    std::filesystem::create_directory(dir / "sub");
    EXPECT_EQ(openFailure(dir / "missing.acm"), FailureKind::FileNotFound);
    EXPECT_EQ(openFailure(dir / "nodir" / "x.acm"), FailureKind::InvalidFilename);
    EXPECT_EQ(openFailure(dir / "plain" / "x.acm"), FailureKind::InvalidFilename);
    EXPECT_EQ(openFailure(dir / "sub"), FailureKind::AccessDenied);
}

TEST(InputFile, ReadsAReadOnlyFileToTheEnd) {
    TempDir dir;
    writeFileBytes(dir / "in", {1, 2, 3, 4, 5});
    std::filesystem::permissions(dir / "in", std::filesystem::perms::owner_read);
    InputFile file((dir / "in").string());
    std::uint8_t buffer[3];
    EXPECT_EQ(file.readSome(buffer), 3u);
    EXPECT_EQ(buffer[2], 3);
    EXPECT_EQ(file.readSome(buffer), 2u);
    EXPECT_EQ(file.readSome(buffer), 0u);
}

TEST(InputFile, ReadsAtAnOffsetAndLeavesItsPositionAlone) {
    TempDir dir;
    writeFileBytes(dir / "in", {1, 2, 3, 4, 5});
    InputFile file((dir / "in").string());
    EXPECT_TRUE(file.seekable());
    std::uint8_t buffer[3] = {};
    EXPECT_EQ(file.readAt(3, buffer), 2u);
    EXPECT_EQ(buffer[0], 4);
    EXPECT_EQ(buffer[1], 5);
    EXPECT_EQ(file.readAt(7, buffer), 0u);
    EXPECT_EQ(file.readSome(buffer), 3u);
    EXPECT_EQ(buffer[0], 1);
}

// A pipe is read in turn only, and the reason a directory cannot be opened says what it is.
TEST(InputFile, PipesCannotSeekAndDirectoriesAreNamed) {
    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);
    {
        InputFile pipe("/proc/self/fd/" + std::to_string(ends[0]));
        EXPECT_FALSE(pipe.seekable());
        std::uint8_t buffer[1];
        EXPECT_THROW(pipe.readAt(0, buffer), Failure);
    }
    ::close(ends[0]);
    ::close(ends[1]);
    TempDir dir;
    try {
        InputFile folder(dir.path().string());
        ADD_FAILURE() << "a directory opened";
    } catch (const Failure& failure) {
        EXPECT_EQ(openFailureReason(failure), "File access denied (a directory)");
    }
    EXPECT_EQ(openFailureReason(Failure(FailureKind::AccessDenied, EACCES)), "File access denied");
}

TEST(InputFile, IdentityFollowsLinks) {
    TempDir dir;
    writeFileBytes(dir / "in", {1});
    std::filesystem::create_hard_link(dir / "in", dir / "hard");
    std::filesystem::create_symlink(dir / "in", dir / "soft");
    writeFileBytes(dir / "other", {1});
    const InputFile in((dir / "in").string());
    EXPECT_EQ(in.identity(), InputFile((dir / "hard").string()).identity());
    EXPECT_EQ(in.identity(), InputFile((dir / "soft").string()).identity());
    EXPECT_FALSE(in.identity() == InputFile((dir / "other").string()).identity());
}

std::size_t entries(const TempDir& dir) {
    return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator(dir.path()),
                                                  std::filesystem::directory_iterator()));
}

TEST(OutputFile, AppearsOnlyOnCommit) {
    TempDir dir;
    const auto target = dir / "out.wav";
    {
        OutputFile file(target.string(), std::nullopt);
        const std::uint8_t bytes[] = {1, 2, 3, 4};
        file.write(bytes);
        const std::uint8_t patch[] = {9};
        file.writeAt(1, patch);
        EXPECT_FALSE(std::filesystem::exists(target));
        EXPECT_TRUE(std::filesystem::exists(file.temporaryPath()));
        file.commit();
    }
    EXPECT_EQ(readFileBytes(target), (std::vector<std::uint8_t>{1, 9, 3, 4}));
    EXPECT_EQ(entries(dir), 1u);
}

TEST(OutputFile, AbandonedFileLeavesNoTrace) {
    TempDir dir;
    const auto target = dir / "out.wav";
    writeFileBytes(target, {5});
    {
        OutputFile file(target.string(), std::nullopt);
        const std::uint8_t bytes[] = {1, 2};
        file.write(bytes);
    }
    EXPECT_EQ(readFileBytes(target), std::vector<std::uint8_t>{5});
    EXPECT_EQ(entries(dir), 1u);
}

TEST(OutputFile, MissingDirectoryIsAnInvalidFilename) {
    TempDir dir;
    try {
        OutputFile file((dir / "nodir" / "out.wav").string(), std::nullopt);
        FAIL();
    } catch (const Failure& failure) {
        EXPECT_EQ(failure.kind(), FailureKind::InvalidFilename);
    }
}

TEST(OutputFile, TwoWritersInOneDirectoryDoNotCollide) {
    TempDir dir;
    OutputFile first((dir / "a.wav").string(), std::nullopt);
    OutputFile second((dir / "b.wav").string(), std::nullopt);
    EXPECT_NE(first.temporaryPath(), second.temporaryPath());
}

// Files made on several threads are all removed by an interrupt, and putting
// one of them in place does not unregister the others.
TEST(OutputFile, InterruptRemovesEveryUnfinishedFile) {
    TempDir dir;
    const auto interruptedRun = [&dir] {
        installInterruptCleanup();
        std::vector<std::unique_ptr<OutputFile>> files(4);
        std::vector<std::thread> threads;
        for (std::size_t i = 0; i < files.size(); ++i) {
            threads.emplace_back([&files, &dir, i] {
                const auto target = dir / ("out" + std::to_string(i) + ".wav");
                files[i] = std::make_unique<OutputFile>(target.string(), std::nullopt);
            });
        }
        for (std::thread& thread : threads)
            thread.join();
        files[0]->commit();
        std::raise(SIGTERM);
    };
    EXPECT_EXIT(interruptedRun(), ::testing::KilledBySignal(SIGTERM), "");
    EXPECT_EQ(entries(dir), 1u);
    EXPECT_TRUE(std::filesystem::exists(dir / "out0.wav"));
}

}  // namespace
}  // namespace talveco
