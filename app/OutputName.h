// The names of one run, derived from the input path as typed.
#pragma once

#include <string>
#include <string_view>

namespace talveco {

struct RunNames {
    std::string inputPath;   // argument 1, unchanged
    std::string infoName;    // the file-name part, at most 255 characters
    std::string outputName;  // the file to write: see deriveNames
};

// Backslash and colon separate directories as in DOS-style names, and the
// file-name part after the last of them becomes infoName. The output is
// written relative to the current directory: it keeps the directories a
// forward slash names ("dir/x.acm" becomes "dir/x.wav"), while only the text
// after the last slash is cut to 255 characters and has its extension
// replaced, so that "v1.2/track" becomes "v1.2/track.wav".
RunNames deriveNames(std::string_view inputPath);

// Argument 2 selects mono when it reads "-M" after upper-casing a to z.
bool selectsMono(std::string_view argument);

}  // namespace talveco
