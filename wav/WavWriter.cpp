#include "wav/WavWriter.h"

#include <cerrno>
#include <limits>
#include <memory>
#include <span>

#include "platform/Failure.h"
#include "platform/OutputFile.h"
#include "platform/Pages.h"
#include "wav/ConvertJob.h"

namespace talveco {
namespace {

std::span<const std::uint8_t> asBytes(const std::string& text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// The most data bytes whose RIFF length still fits the 32-bit field.
std::int64_t largestData(std::uint32_t nameLength) {
    return std::int64_t{std::numeric_limits<std::uint32_t>::max()} - nameLength - kRiffOverhead;
}

}  // namespace

std::int64_t writeWavFile(ConvertJob& job, const WavTarget& target, Console& console) {
    job.totalBytes = job.source.size();
    if (job.totalBytes < 0) throw Failure(FailureKind::IoError, EOVERFLOW);
    const auto nameLength = static_cast<std::uint32_t>(target.infoName.size());

    const auto capacity = static_cast<std::size_t>(transferBufferSize(job.totalBytes));
    const auto transferBuffer = std::make_unique_for_overwrite<std::uint8_t[]>(capacity);
    mapPagesNow(transferBuffer.get(), capacity);
    const std::span<std::uint8_t> buffer(transferBuffer.get(), capacity);

    OutputFile file(target.outputName, job.source.inputIdentity());
    WavHeaderTemplate header = target.header;
    header.patchLengths(static_cast<std::uint32_t>(job.totalBytes), nameLength);
    file.write(header.bytes());

    std::int64_t bytesWritten = 0;
    while (const std::size_t got = job.source.read(buffer)) {
        if (got > capacity) throw Failure(FailureKind::IoError, EOVERFLOW);
        if (bytesWritten + static_cast<std::int64_t>(got) > largestData(nameLength)) {
            throw Failure(FailureKind::DiskFull, EFBIG);  // beyond what a WAV file can hold
        }
        file.write(buffer.first(got));
        console.write("#");
        bytesWritten += static_cast<std::int64_t>(got);
    }
    console.endLine();

    InfoChunkTemplate trailer;
    trailer.patchLengths(nameLength);
    file.write(trailer.bytes());
    file.write(asBytes(target.infoName));

    // A source that delivered another amount than it promised gets a header
    // that describes the bytes that are really there.
    if (bytesWritten != job.totalBytes) {
        header.patchLengths(static_cast<std::uint32_t>(bytesWritten), nameLength);
        file.writeAt(0, header.bytes());
    }
    file.commit();
    return bytesWritten;
}

}  // namespace talveco
