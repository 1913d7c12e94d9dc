// One run of talveco-encode: every input file encoded, on several threads when asked, each
// failure reported with the file's name on standard error and turned into the exit status;
// what the files say comes in their order.
#pragma once

#include <optional>
#include <span>
#include <string>

#include "platform/Console.h"

namespace talveco {

inline constexpr int kEncodeSuccess = 0;
inline constexpr int kEncodeFileFailed = 1;
inline constexpr int kEncodeUsageError = 2;

// `arguments` are the command-line arguments without the program's name. Help and version go
// to `out` (standard output), everything else the run says to `messages` (standard error).
// `progressColumns`, the width of the terminal on `messages`, allows the progress line, which
// only a terminal should get.
int runEncoder(std::span<const std::string> arguments, Console& out, Console& messages,
               std::optional<unsigned> progressColumns);

}  // namespace talveco
