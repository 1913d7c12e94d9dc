// Turns a failed open or create of a path into the Failure the user sees.
#pragma once

#include <string>

namespace talveco {

// ENOENT means "File not found" when the file's directory exists and
// "Invalid filename" when a directory on the way is missing.
[[noreturn]] void throwPathError(const std::string& path, int errorNumber);

// The directory part of a path as the operating system reads it ("." when
// the path has no slash).
std::string directoryOf(const std::string& path);

}  // namespace talveco
