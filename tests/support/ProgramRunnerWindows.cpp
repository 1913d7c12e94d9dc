// The program runner on Windows: CreateProcessW with the standard handles
// redirected, which is what cmd.exe does for `<`, `>` and `|`.
#include <windows.h>

#include <cstdlib>
#include <stdexcept>
#include <string>
#include <thread>

#include "tests/support/ProgramRunner.h"

namespace talveco::testing {
namespace {

std::wstring wide(const std::string& utf8) {
    if (utf8.empty()) return {};
    const int length =
        ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring result(static_cast<std::size_t>(length), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), result.data(),
                          length);
    return result;
}

// One argument quoted as the C runtime and CommandLineToArgvW read it back:
// backslashes are literal except before a quote.
std::wstring quoted(const std::wstring& argument) {
    std::wstring out = L"\"";
    std::size_t backslashes = 0;
    for (const wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        out.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        out += c;
    }
    out.append(backslashes * 2, L'\\');
    return out + L"\"";
}

struct Handle {
    HANDLE value = INVALID_HANDLE_VALUE;
    Handle() = default;
    explicit Handle(HANDLE h) : value(h) {}
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    ~Handle() { close(); }
    void close() {
        if (value != INVALID_HANDLE_VALUE && value != nullptr) ::CloseHandle(value);
        value = INVALID_HANDLE_VALUE;
    }
};

SECURITY_ATTRIBUTES inheritable() {
    SECURITY_ATTRIBUTES attributes{};
    attributes.nLength = sizeof attributes;
    attributes.bInheritHandle = TRUE;
    return attributes;
}

HANDLE openInherited(const std::filesystem::path& path, DWORD access, DWORD disposition) {
    SECURITY_ATTRIBUTES attributes = inheritable();
    const HANDLE handle = ::CreateFileW(path.wstring().c_str(), access,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        &attributes, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot open " + path.string());
    return handle;
}

// A pipe whose writing end the child inherits (its reading end, for the
// child's input, with `childReads`); `ours` is the other end. Its buffer
// holds 64 KiB.
void makePipe(Handle& ours, Handle& childs, bool childReads = false) {
    SECURITY_ATTRIBUTES attributes = inheritable();
    HANDLE reading = INVALID_HANDLE_VALUE;
    HANDLE writing = INVALID_HANDLE_VALUE;
    if (!::CreatePipe(&reading, &writing, &attributes, 1 << 16)) {
        throw std::runtime_error("CreatePipe failed");
    }
    ours.value = childReads ? writing : reading;
    childs.value = childReads ? reading : writing;
    ::SetHandleInformation(ours.value, HANDLE_FLAG_INHERIT, 0);
}

std::string drain(HANDLE reading) {
    std::string text;
    char chunk[4096];
    DWORD got = 0;
    while (::ReadFile(reading, chunk, sizeof chunk, &got, nullptr) && got > 0)
        text.append(chunk, got);
    return text;
}

// The inherited environment with the options' entries added, each replacing
// an inherited one of its name; as CreateProcessW wants it, every entry
// ended by a NUL and the block by another.
std::wstring environmentBlock(const RunOptions& options) {
    std::wstring block;
    wchar_t* inherited = ::GetEnvironmentStringsW();
    for (const wchar_t* entry = inherited; *entry != L'\0'; entry += wcslen(entry) + 1) {
        const std::wstring text(entry);
        bool replaced = false;
        for (const std::string& added : options.environment) {
            const std::wstring name = wide(added.substr(0, added.find('=') + 1));
            replaced |= ::_wcsnicmp(text.c_str(), name.c_str(), name.size()) == 0;
        }
        if (!replaced) block += text + L'\0';
    }
    ::FreeEnvironmentStringsW(inherited);
    for (const std::string& added : options.environment)
        block += wide(added) + L'\0';
    return block + L'\0';
}

void refuseUnsupported(const RunOptions& options) {
    if (options.fileSizeLimit || options.unprivileged || options.signalOnProgress ||
        options.standardInputSocket || options.whileRunning) {
        throw std::runtime_error("the run asks for what only POSIX systems have");
    }
}

}  // namespace

std::string programPath() {
    const char* path = std::getenv("TALVECO_BINARY");
    if (path == nullptr) throw std::runtime_error("TALVECO_BINARY is not set");
    return path;
}

ProgramResult runProgram(const std::vector<std::string>& arguments,
                         const std::filesystem::path& workDir, const RunOptions& options) {
    refuseUnsupported(options);
    const std::string program = options.program.empty() ? programPath() : options.program;
    std::wstring commandLine = quoted(wide(program));
    for (const std::string& argument : arguments)
        commandLine += L" " + quoted(wide(argument));

    Handle input;
    if (options.standardInputPipe) {
        Handle writing;
        makePipe(writing, input, true);
        const std::vector<std::uint8_t>& bytes = *options.standardInputPipe;
        DWORD put = 0;
        if (!::WriteFile(writing.value, bytes.data(), static_cast<DWORD>(bytes.size()), &put,
                         nullptr) ||
            put != bytes.size()) {
            throw std::runtime_error("the pipe took not all of the bytes");
        }
    } else {
        input.value = options.standardInput.empty()
                          ? openInherited("NUL", GENERIC_READ, OPEN_EXISTING)
                          : openInherited(options.standardInput, GENERIC_READ, OPEN_EXISTING);
    }
    Handle outputReading;
    Handle outputWriting;
    if (options.standardOutputFile.empty()) {
        makePipe(outputReading, outputWriting);
        if (options.brokenStdout) outputReading.close();
    } else if (options.appendStandardOutput) {
        outputWriting.value =
            openInherited(options.standardOutputFile, FILE_APPEND_DATA | SYNCHRONIZE, OPEN_ALWAYS);
    } else {
        outputWriting.value =
            openInherited(options.standardOutputFile, GENERIC_READ | GENERIC_WRITE, CREATE_ALWAYS);
    }
    Handle errorReading;
    Handle errorWriting;
    makePipe(errorReading, errorWriting);

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    if (!options.closedStandardStreams) {
        startup.hStdInput = input.value;
        startup.hStdOutput = outputWriting.value;
        startup.hStdError = errorWriting.value;
    }
    std::wstring environment = environmentBlock(options);
    PROCESS_INFORMATION process{};
    if (!::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE,
                          CREATE_UNICODE_ENVIRONMENT, environment.data(), workDir.wstring().c_str(),
                          &startup, &process)) {
        throw std::runtime_error("cannot start " + program);
    }
    Handle child(process.hProcess);
    ::CloseHandle(process.hThread);
    // The child holds its own copies: the pipes end when it does.
    input.close();
    outputWriting.close();
    errorWriting.close();

    ProgramResult result;
    std::thread errors([&] { result.errors = drain(errorReading.value); });
    if (outputReading.value != INVALID_HANDLE_VALUE) result.output = drain(outputReading.value);
    errors.join();
    ::WaitForSingleObject(child.value, INFINITE);
    DWORD status = 0;
    ::GetExitCodeProcess(child.value, &status);
    result.exitStatus = static_cast<int>(status);
    return result;
}

std::string crlfLines(const std::vector<std::string>& lines) {
    std::string text;
    for (const auto& line : lines)
        text += line + "\r\n";
    return text;
}

RunOptions withFaults(std::vector<std::string>, RunOptions) {
    throw std::runtime_error("fault injection preloads a library, which only POSIX systems do");
}

}  // namespace talveco::testing
