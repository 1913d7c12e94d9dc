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
int runDriver(std::span<const std::string> arguments, SoundSource& source, Console& console);

}  // namespace talveco
