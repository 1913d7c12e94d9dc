// What the Win32 implementation of the platform must do where Windows differs
// from POSIX: wide names, identities from the file index, replacing through
// MoveFileExW, device names, the read-only attribute, sharing, error texts.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/Failure.h"
#include "platform/Files.h"
#include "platform/InputFile.h"
#include "platform/OutputFile.h"
#include "platform/PathErrors.h"
#include "platform/ScratchFile.h"
#include "platform/windows/Win32.h"
#include "tests/support/TempDir.h"

namespace talveco {
namespace {

namespace fs = std::filesystem;
using testing::readFileBytes;
using testing::TempDir;
using testing::writeFileBytes;

// The path as the programs get it: UTF-8.
std::string utf8Path(const fs::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

fs::path fromUtf8(const std::string& text) {
    return fs::path(std::u8string(text.begin(), text.end()));
}

std::vector<std::string> entries(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir))
        names.push_back(utf8Path(entry.path().filename()));
    std::sort(names.begin(), names.end());
    return names;
}

std::span<const std::uint8_t> bytesOf(const std::string& text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

std::string failureText(const std::function<void()>& action) {
    try {
        action();
    } catch (const Failure& failure) {
        return failure.what();
    }
    return "no failure";
}

struct SystemErrorCase {
    DWORD code;
    const char* message;
};

TEST(WindowsErrors, SystemErrorsReadAsOnLinux) {
    const SystemErrorCase cases[] = {
        {ERROR_FILE_NOT_FOUND, "File not found"},
        {ERROR_PATH_NOT_FOUND, "Invalid filename"},
        {ERROR_INVALID_NAME, "Invalid filename"},
        {ERROR_ACCESS_DENIED, "File access denied"},
        {ERROR_SHARING_VIOLATION, "File access denied"},
        {ERROR_LOCK_VIOLATION, "File access denied"},
        {ERROR_WRITE_PROTECT, "File access denied"},
        {ERROR_DISK_FULL, "Disk full"},
        {ERROR_HANDLE_DISK_FULL, "Disk full"},
        {ERROR_TOO_MANY_OPEN_FILES, "Too many open files"},
        {ERROR_NOT_ENOUGH_MEMORY, "Out of memory"},
        {ERROR_CRC, "I/O error 23"},
        {ERROR_NOT_READY, "I/O error 21"},
    };
    for (const SystemErrorCase& c : cases) {
        EXPECT_EQ(failureText([&] { win32::throwSystemError(c.code); }), c.message)
            << "Win32 error " << c.code;
    }
}

TEST(WindowsNames, DeviceNamesAreKnownWithAnyExtensionAndCase) {
    for (const char* name : {"CON", "con", "NUL", "nul.wav", "PRN.acm", "aux", "COM1", "com9.wav",
                             "LPT1", "lpt9.x.y", "NUL .wav"}) {
        EXPECT_TRUE(win32::isReservedDeviceName(name)) << name;
    }
    for (const char* name : {"CONSOLE", "null.wav", "COM0", "COM10", "LPT", "xCON", "a.con", ""}) {
        EXPECT_FALSE(win32::isReservedDeviceName(name)) << name;
    }
}

TEST(WindowsNames, DirectoryOfReadsBothSeparatorsAndDrives) {
    const std::pair<const char*, const char*> cases[] = {
        {"a.wav", "."},        {"dir\\a.wav", "dir"}, {"dir/a.wav", "dir"}, {"x/y\\a.wav", "x/y"},
        {"C:\\a.wav", "C:\\"}, {"C:a.wav", "C:"},     {"\\a.wav", "\\"},    {"C:/d/a.wav", "C:/d"},
    };
    for (const auto& [path, directory] : cases)
        EXPECT_EQ(directoryOf(path), directory) << path;
}

TEST(WindowsNames, FileNameStartsAfterEitherSeparatorOrADrive) {
    const std::pair<const char*, std::size_t> cases[] = {
        {"a.wav", 0},   {"d.v2\\a", 5},   {"d.v2/a", 5}, {"x/y\\a.wav", 4},
        {"C:a.wav", 2}, {"C:\\d.x\\", 7}, {"", 0},
    };
    for (const auto& [path, start] : cases)
        EXPECT_EQ(fileNameStart(path), start) << path;
}

class WindowsFiles : public ::testing::Test {
  protected:
    std::string path(const std::string& name) const { return utf8Path(dir.path()) + "\\" + name; }
    TempDir dir;
};

TEST_F(WindowsFiles, NamesOutsideTheCodePageAreWrittenAndReadBack) {
    const std::string name =
        "\xC3\x9C"
        "berspielung \xE2\x80\x93 \xE5\xA3\xB0.wav";
    OutputFile output(path(name), std::nullopt);
    output.write(bytesOf("RIFF"));
    output.commit();
    EXPECT_EQ(entries(dir.path()), std::vector<std::string>{name});
    EXPECT_EQ(readFileBytes(dir.path() / fromUtf8(name)),
              (std::vector<std::uint8_t>{'R', 'I', 'F', 'F'}));

    InputFile input(path(name));
    std::uint8_t buffer[8] = {};
    EXPECT_EQ(input.readSome(buffer), 4u);
    const auto status = statusOf(path(name));
    ASSERT_TRUE(status);
    EXPECT_EQ(status->kind, FileKind::Regular);
    EXPECT_EQ(status->size, 4u);
}

TEST_F(WindowsFiles, IdentityComesFromTheFileIndex) {
    writeFileBytes(dir / "a.acm", {1, 2, 3});
    writeFileBytes(dir / "b.acm", {1, 2, 3});
    fs::create_hard_link(dir / "a.acm", dir / "link.acm");
    const auto a = statusOf(path("a.acm"));
    const auto b = statusOf(path("b.acm"));
    const auto link = statusOf(path("link.acm"));
    ASSERT_TRUE(a && b && link);
    EXPECT_NE(a->identity, b->identity);
    EXPECT_EQ(a->identity, link->identity);
    EXPECT_EQ(InputFile(path("link.acm")).identity(), a->identity);
}

TEST_F(WindowsFiles, AnOutputThatIsTheInputIsRefusedAndKept) {
    writeFileBytes(dir / "in.acm", {9, 9});
    fs::create_hard_link(dir / "in.acm", dir / "in.wav");
    const FileIdentity input = InputFile(path("in.acm")).identity();
    EXPECT_EQ(failureText([&] { OutputFile(path("in.wav"), input); }), "I/O error 32");
    EXPECT_EQ(readFileBytes(dir / "in.wav"), (std::vector<std::uint8_t>{9, 9}));
    EXPECT_EQ(entries(dir.path()), (std::vector<std::string>{"in.acm", "in.wav"}));
}

TEST_F(WindowsFiles, CommitReplacesAnExistingFileOnlyAtTheEnd) {
    writeFileBytes(dir / "out.wav", {7, 7, 7});
    {
        OutputFile output(path("out.wav"), std::nullopt);
        output.write(bytesOf("new"));
        EXPECT_EQ(readFileBytes(dir / "out.wav"), (std::vector<std::uint8_t>{7, 7, 7}));
        output.commit();
    }
    EXPECT_EQ(readFileBytes(dir / "out.wav"), (std::vector<std::uint8_t>{'n', 'e', 'w'}));
    EXPECT_EQ(entries(dir.path()), std::vector<std::string>{"out.wav"});
}

TEST_F(WindowsFiles, AnUnfinishedOutputLeavesNothingBehind) {
    writeFileBytes(dir / "out.wav", {7});
    {
        OutputFile output(path("out.wav"), std::nullopt);
        output.write(bytesOf("partial"));
    }
    EXPECT_EQ(readFileBytes(dir / "out.wav"), std::vector<std::uint8_t>{7});
    EXPECT_EQ(entries(dir.path()), std::vector<std::string>{"out.wav"});
}

TEST_F(WindowsFiles, RewritingTheHeaderLeavesTheAppendPositionAlone) {
    OutputFile output(path("out.wav"), std::nullopt);
    output.write(bytesOf("abcdef"));
    output.writeAt(0, bytesOf("XY"));
    output.write(bytesOf("gh"));
    output.commit();
    const std::vector<std::uint8_t> bytes = readFileBytes(dir / "out.wav");
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "XYcdefgh");
}

TEST_F(WindowsFiles, ReadingAtAnOffsetLeavesTheStreamPositionAlone) {
    writeFileBytes(dir / "in.acm", {0, 1, 2, 3, 4, 5, 6, 7});
    InputFile input(path("in.acm"));
    std::uint8_t first[2] = {};
    ASSERT_EQ(input.readSome(first), 2u);
    std::uint8_t later[3] = {};
    EXPECT_EQ(input.readAt(5, later), 3u);
    EXPECT_EQ(later[0], 5);
    std::uint8_t next[2] = {};
    ASSERT_EQ(input.readSome(next), 2u);
    EXPECT_EQ(next[0], 2);
    EXPECT_TRUE(input.seekable());
}

TEST_F(WindowsFiles, DeviceNamesAreRefusedAsOutputs) {
    for (const char* name : {"CON.wav", "nul.wav", "COM1.wav", "lpt2"}) {
        const auto status = statusOf(path(name));
        ASSERT_TRUE(status) << name;
        EXPECT_EQ(status->kind, FileKind::Device) << name;
        EXPECT_EQ(
            failureText([&] { OutputFile(path(name), std::nullopt); }),
            "Invalid filename (" + std::string(name) + " is the name of a device on Windows)");
    }
    EXPECT_TRUE(entries(dir.path()).empty());
}

TEST_F(WindowsFiles, ReadOnlyOutputIsRefusedAndKept) {
    writeFileBytes(dir / "out.wav", {5});
    ASSERT_TRUE(::SetFileAttributesW((dir / "out.wav").wstring().c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(failureText([&] { OutputFile(path("out.wav"), std::nullopt); }),
              "File access denied");
    EXPECT_EQ(readFileBytes(dir / "out.wav"), std::vector<std::uint8_t>{5});
    ::SetFileAttributesW((dir / "out.wav").wstring().c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST_F(WindowsFiles, OpenFailuresReadAsOnLinux) {
    EXPECT_EQ(failureText([&] { InputFile(path("missing.acm")); }), "File not found");
    EXPECT_EQ(failureText([&] { InputFile(path("missing\\in.acm")); }), "Invalid filename");
    fs::create_directory(dir / "folder.acm");
    try {
        InputFile input(path("folder.acm"));
        ADD_FAILURE() << "a folder opened as input";
    } catch (const Failure& failure) {
        EXPECT_EQ(openFailureReason(failure), "File access denied (a directory)");
    }
}

TEST_F(WindowsFiles, AFileHeldExclusivelyIsAccessDenied) {
    writeFileBytes(dir / "held.acm", {1});
    const HANDLE held = ::CreateFileW((dir / "held.acm").wstring().c_str(), GENERIC_READ, 0,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_EQ(failureText([&] { InputFile(path("held.acm")); }), "File access denied");
    ::CloseHandle(held);
}

TEST_F(WindowsFiles, ScratchFileHoldsItsBytesAndLeavesNothing) {
    std::vector<std::byte> written(ScratchFile::kHeldInMemory + 5000);
    for (std::size_t i = 0; i < written.size(); ++i)
        written[i] = static_cast<std::byte>(i * 31 + 7);
    {
        ScratchFile scratch(utf8Path(dir.path()));
        scratch.append(written);
        scratch.append(written);
        std::vector<std::byte> back(4000);
        scratch.read(written.size() - 2000, back);
        EXPECT_TRUE(std::equal(back.begin(), back.begin() + 2000, written.end() - 2000));
        EXPECT_TRUE(std::equal(back.begin() + 2000, back.end(), written.begin()));
    }
    EXPECT_TRUE(entries(dir.path()).empty());
}

TEST_F(WindowsFiles, FoldersAreMadeWithEitherSeparator) {
    const std::string nested = path("\xE5\xA3\xB0\\b/c");
    {
        MadeFolders folders;
        folders.make(nested);
    }
    const auto status = statusOf(nested);
    ASSERT_TRUE(status);
    EXPECT_EQ(status->kind, FileKind::Directory);
}

}  // namespace
}  // namespace talveco
