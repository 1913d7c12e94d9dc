#include "platform/Console.h"

#include <fcntl.h>
#include <io.h>

#include <cerrno>
#include <cstdio>

#include "platform/Failure.h"
#include "platform/Interrupts.h"
#include "platform/windows/Win32.h"

// After windows.h, which it needs.
#include <shellapi.h>

namespace talveco {
namespace {

bool isConsole(HANDLE handle) {
    DWORD mode = 0;
    return handle != INVALID_HANDLE_VALUE && ::GetConsoleMode(handle, &mode) != 0;
}

// A console shows text given as UTF-16 whatever its code page; bytes written
// to it would be read in the code page and garble every name outside it.
void writeToConsole(HANDLE console, std::string_view text) {
    const std::wstring wide = win32::wide(text);
    DWORD written = 0;
    ::WriteConsoleW(console, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
}

}  // namespace

void Console::write(std::string_view text) {
    const HANDLE handle = win32::handleOf(fd_);
    if (isConsole(handle)) {
        writeToConsole(handle, text);
        return;
    }
    while (!text.empty()) {
        DWORD put = 0;
        if (!::WriteFile(handle, text.data(), static_cast<DWORD>(text.size()), &put, nullptr) ||
            put == 0) {
            return;  // nobody is listening any more
        }
        text.remove_prefix(put);
    }
}

std::optional<unsigned> terminalColumns(int fd) {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!::GetConsoleScreenBufferInfo(win32::handleOf(fd), &info)) return std::nullopt;
    const int columns = info.srWindow.Right - info.srWindow.Left + 1;
    if (columns <= 0) return std::nullopt;
    return static_cast<unsigned>(columns);
}

void writeAll(int fd, std::span<const std::uint8_t> bytes) {
    const HANDLE handle = win32::handleOf(fd);
    if (handle == INVALID_HANDLE_VALUE) throwErrno(EBADF);
    while (!bytes.empty()) {
        // Pieces of at most 1 GiB, as a DWORD counts.
        const auto size = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 30));
        DWORD put = 0;
        if (!::WriteFile(handle, bytes.data(), size, &put, nullptr)) {
            win32::throwSystemError(::GetLastError());
        }
        if (put == 0) throw Failure(FailureKind::DiskFull, ENOSPC);
        bytes = bytes.subspan(put);
    }
}

// Windows has no signals for a closed pipe or a file size limit: both are
// failed writes already.
void ignoreFatalWriteSignals() {}

void occupyStandardDescriptors() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (::_get_osfhandle(fd) != -1) continue;
        // A program started without a console or redirection (from a GUI) has
        // no standard handles; NUL holds the place, as /dev/null does on Linux.
        const int opened = ::_open("NUL", _O_RDWR | _O_BINARY);
        if (opened < 0) return;
        if (opened != fd) {
            ::_dup2(opened, fd);
            ::_close(opened);
        }
    }
}

namespace {

// Bytes in and out unchanged: the C runtime's text mode would turn every LF
// of a WAV into CR LF, and the CR LF the transcript writes into CR CR LF.
void useBinaryStandardStreams() {
    for (int fd = 0; fd <= 2; ++fd)
        ::_setmode(fd, _O_BINARY);
}

// The arguments as the user typed them: the narrow argv holds them in the
// code page, which cannot hold most names, so they are read in UTF-16.
std::vector<std::string> utf8Arguments(int argc, char** argv) {
    int count = 0;
    LPWSTR* wideArguments = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (wideArguments == nullptr) {
        return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
    }
    std::vector<std::string> arguments;
    for (int index = 1; index < count; ++index)
        arguments.push_back(win32::utf8(wideArguments[index]));
    ::LocalFree(wideArguments);
    return arguments;
}

}  // namespace

std::vector<std::string> startProgram(int argc, char** argv) {
    occupyStandardDescriptors();
    useBinaryStandardStreams();
    installInterruptCleanup();
    return utf8Arguments(argc, argv);
}

}  // namespace talveco
