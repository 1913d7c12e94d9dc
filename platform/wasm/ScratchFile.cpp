// The encoder's scratch room in the WebAssembly build, which has no file
// system: all of it stays in the module's memory, which is what a browser or
// node gives such a module anyway (running out of it is the C interface's
// "Out of memory", as any failed allocation).
#include <algorithm>
#include <cerrno>
#include <utility>

#include "platform/Failure.h"

// The file of the native scratch room goes unused here.
#pragma clang diagnostic ignored "-Wunused-private-field"
#include "platform/ScratchFile.h"

namespace talveco {

// No folder holds scratch data here; the name only shows in messages about
// a scratch file, which this build never makes.
std::string temporaryDirectory() {
    return "memory";
}

const char* temporaryDirectoryVariable() {
    return "TMPDIR";
}

ScratchFile::ScratchFile(std::string directory) : directory_(std::move(directory)) {}

ScratchFile::~ScratchFile() = default;

void ScratchFile::moveToFile() {}

void ScratchFile::append(std::span<const std::byte> bytes) {
    held_.insert(held_.end(), bytes.begin(), bytes.end());
    size_ += bytes.size();
}

void ScratchFile::read(std::uint64_t offset, std::span<std::byte> out) const {
    if (offset + out.size() > size_) throw Failure(FailureKind::IoError, EINVAL);
    std::copy_n(held_.begin() + static_cast<std::ptrdiff_t>(offset), out.size(), out.begin());
}

}  // namespace talveco
