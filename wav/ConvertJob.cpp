#include "wav/ConvertJob.h"

#include "wav/WavWriter.h"

namespace talveco {

std::int32_t transferBufferSize(std::int32_t totalBytes) {
    constexpr std::int32_t granule = ConvertJob::bufferGranule;
    constexpr std::int32_t largest = ConvertJob::maxGranules * granule;
    if (totalBytes > largest) return largest;
    if (totalBytes % granule != 0) return (totalBytes / granule + 1) * granule;
    return totalBytes;
}

std::int64_t runConversion(SoundSource& source, const std::string& inputPath,
                           const WavTarget& target, Console& console) {
    source.open(inputPath);
    ConvertJob job{source};
    return writeWavFile(job, target, console);
}

}  // namespace talveco
