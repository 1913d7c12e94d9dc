#include "platform/ScratchFile.h"

#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <string>
#include <utility>

#include "platform/Failure.h"
#include "platform/OutputFile.h"
#include "platform/windows/Win32.h"

namespace talveco {
namespace {

// A file that the system deletes when its last handle closes, however the
// process ends (FILE_FLAG_DELETE_ON_CLOSE): nothing to register for an
// interrupt. Returns -1, with the Win32 error kept, when none can be made.
int openDeletedOnClose(const std::string& directory, DWORD& error) {
    const std::string stem =
        directory + "\\.talveco-scratch-" + std::to_string(::GetCurrentProcessId()) + "-";
    for (unsigned attempt = 0; attempt < 1000; ++attempt) {
        const HANDLE handle = ::CreateFileW(
            win32::wide(stem + std::to_string(attempt)).c_str(), GENERIC_READ | GENERIC_WRITE,
            FILE_SHARE_DELETE, nullptr, CREATE_NEW,
            FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
        if (handle != INVALID_HANDLE_VALUE) return win32::descriptorFor(handle, _O_RDWR);
        error = ::GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) return -1;
    }
    return -1;
}

}  // namespace

// The user's temporary folder (%TMP%, %TEMP%, ...), as Windows chooses it.
std::string temporaryDirectory() {
    wchar_t buffer[MAX_PATH + 1] = {};
    const DWORD length = ::GetTempPathW(MAX_PATH + 1, buffer);
    std::string directory = length > 0 ? win32::utf8({buffer, length}) : std::string(".");
    while (directory.size() > 3 && (directory.back() == '\\' || directory.back() == '/'))
        directory.pop_back();
    return directory;
}

const char* temporaryDirectoryVariable() {
    return "TMP";
}

ScratchFile::ScratchFile(std::string directory) : directory_(std::move(directory)) {}

ScratchFile::~ScratchFile() {
    if (fd_ >= 0) ::_close(fd_);
}

void ScratchFile::moveToFile() {
    DWORD error = ERROR_SUCCESS;
    if (!directory_.empty()) fd_ = openDeletedOnClose(directory_, error);
    if (fd_ < 0) fd_ = openDeletedOnClose(temporaryDirectory(), error);
    if (fd_ < 0) {
        throw Failure(FailureKind::IoError,
                      "no scratch file could be made in " +
                          (directory_.empty() ? "" : directory_ + " or ") + temporaryDirectory() +
                          " (system error " + std::to_string(error) + "); set " +
                          std::string(temporaryDirectoryVariable()) + " to a folder with room");
    }
    writeAllAt(fd_, 0, {reinterpret_cast<const std::uint8_t*>(held_.data()), held_.size()});
    std::vector<std::byte>().swap(held_);
}

void ScratchFile::read(std::uint64_t offset, std::span<std::byte> out) const {
    if (offset + out.size() > size_) throw Failure(FailureKind::IoError, EINVAL);
    if (fd_ < 0) {
        std::copy_n(held_.begin() + static_cast<std::ptrdiff_t>(offset), out.size(), out.begin());
        return;
    }
    const HANDLE handle = win32::handleOf(fd_);
    while (!out.empty()) {
        const auto size = static_cast<DWORD>(std::min<std::size_t>(out.size(), 1u << 30));
        DWORD got = 0;
        const DWORD error = win32::readAt(handle, offset, out.data(), size, got);
        if (error != ERROR_SUCCESS) win32::throwSystemError(error);
        if (got == 0) throw Failure(FailureKind::IoError, EIO);
        out = out.subspan(got);
        offset += got;
    }
}

}  // namespace talveco
