// Where the programs' outputs go and when they may be written: the names
// (beside the input, -o, -d, '-' for standard output), the plan of a whole run
// (no two inputs write one output, no output is another input), the checks on
// each output just before it is written, and the standard streams. Both
// programs use these, so that they name, refuse and protect files alike.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>

#include "platform/FileIdentity.h"
#include "platform/Files.h"

namespace talveco {

// A file the run will not read or write as asked; what() says why.
class FileRefused : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// The name that stands for standard input or output on the command line.
inline constexpr std::string_view kStandardStreamName = "-";

// `path` with the extension of its last component replaced by `extension`
// (appended when it has none; a leading dot starts a name, not an extension),
// so that the output lands beside its input: "dir/a.acm" -> "dir/a.wav".
std::string withExtension(const std::string& path, std::string_view extension);

// How a run names its outputs.
struct OutputNaming {
    std::optional<std::string> outputPath;    // -o (the single input's output); "-" for -c
    std::optional<std::string> outputFolder;  // -d
    std::string_view extension;               // of the outputs named after their inputs
};

// The output of `input`: -o's name, standard output for standard input, else
// the input's name with the extension, beside it or in the -d folder.
std::string outputFor(const std::string& input, const OutputNaming& naming);

// Refuses, before any work, a run whose outputs would clash: two inputs that
// write one file (the second would replace the first after both were done),
// an output that is another input of the run (read after it was replaced, or
// replaced while it is read), standard input read more than once, and
// standard input or output that is a terminal. Raises UsageError naming both
// inputs. `outputs[i]` is the output of `inputs[i]`.
void refuseClashingOutputs(std::span<const std::string> inputs,
                           std::span<const std::string> outputs);

// Where an output that passed the checks is written.
enum class OutputPlace {
    NewFile,     // through a temporary file renamed over the name at the end
    NullDevice,  // written directly: nothing there to protect or rename over
};

// Checks the output just before it is written. Raises FileRefused when
// `target` is the input itself (also through a link), a directory, a device,
// pipe or socket other than the null device, or a name that exists (a file, or a link, even one
// that leads nowhere) that `force` does not allow to replace; and when the folder it would go into
// is missing or no folder.
OutputPlace checkOutput(const std::string& target, std::optional<FileIdentity> input, bool force);

// Raises FileRefused when standard output is the input (`>> input`: the input
// would grow as it is read, or be appended to after it was read).
void refuseStandardOutputAsInput(std::optional<FileIdentity> input);

// Writes to standard output (at `offset` when given); a reader that went away
// is reported as "standard output was closed", anything else as
// "writing standard output: ...", both as FileRefused.
void writeToStandardOutput(std::span<const std::uint8_t> bytes,
                           std::optional<std::uint64_t> offset = std::nullopt);

// Raises FileRefused when `input`, whose status is `status`, is a folder,
// before it is opened: what the open would report ("File access denied")
// does not say what is wrong.
void refuseFolderAsInput(const std::string& input, const std::optional<FileStatus>& status);

// Makes the -d folder (and its missing parents, so that -d may name a folder
// that does not exist yet) into `folders`, which removes those it made should
// the run be interrupted while they are empty. Raises FileRefused, saying why,
// when it cannot be made.
void makeOutputFolder(const std::string& folder, MadeFolders& folders);

}  // namespace talveco
