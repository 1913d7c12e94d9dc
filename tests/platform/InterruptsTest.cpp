// The interrupt registry: room for every file a run can have pending, slots
// that come free again, and no file made that an interrupt would not remove.
#include <fcntl.h>
#include <limits.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/Failure.h"
#include "platform/Interrupts.h"
#include "platform/OutputFile.h"
#include "tests/support/TempDir.h"

namespace talveco {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;
using testing::writeFileBytes;

std::vector<std::string> namesIn(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// A directory handle as OutputFile keeps one, closed at the end of the test.
class DirectoryHandle {
  public:
    explicit DirectoryHandle(const fs::path& dir)
        : fd_(::open(dir.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC)) {}
    ~DirectoryHandle() { ::close(fd_); }
    DirectoryHandle(const DirectoryHandle&) = delete;
    DirectoryHandle& operator=(const DirectoryHandle&) = delete;
    int fd() const { return fd_; }

  private:
    int fd_;
};

// Every registration up to the capacity is armed; past it none is, until one
// is released.
std::vector<PendingRemoval> fillRegistry(int directoryFd) {
    std::vector<PendingRemoval> held;
    held.reserve(PendingRemoval::kCapacity);
    for (int i = 0; i < PendingRemoval::kCapacity; ++i)
        held.emplace_back(directoryFd, "held" + std::to_string(i));
    return held;
}

TEST(InterruptRegistry, HoldsEveryFileTheLargestRunCanHavePending) {
    EXPECT_GE(PendingRemoval::kCapacity, kMostJobsCleanedUp * kPendingFilesPerJob);
    TempDir dir;
    const DirectoryHandle handle(dir.path());
    std::vector<PendingRemoval> held = fillRegistry(handle.fd());
    for (const PendingRemoval& removal : held)
        ASSERT_TRUE(removal.armed());
    EXPECT_FALSE(PendingRemoval(handle.fd(), "one-too-many").armed());
    held[17].release();
    EXPECT_TRUE(PendingRemoval(handle.fd(), "in-the-freed-slot").armed());
}

// A file no interrupt would remove is not made: its creation fails and
// leaves nothing behind.
TEST(InterruptRegistry, OutputFileIsRefusedWhenTheRegistryIsFull) {
    TempDir dir;
    const DirectoryHandle handle(dir.path());
    std::vector<PendingRemoval> held = fillRegistry(handle.fd());
    try {
        OutputFile file((dir / "out.wav").string(), std::nullopt);
        FAIL() << "made " << file.temporaryPath() << " without registering it";
    } catch (const Failure& failure) {
        EXPECT_EQ(failure.kind(), FailureKind::TooManyOpenFiles);
        EXPECT_NE(std::string(failure.what()).find("interrupt"), std::string::npos)
            << failure.what();
    }
    EXPECT_EQ(namesIn(dir.path()), std::vector<std::string>{});
    held.pop_back();
    EXPECT_NO_THROW(OutputFile((dir / "out.wav").string(), std::nullopt));
}

// Names as long as a file name can be are kept whole and removed by an
// interrupt; a longer one cannot be a file and is not registered.
TEST(InterruptRegistry, RemovesNamesOfTheLongestLength) {
    TempDir dir;
    const std::string longest(NAME_MAX, 'n');
    const std::string shorter = longest.substr(1);
    for (const std::string& name : {longest, shorter, std::string("x")})
        writeFileBytes(dir / name, {1});
    writeFileBytes(dir / "kept", {2});
    const auto interruptedRun = [&] {
        installInterruptCleanup();
        const DirectoryHandle handle(dir.path());
        const PendingRemoval a(handle.fd(), longest);
        const PendingRemoval b(handle.fd(), shorter);
        const PendingRemoval c(handle.fd(), "x");
        if (!a.armed() || !b.armed() || !c.armed()) _exit(3);
        if (PendingRemoval(handle.fd(), longest + "n").armed()) _exit(4);
        std::raise(SIGINT);
    };
    EXPECT_EXIT(interruptedRun(), ::testing::KilledBySignal(SIGINT), "");
    EXPECT_EQ(namesIn(dir.path()), std::vector<std::string>{"kept"});
}

// Outputs put in place give their slots back: after more outputs than the
// registry holds have been committed one after the other, an interrupted one
// still leaves nothing behind.
TEST(InterruptRegistry, CommittedOutputsFreeTheirSlots) {
    TempDir dir;
    const int committed = PendingRemoval::kCapacity + 44;
    const auto interruptedRun = [&] {
        installInterruptCleanup();
        for (int i = 0; i < committed; ++i) {
            OutputFile file((dir / ("out" + std::to_string(i % 3) + ".wav")).string(),
                            std::nullopt);
            file.commit();
        }
        const OutputFile last((dir / "last.wav").string(), std::nullopt);
        std::raise(SIGINT);
    };
    EXPECT_EXIT(interruptedRun(), ::testing::KilledBySignal(SIGINT), "");
    EXPECT_EQ(namesIn(dir.path()), (std::vector<std::string>{"out0.wav", "out1.wav", "out2.wav"}));
}

// The same for outputs abandoned unfinished (a failed conversion).
TEST(InterruptRegistry, AbandonedOutputsFreeTheirSlots) {
    TempDir dir;
    for (int i = 0; i < PendingRemoval::kCapacity + 1; ++i)
        OutputFile((dir / "out.wav").string(), std::nullopt);
    EXPECT_NO_THROW(OutputFile((dir / "out.wav").string(), std::nullopt));
    EXPECT_EQ(namesIn(dir.path()), std::vector<std::string>{});
}

}  // namespace
}  // namespace talveco
