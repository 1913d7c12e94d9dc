// Runs the built program as a user would: in a given directory, with given
// arguments, and captures its console output and exit status.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace talveco::testing {

struct RunOptions {
    // RLIMIT_FSIZE in bytes, as `ulimit -f` would set it.
    std::optional<long> fileSizeLimit;
    // Drop root rights (to nobody) so that permission checks apply.
    bool unprivileged = false;
    // Standard output is a pipe whose reading end is already closed.
    bool brokenStdout = false;
    // Sent to the program as soon as it prints its first "#".
    std::optional<int> signalOnProgress;
    // Standard input, output and error are closed, not merely unread.
    bool closedStandardStreams = false;
    // "NAME=value" entries added to the environment the program inherits.
    std::vector<std::string> environment;
    // The program to run instead of talveco (programPath()).
    std::string program;
    // Standard input reads this file instead of /dev/null.
    std::filesystem::path standardInput;
    // Standard output goes to this file (created or emptied), which can be
    // sought, instead of the pipe whose text becomes `output`.
    std::filesystem::path standardOutputFile;
    // standardOutputFile is opened to append (`>>`), keeping what it holds.
    bool appendStandardOutput = false;
    // Standard input is a socket that carries these bytes and then ends.
    std::optional<std::vector<std::uint8_t>> standardInputSocket;
    // Standard input is a pipe that carries these bytes (at most 64 KiB) and then ends.
    std::optional<std::vector<std::uint8_t>> standardInputPipe;
    // Called on a thread of its own with the program's process id while the
    // program runs (to signal it at a moment the test chooses); joined once
    // the program has ended.
    std::function<void(pid_t)> whileRunning;

    static RunOptions limitFileSize(long bytes) {
        RunOptions options;
        options.fileSizeLimit = bytes;
        return options;
    }
    static RunOptions asNobody() {
        RunOptions options;
        options.unprivileged = true;
        return options;
    }
    static RunOptions interruptOnProgress(int signalNumber) {
        RunOptions options;
        options.signalOnProgress = signalNumber;
        return options;
    }
    static RunOptions closedStdout() {
        RunOptions options;
        options.brokenStdout = true;
        return options;
    }
    static RunOptions withoutStandardStreams() {
        RunOptions options;
        options.closedStandardStreams = true;
        return options;
    }
};

struct ProgramResult {
    int exitStatus = -1;  // -1 when it did not exit normally
    int terminatingSignal = 0;
    std::string output;
    std::string errors;     // what it wrote to standard error
    long peakMemoryKb = 0;  // the largest resident set the program had
};

// The talveco binary under test (the TALVECO_BINARY environment variable).
std::string programPath();

// Options that preload the fault library (tests/support/FaultShim.cpp) into
// the program with `settings`, its "NAME=value" switches.
RunOptions withFaults(std::vector<std::string> settings, RunOptions options = {});

ProgramResult runProgram(const std::vector<std::string>& arguments,
                         const std::filesystem::path& workDir, const RunOptions& options = {});

// Console lines joined with CR LF, each one ended, as the program prints them.
std::string crlfLines(const std::vector<std::string>& lines);

}  // namespace talveco::testing
