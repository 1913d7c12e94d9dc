// The WAV file writer: header, data pulled from the job's source, LIST/INFO
// trailer.
#pragma once

#include <cstdint>
#include <string>

#include "platform/Console.h"
#include "wav/WavTemplates.h"

namespace talveco {

struct ConvertJob;

// Where and how the WAV file is written.
struct WavTarget {
    std::string outputName;    // the file to create
    std::string infoName;      // the INAM text of the trailer
    WavHeaderTemplate header;  // format fields as the command line chose them
};

// Writes the whole WAV file for an opened job and returns the data bytes
// written. The file appears under target.outputName only once it is complete;
// its header always describes the data it actually holds.
std::int64_t writeWavFile(ConvertJob& job, const WavTarget& target, Console& console);

}  // namespace talveco
