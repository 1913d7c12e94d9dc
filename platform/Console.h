// Console output. Lines end in CR LF and every piece is written straight to
// standard output, so it is on screen at once and nothing is held back in a
// buffer. A console that has gone away (a closed pipe) is not an error: the
// conversion goes on and its messages are dropped.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace talveco {

class Console {
  public:
    explicit Console(int fd = 1) : fd_(fd) {}

    void write(std::string_view text);
    void endLine() { write("\r\n"); }
    void line(std::string_view text);

  private:
    int fd_;
};

// The width of the terminal on `fd`, or nothing when it is no terminal or does not say.
std::optional<unsigned> terminalColumns(int fd);

// Writes all of `bytes` to `fd` (standard output carrying a stream), raising the mapped
// Failure ("Disk full", "I/O error 32" for a closed pipe, ...) when that cannot be done.
void writeAll(int fd, std::span<const std::uint8_t> bytes);

// A run must survive its console closing and a write that exceeds a file size
// limit: both then show up as failed writes instead of killing the process.
void ignoreFatalWriteSignals();

// Puts /dev/null on any of descriptors 0 to 2 that the process was started
// without. Otherwise the files the run opens could take those numbers, and
// console output could land in the WAV file.
void occupyStandardDescriptors();

// What every program of the project does first: the three safeguards above and
// the interrupt cleanup. Returns the arguments after the program's name.
std::vector<std::string> startProgram(int argc, char** argv);

}  // namespace talveco
