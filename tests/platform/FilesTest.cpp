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

mode_t permissionsOf(const std::filesystem::path& path) {
    struct stat info {};
    EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
    return info.st_mode & 07777;
}

// Writes `target` anew through an OutputFile.
void replace(const std::filesystem::path& target) {
    OutputFile file(target.string(), std::nullopt);
    const std::uint8_t bytes[] = {7, 7};
    file.write(bytes);
    file.commit();
}

// The umask of the test, restored afterwards.
class Umask {
  public:
    explicit Umask(mode_t mask) : previous_(::umask(mask)) {}
    ~Umask() { ::umask(previous_); }
    Umask(const Umask&) = delete;
    Umask& operator=(const Umask&) = delete;

  private:
    mode_t previous_;
};

// A replaced file keeps its permission bits whatever the umask would give a
// new one, and a new file gets what the umask gives.
TEST(OutputFile, ReplacedFileKeepsItsPermissions) {
    const Umask mask(022);
    TempDir dir;
    for (const mode_t mode : {0600, 0640, 0660, 0604, 0755, 0700}) {
        const auto target = dir / ("kept" + std::to_string(mode) + ".wav");
        writeFileBytes(target, {1});
        ASSERT_EQ(::chmod(target.c_str(), mode), 0);
        replace(target);
        EXPECT_EQ(permissionsOf(target), mode) << std::oct << mode;
        EXPECT_EQ(readFileBytes(target), (std::vector<std::uint8_t>{7, 7}));
    }
    replace(dir / "new.wav");
    EXPECT_EQ(permissionsOf(dir / "new.wav"), 0644U);
    const Umask tighter(077);
    replace(dir / "private.wav");
    EXPECT_EQ(permissionsOf(dir / "private.wav"), 0600U);
}

// Where this process may (as root), the owner and group stay those of the
// file replaced, not the writer's.
TEST(OutputFile, ReplacedFileKeepsItsOwnerWhereThatCanBeSet) {
    if (::geteuid() != 0) GTEST_SKIP() << "only root may give a file to another user";
    TempDir dir;
    const auto target = dir / "theirs.wav";
    writeFileBytes(target, {1});
    ASSERT_EQ(::chown(target.c_str(), 65534, 65534), 0);
    ASSERT_EQ(::chmod(target.c_str(), 0640), 0);
    replace(target);
    struct stat info {};
    ASSERT_EQ(::stat(target.c_str(), &info), 0);
    EXPECT_EQ(info.st_uid, 65534U);
    EXPECT_EQ(info.st_gid, 65534U);
    EXPECT_EQ(info.st_mode & 07777, 0640U);
}

}  // namespace
}  // namespace talveco
