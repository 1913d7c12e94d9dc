// One run of talveco-decode: every input file decoded (or tested, or
// described), on several threads when asked, each failure reported with the
// file's name on standard error and turned into the exit status.
#pragma once

#include <span>
#include <string>
#include <vector>

#include "app/decode/DecodeFile.h"
#include "app/decode/DecodeOptions.h"
#include "platform/Console.h"

namespace talveco {

inline constexpr int kDecodeSuccess = 0;
inline constexpr int kDecodeFileFailed = 1;
inline constexpr int kDecodeUsageError = 2;

// Each input's output and format. Raises UsageError, before any work, when two
// inputs would write one output or an output is another input of the run.
std::vector<FileTask> planTasks(const DecodeOptions& options);

// `arguments` are the command-line arguments without the program's name.
// Help, version and --info lines go to `out` (standard output), everything
// else the run says to `messages` (standard error).
int runDecoder(std::span<const std::string> arguments, Console& out, Console& messages);

}  // namespace talveco
