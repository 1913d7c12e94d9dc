// The parts of the platform interface that are the same on every system.
#include <cerrno>
#include <optional>
#include <span>
#include <tuple>

#include "platform/Console.h"
#include "platform/Files.h"
#include "platform/InputFile.h"
#include "platform/Interrupts.h"
#include "platform/OutputFile.h"

namespace talveco {

void Console::line(std::string_view text) {
    write(text);
    endLine();
}

bool IdentityOrder::operator()(const FileIdentity& a, const FileIdentity& b) const noexcept {
    return std::tie(a.device, a.inode) < std::tie(b.device, b.inode);
}

std::string openFailureReason(const Failure& failure) {
    const std::string text = failure.what();
    return failure.errorNumber() == EISDIR ? text + " (a directory)" : text;
}

void writeStandardOutput(std::span<const std::uint8_t> bytes, std::optional<std::uint64_t> offset) {
    if (offset) {
        writeAllAt(1, *offset, bytes);
    } else {
        writeAll(1, bytes);
    }
}

bool isReaderGone(int errorNumber) noexcept {
    return errorNumber == EPIPE;
}

PendingRemoval& PendingRemoval::operator=(PendingRemoval&& other) noexcept {
    if (this != &other) {
        release();
        slot_ = other.slot_;
        other.slot_ = -1;
    }
    return *this;
}

}  // namespace talveco
