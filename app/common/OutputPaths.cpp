#include "app/common/OutputPaths.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <system_error>

#include "app/common/CommandLine.h"
#include "platform/Failure.h"
#include "platform/PathErrors.h"

namespace talveco {
namespace {

namespace fs = std::filesystem;

// Names are UTF-8 on every system. A path made from a plain string would read
// it in the system's narrow encoding, which on Windows is a code page that
// holds few of the names users have; through char8_t it is read as UTF-8.
fs::path pathOf(const std::string& utf8) {
    return fs::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string textOf(const fs::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

bool isStandardStream(const std::string& name) {
    return name == kStandardStreamName;
}

void refuseTerminals(const std::string& input, const std::string& output) {
    if (isStandardStream(input) && isTerminal(StandardStream::Input)) {
        throw UsageError("will not read from a terminal; redirect standard input");
    }
    if (isStandardStream(output) && isTerminal(StandardStream::Output)) {
        throw UsageError(
            "will not write to a terminal; redirect standard output or name an output with -o");
    }
}

// The folder an output goes into must be there: the write would fail only
// after the decoding, and with a message that does not name the folder.
void refuseMissingFolder(const std::string& target) {
    const std::string folder = directoryOf(target);
    const auto status = statusOf(folder);
    if (!status) throw FileRefused("the folder " + folder + " does not exist");
    if (status->kind != FileKind::Directory) {
        throw FileRefused("the output " + target + " is in " + folder + ", which is no folder");
    }
}

// The outputs of a run so far, and the files it reads.
class RunPlan {
  public:
    explicit RunPlan(std::span<const std::string> inputs) {
        for (const std::string& input : inputs) {
            if (isStandardStream(input)) continue;
            if (const auto status = statusOf(input)) inputNamed_.emplace(status->identity, input);
        }
    }

    // Raises UsageError when `output` is already written by another input,
    // or is another input of the run.
    void add(const std::string& input, const std::string& output) {
        const auto [first, fresh] = writerOf_.emplace(sameFileKey(output), input);
        if (!fresh) {
            throw UsageError(first->second + " and " + input + " would both be written to " +
                             (isStandardStream(output) ? "standard output" : output));
        }
        if (const auto other = otherInputAt(input, output)) {
            throw UsageError("the output " + output + " of " + input + " is " + *other +
                             ", another input of this run");
        }
    }

  private:
    // One name per output, whatever way the command line spells it: "./a.wav",
    // "a.wav" and "dir/../a.wav" are one output, as is a path through a link to
    // its folder. The last component stays as it is: the finished file is
    // renamed over a link of that name, not written where the link leads. Each
    // folder is resolved once, which a run of many files into one folder needs.
    std::string sameFileKey(const std::string& output) {
        if (isStandardStream(output)) return output;
        const fs::path path = pathOf(output);
        const fs::path name = path.filename();
        if (name.empty() || name == "." || name == "..") return textOf(resolved(path));
        const std::string folder = directoryOf(output);
        auto known = folderKey_.find(folder);
        if (known == folderKey_.end())
            known = folderKey_.emplace(folder, resolved(pathOf(folder))).first;
        return textOf(known->second / name);
    }

    static fs::path resolved(const fs::path& path) {
        std::error_code ignored;
        return fs::weakly_canonical(fs::absolute(path), ignored);
    }

    // The input of the run that `output` is, unless it is `input` itself
    // (refused with that file alone, as for a run of one file).
    std::optional<std::string> otherInputAt(const std::string& input, const std::string& output) {
        const auto existing = isStandardStream(output) ? std::nullopt : statusOf(output);
        if (!existing) return std::nullopt;
        const auto other = inputNamed_.find(existing->identity);
        if (other == inputNamed_.end() || other->second == input) return std::nullopt;
        const auto own = statusOf(input);
        if (own && own->identity == existing->identity) return std::nullopt;
        return other->second;
    }

    std::map<FileIdentity, std::string, IdentityOrder> inputNamed_;
    std::map<std::string, std::string> writerOf_;  // by sameFileKey
    std::map<std::string, fs::path> folderKey_;    // each output folder, resolved
};

}  // namespace

std::string withExtension(const std::string& path, std::string_view extension) {
    const auto nameStart = fileNameStart(path);
    const auto dot = path.find_last_of('.');
    const bool hasExtension = dot != std::string::npos && dot > nameStart;
    return path.substr(0, hasExtension ? dot : path.size()) + std::string(extension);
}

std::string outputFor(const std::string& input, const OutputNaming& naming) {
    if (naming.outputPath) return *naming.outputPath;
    if (isStandardStream(input)) return input;
    const std::string beside = withExtension(input, naming.extension);
    if (!naming.outputFolder) return beside;
    return textOf(pathOf(*naming.outputFolder) / pathOf(beside).filename());
}

void refuseClashingOutputs(std::span<const std::string> inputs,
                           std::span<const std::string> outputs) {
    if (std::count_if(inputs.begin(), inputs.end(), isStandardStream) > 1) {
        throw UsageError("standard input can be read only once");
    }
    RunPlan plan(inputs);
    for (std::size_t i = 0; i < inputs.size() && i < outputs.size(); ++i) {
        refuseTerminals(inputs[i], outputs[i]);
        plan.add(inputs[i], outputs[i]);
    }
}

OutputPlace checkOutput(const std::string& target, std::optional<FileIdentity> input, bool force) {
    // A symbolic link counts as an existing output even when it leads
    // nowhere: replacing it without -f would lose it as surely as a file.
    if (!linkStatusOf(target)) {
        refuseMissingFolder(target);
        return OutputPlace::NewFile;
    }
    if (const auto status = statusOf(target)) {
        if (input && *input == status->identity) {
            throw FileRefused("the output " + target + " is the input itself; not overwritten");
        }
        if (status->kind == FileKind::Directory) {
            throw FileRefused("the output " + target + " is a directory");
        }
        if (status->kind == FileKind::NullDevice) return OutputPlace::NullDevice;
        // The finished file is renamed over the target: a device or pipe of
        // that name would be replaced by a regular file, not written to.
        if (status->kind != FileKind::Regular) {
            throw FileRefused("the output " + target + " is not a regular file; not replaced");
        }
    }
    if (!force) throw FileRefused("the output " + target + " exists (-f replaces it)");
    return OutputPlace::NewFile;
}

void refuseStandardOutputAsInput(std::optional<FileIdentity> input) {
    const auto status = statusOf(StandardStream::Output);
    if (input && status && status->identity == *input) {
        throw FileRefused("standard output is the input itself; not written");
    }
}

void writeToStandardOutput(std::span<const std::uint8_t> bytes,
                           std::optional<std::uint64_t> offset) {
    try {
        writeStandardOutput(bytes, offset);
    } catch (const Failure& failure) {
        if (failure.kind() == FailureKind::IoError && isReaderGone(failure.errorNumber())) {
            throw FileRefused("standard output was closed");
        }
        throw FileRefused(std::string("writing standard output: ") + failure.what());
    }
}

void makeOutputFolder(const std::string& folder, MadeFolders& folders) {
    try {
        folders.make(folder);
    } catch (const std::system_error& error) {
        throw FileRefused("cannot create the folder " + folder + ": " + error.code().message());
    }
}

void refuseFolderAsInput(const std::string& input, const std::optional<FileStatus>& status) {
    if (status && status->kind == FileKind::Directory) {
        throw FileRefused(input + " is a directory, not a file");
    }
}

}  // namespace talveco
