#include "wav/WavTemplates.h"

#include <algorithm>
#include <string_view>

namespace talveco {
namespace {

void putText(std::span<std::uint8_t> bytes, std::size_t offset, std::string_view text) {
    std::copy(text.begin(), text.end(), bytes.begin() + static_cast<std::ptrdiff_t>(offset));
}

void putLe16(std::span<std::uint8_t> bytes, std::size_t offset, std::uint16_t value) {
    bytes[offset] = static_cast<std::uint8_t>(value);
    bytes[offset + 1] = static_cast<std::uint8_t>(value >> 8);
}

void putLe32(std::span<std::uint8_t> bytes, std::size_t offset, std::uint32_t value) {
    for (std::size_t i = 0; i < 4; ++i) {
        bytes[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

// Header field offsets.
constexpr std::size_t kRiffLength = 4;
constexpr std::size_t kChannels = 22;
constexpr std::size_t kBytesPerSecond = 28;
constexpr std::size_t kBlockAlign = 32;
constexpr std::size_t kDataLength = 40;

// Trailer field offsets.
constexpr std::size_t kListLength = 4;
constexpr std::size_t kNameLength = 68;

}  // namespace

WavHeaderTemplate::WavHeaderTemplate() : bytes_{} {
    putText(bytes_, 0, "RIFF");
    putText(bytes_, 8, "WAVE");
    putText(bytes_, 12, "fmt ");
    putLe32(bytes_, 16, 16);  // format chunk length
    putLe16(bytes_, 20, 1);   // PCM
    putLe16(bytes_, kChannels, 2);
    putLe32(bytes_, 24, 22050);  // samples per second
    putLe32(bytes_, kBytesPerSecond, 88200);
    putLe16(bytes_, kBlockAlign, 4);
    putLe16(bytes_, 34, 16);  // bits per sample
    putText(bytes_, 36, "data");
}

std::array<std::uint8_t, WavHeaderTemplate::kSize> pcmWavHeader(unsigned channels,
                                                                std::uint32_t rate,
                                                                std::uint32_t dataBytes) {
    WavHeaderTemplate header;
    std::array<std::uint8_t, WavHeaderTemplate::kSize> bytes;
    std::copy(header.bytes().begin(), header.bytes().end(), bytes.begin());
    const std::uint32_t frameBytes = 2 * channels;
    putLe16(bytes, kChannels, static_cast<std::uint16_t>(channels));
    putLe32(bytes, 24, rate);
    putLe32(bytes, kBytesPerSecond, rate * frameBytes);
    putLe16(bytes, kBlockAlign, static_cast<std::uint16_t>(frameBytes));
    const bool unknown = dataBytes == kUnknownWavLength;
    putLe32(bytes, kDataLength, dataBytes);
    putLe32(bytes, kRiffLength, unknown ? kUnknownWavLength : dataBytes + 36);
    return bytes;
}

void WavHeaderTemplate::applyMono() {
    putLe16(bytes_, kChannels, 1);
    putLe32(bytes_, kBytesPerSecond, 44100);
    putLe16(bytes_, kBlockAlign, 2);
}

void WavHeaderTemplate::patchLengths(std::uint32_t dataBytes, std::uint32_t nameLength) {
    putLe32(bytes_, kDataLength, dataBytes);
    putLe32(bytes_, kRiffLength, dataBytes + nameLength + kRiffOverhead);
}

InfoChunkTemplate::InfoChunkTemplate() : bytes_{} {
    putText(bytes_, 0, "LIST");
    putText(bytes_, 8, "INFO");
    putText(bytes_, 12, "ISFT");
    putLe32(bytes_, 16, 44);
    // 41 characters; the three bytes after them stay zero.
    putText(bytes_, 20, "Quarnix ACM to WAV Converter by Halvenrod");
    putText(bytes_, 64, "INAM");
}

void InfoChunkTemplate::patchLengths(std::uint32_t nameLength) {
    putLe32(bytes_, kNameLength, nameLength);
    putLe32(bytes_, kListLength, nameLength + kSize - 8);
}

}  // namespace talveco
