// Turns a failed open or create of a path into the Failure the user sees.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace talveco {

// ENOENT means "File not found" when the file's directory exists and
// "Invalid filename" when a directory on the way is missing.
[[noreturn]] void throwPathError(const std::string& path, int errorNumber);

// The directory part of a path as the operating system reads it ("." when
// the path has no slash).
std::string directoryOf(const std::string& path);

// Where the last part of a path, its file's own name, begins: after the last
// separator the operating system reads ('/'; on Windows '\' too, and the ':'
// of "C:name").
std::size_t fileNameStart(std::string_view path);

}  // namespace talveco
