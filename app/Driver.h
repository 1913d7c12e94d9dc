// The program's run: banner, usage, names, conversion, total, and the one
// place where failures are reported and turned into the exit status.
#pragma once

#include <span>
#include <string>

#include "platform/Console.h"
#include "wav/SoundSource.h"

namespace talveco {

inline constexpr int kExitSuccess = 0;
inline constexpr int kExitFailure = 1;

// `arguments` are the command-line arguments without the program's name.
// The transcript goes to `console`; `warnings` (standard error) gets a line
// about an input that ended before its announced samples.
int runDriver(std::span<const std::string> arguments, SoundSource& source, Console& console,
              Console& warnings);

}  // namespace talveco
