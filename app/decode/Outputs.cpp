#include "app/decode/Outputs.h"

#include "app/common/OutputPaths.h"
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

NullDeviceOutput::NullDeviceOutput(const std::string& path)
    : path_(path), device_(naming(path, [&] { return DeviceOutput(path); })) {}

void NullDeviceOutput::write(std::span<const std::uint8_t> bytes) {
    naming(path_, [&] { device_.write(bytes); });
}

void NullDeviceOutput::rewriteAt(std::uint64_t offset, std::span<const std::uint8_t> bytes) {
    naming(path_, [&] { device_.writeAt(offset, bytes); });
}

void StandardOutput::write(std::span<const std::uint8_t> bytes) {
    writeToStandardOutput(bytes);
}

void StandardOutput::rewriteAt(std::uint64_t offset, std::span<const std::uint8_t> bytes) {
    writeToStandardOutput(bytes, *start_ + offset);
}

std::unique_ptr<OutputStream> openOutput(const std::string& target,
                                         std::optional<FileIdentity> input, bool force) {
    if (target == kStandardStreamName) {
        refuseStandardOutputAsInput(input);
        return std::make_unique<StandardOutput>();
    }
    if (checkOutput(target, input, force) == OutputPlace::NullDevice) {
        return std::make_unique<NullDeviceOutput>(target);
    }
    return std::make_unique<FileOutput>(target, input);
}

}  // namespace talveco
