// One conversion: a sound source bound to the WAV writer.
#pragma once

#include <cstdint>
#include <string>

#include "platform/Console.h"
#include "wav/SoundSource.h"
#include "wav/WavWriter.h"

namespace talveco {

struct ConvertJob {
    // The transfer buffer is sized in granules, and never exceeds
    // maxGranules of them (1 MiB).
    static constexpr std::int32_t bufferGranule = 65536;
    static constexpr std::int32_t maxGranules = 16;

    SoundSource& source;
    std::int32_t totalBytes = 0;  // what size() promised
};

// The transfer buffer for `totalBytes` of data: the whole data rounded up to
// the next granule, at most maxGranules granules; a multiple of a granule
// stays as it is (0 included).
std::int32_t transferBufferSize(std::int32_t totalBytes);

// Opens `source` on `inputPath` and writes its data as a WAV file. Prints one
// "#" per chunk and ends the progress line. Returns the data bytes written.
std::int64_t runConversion(SoundSource& source, const std::string& inputPath,
                           const WavTarget& target, Console& console);

}  // namespace talveco
