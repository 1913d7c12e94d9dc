#include "app/decode/OutputFormat.h"

#include <sndfile.h>

#include <algorithm>
#include <array>
#include <cctype>

namespace talveco {
namespace {

struct FormatEntry {
    OutputFormat format;
    std::string_view name;
    std::string_view extension;  // what the program gives its outputs
    std::string_view alias;      // another extension that means the format
    int sndfile;
};

// Raw samples are little-endian, as in the WAV files; Ogg holds Vorbis.
constexpr std::array kFormats{
    FormatEntry{OutputFormat::Wav, "wav", ".wav", "", SF_FORMAT_WAV | SF_FORMAT_PCM_16},
    FormatEntry{OutputFormat::Flac, "flac", ".flac", "", SF_FORMAT_FLAC | SF_FORMAT_PCM_16},
    FormatEntry{OutputFormat::Aiff, "aiff", ".aiff", ".aif", SF_FORMAT_AIFF | SF_FORMAT_PCM_16},
    FormatEntry{OutputFormat::Ogg, "ogg", ".ogg", ".oga", SF_FORMAT_OGG | SF_FORMAT_VORBIS},
    FormatEntry{OutputFormat::W64, "w64", ".w64", "", SF_FORMAT_W64 | SF_FORMAT_PCM_16},
    FormatEntry{OutputFormat::Caf, "caf", ".caf", "", SF_FORMAT_CAF | SF_FORMAT_PCM_16},
    FormatEntry{OutputFormat::Raw, "raw", ".raw", ".pcm",
                SF_FORMAT_RAW | SF_FORMAT_PCM_16 | SF_ENDIAN_LITTLE},
};

const FormatEntry& entryOf(OutputFormat format) {
    return *std::find_if(kFormats.begin(), kFormats.end(),
                         [format](const FormatEntry& entry) { return entry.format == format; });
}

std::string lowerCase(std::string_view text) {
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lower;
}

}  // namespace

std::optional<OutputFormat> formatNamed(std::string_view name) {
    for (const FormatEntry& entry : kFormats) {
        if (entry.name == name) return entry.format;
    }
    return std::nullopt;
}

std::optional<OutputFormat> formatOfName(const std::string& path) {
    const auto dot = path.find_last_of('.');
    const auto slash = path.find_last_of('/');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
    const std::string extension = lowerCase(std::string_view(path).substr(dot));
    for (const FormatEntry& entry : kFormats) {
        if (extension == entry.extension || extension == entry.alias) return entry.format;
    }
    return std::nullopt;
}

std::string_view extensionOf(OutputFormat format) {
    return entryOf(format).extension;
}

int sndfileFormat(OutputFormat format) {
    return entryOf(format).sndfile;
}

}  // namespace talveco
