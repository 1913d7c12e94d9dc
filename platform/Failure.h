// The one exception type of the converter, shared with the library's users:
// its kind selects the fixed text the user sees, and the generic I/O kind
// carries the operating system's error number as well.
#pragma once

#include <string>

#include "talveco/talveco.h"

namespace talveco {

// The text shown after "Error: " for a failure of this kind.
std::string failureMessage(FailureKind kind, int errorNumber);

// Maps an errno value to the failure the user is told about. ENOENT is always
// "File not found" here; telling a missing directory apart needs the path,
// which only the file operations have.
FailureKind failureKindForErrno(int errorNumber) noexcept;

[[noreturn]] void throwErrno(int errorNumber);

}  // namespace talveco
