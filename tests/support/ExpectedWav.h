// The bytes a WAV file of this converter must have, written out field by field
// for tests, independently of the writer's own templates.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace talveco::testing {

inline void appendLe(std::vector<std::uint8_t>& out, std::uint32_t value, int width) {
    for (int i = 0; i < width; ++i)
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

// Byte by byte: GCC 12 at -O3 takes a range insert here for an overflow
// (-Wstringop-overflow), which breaks Release builds with warnings as errors.
inline void appendText(std::vector<std::uint8_t>& out, const std::string& text) {
    for (const char c : text)
        out.push_back(static_cast<std::uint8_t>(c));
}

// A complete file: header stating `data.size()` bytes, the data, the trailer
// and `infoName`.
inline std::vector<std::uint8_t> expectedWav(const std::vector<std::uint8_t>& data,
                                             const std::string& infoName, bool mono = false) {
    const auto dataLength = static_cast<std::uint32_t>(data.size());
    const auto nameLength = static_cast<std::uint32_t>(infoName.size());
    std::vector<std::uint8_t> out;
    appendText(out, "RIFF");
    appendLe(out, dataLength + nameLength + 108, 4);
    appendText(out, "WAVEfmt ");
    appendLe(out, 16, 4);
    appendLe(out, 1, 2);
    appendLe(out, mono ? 1 : 2, 2);
    appendLe(out, 22050, 4);
    appendLe(out, mono ? 44100 : 88200, 4);
    appendLe(out, mono ? 2 : 4, 2);
    appendLe(out, 16, 2);
    appendText(out, "data");
    appendLe(out, dataLength, 4);
    out.insert(out.end(), data.begin(), data.end());
    appendText(out, "LIST");
    appendLe(out, nameLength + 64, 4);
    appendText(out, "INFOISFT");
    appendLe(out, 44, 4);
    appendText(out, "Quarnix ACM to WAV Converter by Halvenrod");
    out.insert(out.end(), 3, 0);
    appendText(out, "INAM");
    appendLe(out, nameLength, 4);
    appendText(out, infoName);
    return out;
}

}  // namespace talveco::testing
