// The checks made on an input's ACM output before any of it is written.
#pragma once

#include <string>

#include "app/common/OutputPaths.h"
#include "platform/FileIdentity.h"

namespace talveco {

// Raises FileRefused when `target` is standard output and that is the input, or when the file
// `target` is the input itself (also through a link), a directory, a device or pipe other than
// the null device, or exists and `force` does not allow to replace it. Returns where the
// stream goes.
OutputPlace refuseUnsafeTarget(const std::string& target, FileIdentity input, bool force);

}  // namespace talveco
