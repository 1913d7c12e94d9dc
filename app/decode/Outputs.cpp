#include "app/decode/Outputs.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "app/common/OutputPaths.h"
#include "platform/Console.h"
#include "platform/Failure.h"

namespace talveco {
namespace {

// Runs `operation`, turning its failure into one that names the output.
template <typename Operation>
auto naming(const std::string& output, Operation operation) {
    try {
        return operation();
    } catch (const Failure& failure) {
        throw FileRefused("writing " + output + ": " + failure.what());
    }
}

}  // namespace

FileOutput::FileOutput(const std::string& path, std::optional<FileIdentity> input)
    : path_(path), file_(naming(path, [&] { return OutputFile(path, input); })) {}

void FileOutput::write(std::span<const std::uint8_t> bytes) {
    naming(path_, [&] { file_.write(bytes); });
}

void FileOutput::rewriteAt(std::uint64_t offset, std::span<const std::uint8_t> bytes) {
    naming(path_, [&] { file_.writeAt(offset, bytes); });
}

void FileOutput::commit() {
    naming(path_, [&] { file_.commit(); });
}

StandardOutput::StandardOutput() {
    struct stat info {};
    const int flags = ::fcntl(1, F_GETFL);
    if (::fstat(1, &info) != 0 || !S_ISREG(info.st_mode) || flags < 0 || (flags & O_APPEND)) {
        return;
    }
    const off_t position = ::lseek(1, 0, SEEK_CUR);
    if (position >= 0) start_ = static_cast<std::uint64_t>(position);
}

void StandardOutput::write(std::span<const std::uint8_t> bytes) {
    naming("standard output", [&] { writeAll(1, bytes); });
}

void StandardOutput::rewriteAt(std::uint64_t offset, std::span<const std::uint8_t> bytes) {
    naming("standard output", [&] { writeAllAt(1, *start_ + offset, bytes); });
}

void refuseUnsafeStandardOutput(FileIdentity input) {
    if (::isatty(1) == 1) {
        throw FileRefused("standard output is a terminal; redirect it to a file or a pipe");
    }
    struct stat info {};
    if (::fstat(1, &info) == 0 && FileIdentity{info.st_dev, info.st_ino} == input) {
        throw FileRefused("standard output is the input itself; not written");
    }
}

}  // namespace talveco
