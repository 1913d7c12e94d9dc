// Output names: where an output goes by default, and the checks the programs
// make on a name before any work is done, so that a run never destroys its
// input or a file it was not asked to replace.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "platform/FileIdentity.h"

namespace talveco {

// A file the run will not read or write as asked; what() says why.
class FileRefused : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// `path` with the extension of its last component replaced by `extension`
// (appended when it has none; a leading dot starts a name, not an extension),
// so that the output lands beside its input: "dir/a.acm" -> "dir/a.wav".
std::string withExtension(const std::string& path, std::string_view extension);

// Raises FileRefused when `target` is the input itself (also through a link),
// a directory, a device or pipe, or an existing file that `force` does not
// allow to replace.
void refuseUnsafeOutput(const std::string& target, std::optional<FileIdentity> input, bool force);

// Creates `folder` and its missing parents, so that -d may name a folder that
// does not exist yet; raises FileRefused, saying why, when it cannot be made.
void makeOutputFolder(const std::string& folder);

// The identity of the file at `path`, if there is one.
std::optional<FileIdentity> identityOf(const std::string& path);

}  // namespace talveco
