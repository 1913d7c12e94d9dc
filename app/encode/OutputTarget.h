// Where an input's ACM file goes, and the checks made before any of it is written.
#pragma once

#include <optional>
#include <string>

#include "platform/FileIdentity.h"

namespace talveco {

// The input path with the extension of its last component replaced by ".acm" (appended
// when it has none), so the file lands beside its input.
std::string acmPathFor(const std::string& inputPath);

// Raises InputRefused when `target` is the input itself (also through a link), a directory,
// a device or pipe, or an existing file that `force` does not allow to replace.
void refuseUnsafeTarget(const std::string& target, FileIdentity input, bool force);

}  // namespace talveco
