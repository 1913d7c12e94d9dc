// What the Win32 implementation of the platform shares between its files:
// names converted between the programs' UTF-8 and the system's UTF-16, and
// system error codes turned into the errno values the rest of the code and
// the user's messages are built on.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

#include "platform/FileIdentity.h"

namespace talveco::win32 {

// UTF-8 to UTF-16 and back; invalid sequences become U+FFFD.
std::wstring wide(std::string_view utf8);
std::string utf8(std::wstring_view utf16);

// The errno value that means what the Win32 error `code` means, so that the
// same failure reads the same on both systems ("File not found", "Disk full",
// ...); nothing for a code without one.
std::optional<int> errnoFor(DWORD code) noexcept;

// The number a failure of `code` carries: its errno value, or the code
// itself, which is then shown as "I/O error N".
int errorNumberFor(DWORD code) noexcept;

// Raises the Failure for the Win32 error `code`; the path-related kinds
// ("Invalid filename" for a missing folder) when it came from using `path`.
[[noreturn]] void throwSystemError(DWORD code);
[[noreturn]] void throwPathFailure(const std::string& path, DWORD code);

// The error for std::system_error: its errno value where it has one, so that
// it reads as on Linux, else the system's own text.
std::error_code errorCodeFor(DWORD code) noexcept;

// The Win32 handle behind a C runtime descriptor (the descriptors are what
// libsndfile and the rest of the interface pass around).
HANDLE handleOf(int fd) noexcept;

// The identity of the file open as `handle`: its volume serial number and
// file index on a disk. Pipes and consoles have neither; each handle of one
// is given an identity of its own, so that the pipe on standard input is not
// taken for the one on standard output.
FileIdentity identityOf(HANDLE handle) noexcept;

// Wraps `handle` in a C runtime descriptor that owns it, in binary mode.
// Closes the handle and raises "Too many open files" when that fails.
int descriptorFor(HANDLE handle, int flags);

// Whether `name` (the last part of a path) is one of the device names every
// folder holds on Windows: CON, PRN, AUX, NUL, COM1-9, LPT1-9, with or
// without an extension and in any case ("nul.wav" is the null device).
bool isReservedDeviceName(std::string_view name) noexcept;

// The last part of a path, after the last '/' or '\' (or "C:").
std::string_view lastPart(std::string_view path) noexcept;

// Reads or writes at `offset` without moving the file position that plain
// reads and writes go on from.
DWORD readAt(HANDLE handle, std::uint64_t offset, void* data, DWORD size, DWORD& got) noexcept;
DWORD writeAt(HANDLE handle, std::uint64_t offset, const void* data, DWORD size,
              DWORD& put) noexcept;

}  // namespace talveco::win32
