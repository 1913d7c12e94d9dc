// The names of one run, derived from the input path as typed.
#pragma once

#include <string>
#include <string_view>

namespace talveco {

struct RunNames {
    std::string inputPath;   // argument 1, unchanged
    std::string infoName;    // the file-name part, at most 255 characters
    std::string outputName;  // infoName with its extension replaced by ".wav"
};

// Backslash and colon separate directories (DOS-style names); a forward
// slash does not, so "dir/x.acm" becomes "dir/x.wav".
RunNames deriveNames(std::string_view inputPath);

// Argument 2 selects mono when it reads "-M" after upper-casing a to z.
bool selectsMono(std::string_view argument);

}  // namespace talveco
