#include "tests/support/IndependentReaders.h"

#include <cstdio>
#include <sstream>

namespace talveco::testing {
namespace {

std::string quoted(const std::string& text) {
    std::string out = "'";
    for (const char c : text)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

// Runs a shell command and returns its standard output and error; `status`
// receives the exit status.
std::string capture(const std::string& command, int& status) {
    std::string output;
    FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr) {
        status = -1;
        return "cannot run: " + command;
    }
    char chunk[4096];
    while (const std::size_t got = std::fread(chunk, 1, sizeof chunk, pipe))
        output.append(chunk, got);
    status = ::pclose(pipe);
    return output;
}

// Checks format, channel count, rate, sample width, frame count and that the
// frames are exactly the data bytes stored after the 44-byte header.
constexpr const char* kPythonCheck = R"PY(
import sys, wave
path, channels, data_bytes = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
with wave.open(path, "rb") as w:
    problems = []
    if w.getcomptype() != "NONE": problems.append("compression %s" % w.getcomptype())
    if w.getnchannels() != channels: problems.append("channels %d" % w.getnchannels())
    if w.getsampwidth() != 2: problems.append("sample width %d" % w.getsampwidth())
    if w.getframerate() != 22050: problems.append("rate %d" % w.getframerate())
    frame = 2 * channels
    if w.getnframes() != data_bytes // frame: problems.append("frames %d" % w.getnframes())
    frames = w.readframes(w.getnframes())
with open(path, "rb") as f:
    raw = f.read()
if frames != raw[44:44 + (data_bytes // frame) * frame]: problems.append("frame bytes differ")
print("; ".join(problems))
sys.exit(1 if problems else 0)
)PY";

std::string pythonComplaints(const std::filesystem::path& wav, const WavExpectation& expected) {
    int status = 0;
    const std::string output =
        capture("python3 -c " + quoted(kPythonCheck) + " " + quoted(wav.string()) + " " +
                    std::to_string(expected.channels) + " " + std::to_string(expected.dataBytes),
                status);
    return status == 0 ? std::string() : "python wave: " + output;
}

std::string sndfileComplaints(const std::filesystem::path& wav, const WavExpectation& expected) {
    int status = 0;
    const std::string output = capture("sndfile-info " + quoted(wav.string()), status);
    if (status != 0) return "sndfile-info failed: " + output;
    const std::string oddNameWarning =
        "*** INAM : " + std::to_string(expected.nameLength + 1) + " (too big)";
    std::istringstream lines(output);
    std::string complaints;
    for (std::string line; std::getline(lines, line);) {
        const bool suspicious =
            line.find("should be") != std::string::npos || line.find("***") != std::string::npos;
        const bool expectedWarning =
            expected.nameLength % 2 == 1 && line.find(oddNameWarning) != std::string::npos;
        if (suspicious && !expectedWarning) complaints += "sndfile-info: " + line + "\n";
    }
    return complaints;
}

}  // namespace

std::string independentReadersComplaints(const std::filesystem::path& wav,
                                         const WavExpectation& expected) {
    return pythonComplaints(wav, expected) + sndfileComplaints(wav, expected);
}

}  // namespace talveco::testing
