#include "tests/support/ProgramRunner.h"

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <stdexcept>
#include <string_view>
#include <thread>

namespace talveco::testing {
namespace {

constexpr uid_t kNobody = 65534;

// Puts the file `path` (when there is one) on descriptor `fd`.
bool redirect(const std::filesystem::path& path, int flags, int fd) noexcept {
    if (path.empty()) return true;
    const int opened = ::open(path.c_str(), flags, 0644);
    return opened >= 0 && ::dup2(opened, fd) >= 0 && ::close(opened) == 0;
}

// Runs in the forked child: nothing here may throw or return, or the child
// would go on running the parent's tests.
[[noreturn]] void runChild(const std::string& program, std::vector<char*>& argv,
                           std::vector<char*>& envp, const std::filesystem::path& workDir,
                           const RunOptions& options, int outputFd, int errorFd,
                           int socketFd) noexcept {
    const int devNull = ::open("/dev/null", O_RDONLY);
    if (devNull < 0 || ::dup2(devNull, 0) < 0 || ::dup2(outputFd, 1) < 0 ||
        ::dup2(errorFd, 2) < 0) {
        ::_exit(126);
    }
    if (options.closedStandardStreams) {
        for (const int fd : {0, 1, 2})
            ::close(fd);
    }
    if (::chdir(workDir.c_str()) != 0) ::_exit(126);
    const int outputFlags =
        O_WRONLY | O_CREAT | (options.appendStandardOutput ? O_APPEND : O_TRUNC);
    if (!redirect(options.standardInput, O_RDONLY, 0) ||
        !redirect(options.standardOutputFile, outputFlags, 1)) {
        ::_exit(126);
    }
    if (socketFd >= 0 && ::dup2(socketFd, 0) < 0) ::_exit(126);
    if (options.fileSizeLimit) {
        const rlimit limit{static_cast<rlim_t>(*options.fileSizeLimit),
                           static_cast<rlim_t>(*options.fileSizeLimit)};
        if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) ::_exit(126);
    }
    if (options.unprivileged && ::geteuid() == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0) {
            ::_exit(126);
        }
    }
    ::execve(program.c_str(), argv.data(), envp.data());
    ::_exit(127);
}

std::string_view variableName(std::string_view entry) {
    return entry.substr(0, entry.find('='));
}

// The inherited environment with the options' entries added, each replacing
// an inherited one of its name; the strings live in `storage`, which must
// outlive the result.
std::vector<char*> childEnvironment(const RunOptions& options, std::vector<std::string>& storage) {
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const bool replaced = std::any_of(
            options.environment.begin(), options.environment.end(),
            [entry](const std::string& e) { return variableName(e) == variableName(*entry); });
        if (!replaced) storage.emplace_back(*entry);
    }
    storage.insert(storage.end(), options.environment.begin(), options.environment.end());
    std::vector<char*> envp;
    for (std::string& entry : storage)
        envp.push_back(entry.data());
    envp.push_back(nullptr);
    return envp;
}

// Reads the child's output to its end; signals it at its first progress mark
// when asked to.
std::string drain(int fd, pid_t child, std::optional<int> signalOnProgress) {
    std::string text;
    char chunk[4096];
    for (;;) {
        const ssize_t got = ::read(fd, chunk, sizeof chunk);
        if (got > 0) {
            text.append(chunk, static_cast<std::size_t>(got));
            if (signalOnProgress && text.find('#') != std::string::npos) {
                ::kill(child, *signalOnProgress);
                signalOnProgress.reset();
            }
        } else if (got == 0 || errno != EINTR) {
            return text;
        }
    }
}

// Everything written to `fd` from its start.
std::string readAll(int fd) {
    std::string text;
    char chunk[4096];
    ssize_t got;
    while ((got = ::pread(fd, chunk, sizeof chunk, static_cast<off_t>(text.size()))) > 0)
        text.append(chunk, static_cast<std::size_t>(got));
    return text;
}

// The reading end of a pipe that holds all of `bytes` and then ends.
int standardInputPipe(const std::vector<std::uint8_t>& bytes) {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    const bool sent =
        ::write(ends[1], bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    ::close(ends[1]);
    if (!sent) throw std::runtime_error("the pipe took not all of the bytes");
    return ends[0];
}

// The reading end of a socket pair that holds all of the options' bytes and
// then ends (-1 when there is none), or of a pipe when one is asked for. The
// bytes must fit the socket's or pipe's buffer.
int standardInputSocket(const RunOptions& options) {
    if (options.standardInputPipe) return standardInputPipe(*options.standardInputPipe);
    if (!options.standardInputSocket) return -1;
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) {
        throw std::runtime_error("socketpair failed");
    }
    const std::vector<std::uint8_t>& bytes = *options.standardInputSocket;
    const bool sent =
        ::write(ends[0], bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    ::close(ends[0]);
    if (!sent) throw std::runtime_error("the socket took not all of the bytes");
    return ends[1];
}

}  // namespace

std::string programPath() {
    const char* path = std::getenv("TALVECO_BINARY");
    if (path == nullptr) throw std::runtime_error("TALVECO_BINARY is not set");
    return path;
}

ProgramResult runProgram(const std::vector<std::string>& arguments,
                         const std::filesystem::path& workDir, const RunOptions& options) {
    const std::string program = options.program.empty() ? programPath() : options.program;
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const auto& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    std::vector<std::string> environmentStorage;
    std::vector<char*> envp = childEnvironment(options, environmentStorage);

    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    if (options.brokenStdout) ::close(pipeFds[0]);
    // Standard error goes to a file in memory, read once the program is done.
    const int errorFd = ::memfd_create("stderr", MFD_CLOEXEC);
    if (errorFd < 0) throw std::runtime_error("memfd_create failed");

    const int socketFd = standardInputSocket(options);

    const pid_t child = ::fork();
    if (child < 0) throw std::runtime_error("fork failed");
    if (child == 0) runChild(program, argv, envp, workDir, options, pipeFds[1], errorFd, socketFd);
    if (socketFd >= 0) ::close(socketFd);

    ::close(pipeFds[1]);
    std::thread helper;
    if (options.whileRunning) helper = std::thread(options.whileRunning, child);
    ProgramResult result;
    if (!options.brokenStdout) {
        result.output = drain(pipeFds[0], child, options.signalOnProgress);
        ::close(pipeFds[0]);
    }
    int status = 0;
    rusage usage{};
    while (::wait4(child, &status, 0, &usage) < 0 && errno == EINTR) {
    }
    if (helper.joinable()) helper.join();
    result.peakMemoryKb = usage.ru_maxrss;
    result.errors = readAll(errorFd);
    ::close(errorFd);
    if (WIFEXITED(status)) result.exitStatus = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) result.terminatingSignal = WTERMSIG(status);
    return result;
}

std::string crlfLines(const std::vector<std::string>& lines) {
    std::string text;
    for (const auto& line : lines)
        text += line + "\r\n";
    return text;
}

// A sanitizer runtime insists on coming first among the libraries; here it
// must not.
RunOptions withFaults(std::vector<std::string> settings, RunOptions options) {
    const char* inherited = std::getenv("ASAN_OPTIONS");
    settings.push_back("LD_PRELOAD=" TALVECO_FAULT_SHIM);
    settings.push_back(std::string("ASAN_OPTIONS=") + (inherited ? inherited : "") +
                       ":verify_asan_link_order=0");
    options.environment = std::move(settings);
    return options;
}

}  // namespace talveco::testing
