#pragma once

#include <cstdint>

#include "platform/Console.h"
#include "wav/ConvertJob.h"

namespace talveco {

// Writes the whole WAV file for an opened job and returns the data bytes
// written. The file appears under target.outputName only once it is complete;
// its header always describes the data it actually holds.
std::int64_t writeWavFile(ConvertJob& job, const WavTarget& target, Console& console);

}  // namespace talveco
