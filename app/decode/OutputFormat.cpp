#include "app/decode/OutputFormat.h"

#include <sndfile.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <span>
#include <vector>

#include "platform/PathErrors.h"

namespace talveco {
namespace {

// MPEG audio and Opus are defined for these rates only; libsndfile refuses
// the others when the file is opened.
constexpr unsigned kMpegRates[] = {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000};
constexpr unsigned kOpusRates[] = {8000, 12000, 16000, 24000, 48000};

enum class OnePass { Anywhere, IntoPipes, Never };

struct FormatEntry {
    OutputFormat format;
    std::string_view name;  // for --format; empty for Unlisted
    std::string_view displayName;
    std::string_view extension;  // what the program gives its outputs
    std::string_view alias;      // another extension that means the format
    int sndfile;
    // Whether it is written front to back, never going back to a header.
    // FLAC is, through libFLAC's streaming encoder. MP3 is only where
    // libsndfile sees a pipe or socket: elsewhere it leaves room for a frame
    // count and goes back to fill it in, which lands at the end of a file
    // opened to append.
    OnePass onePass;
    std::span<const unsigned> rates;  // empty: any rate
};

// Raw samples are little-endian, as in the WAV files; Ogg holds Vorbis.
constexpr auto kAnywhere = OnePass::Anywhere;
constexpr auto kIntoPipes = OnePass::IntoPipes;
constexpr auto kNever = OnePass::Never;
constexpr int kPcm = SF_FORMAT_PCM_16;
// clang-format off
constexpr std::array kFormats{
    FormatEntry{OutputFormat::Wav,  "wav",  "WAV",        ".wav",  "",     SF_FORMAT_WAV | kPcm,  kAnywhere, {}},
    FormatEntry{OutputFormat::Flac, "flac", "FLAC",       ".flac", "",     SF_FORMAT_FLAC | kPcm, kAnywhere, {}},
    FormatEntry{OutputFormat::Aiff, "aiff", "AIFF",       ".aiff", ".aif", SF_FORMAT_AIFF | kPcm, kNever,    {}},
    FormatEntry{OutputFormat::Ogg,  "ogg",  "Ogg Vorbis", ".ogg",  ".oga", SF_FORMAT_OGG | SF_FORMAT_VORBIS, kAnywhere, {}},
    FormatEntry{OutputFormat::W64,  "w64",  "W64",        ".w64",  "",     SF_FORMAT_W64 | kPcm,  kNever,    {}},
    FormatEntry{OutputFormat::Caf,  "caf",  "CAF",        ".caf",  "",     SF_FORMAT_CAF | kPcm,  kNever,    {}},
    FormatEntry{OutputFormat::Raw,  "raw",  "raw",        ".raw",  ".pcm", SF_FORMAT_RAW | kPcm | SF_ENDIAN_LITTLE, kAnywhere, {}},
    FormatEntry{OutputFormat::Mp3,  "mp3",  "MP3",        ".mp3",  "",     SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III, kIntoPipes, kMpegRates},
    FormatEntry{OutputFormat::Opus, "opus", "Opus",       ".opus", "",     SF_FORMAT_OGG | SF_FORMAT_OPUS, kAnywhere, kOpusRates},
    FormatEntry{OutputFormat::Unlisted, "", "an unlisted format", "", "",  0,                     kNever,    {}},
};
// clang-format on

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

// The extension of the name's last component, with its dot; empty when it
// has none. A leading dot (".hidden") and a trailing one ("take.") make no
// extension.
std::string_view extensionOfName(std::string_view path) {
    const std::string_view name = path.substr(fileNameStart(path));
    const auto dot = name.find_last_of('.');
    if (dot == std::string_view::npos || dot == 0 || dot + 1 == name.size()) return {};
    return name.substr(dot);
}

// "a, b or c".
std::string listed(const std::vector<std::string>& items) {
    std::string text;
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (i > 0) text += i + 1 == items.size() ? " or " : ", ";
        text += items[i];
    }
    return text;
}

bool onePassInto(const FormatEntry& entry, bool intoPipe) {
    return entry.onePass == OnePass::Anywhere || (intoPipe && entry.onePass == OnePass::IntoPipes);
}

// One field of every format there is to choose, "a, b or c".
std::string listOfFormats(std::string_view FormatEntry::*field) {
    std::vector<std::string> items;
    for (const FormatEntry& entry : kFormats) {
        if (!entry.name.empty()) items.emplace_back(entry.*field);
    }
    return listed(items);
}

}  // namespace

std::optional<OutputFormat> formatNamed(std::string_view name) {
    for (const FormatEntry& entry : kFormats) {
        if (!entry.name.empty() && entry.name == name) return entry.format;
    }
    return std::nullopt;
}

std::optional<OutputFormat> formatOfName(const std::string& path) {
    const std::string_view extension = extensionOfName(path);
    if (extension.empty()) return std::nullopt;
    const std::string lower = lowerCase(extension);
    for (const FormatEntry& entry : kFormats) {
        if (entry.extension.empty()) continue;
        if (lower == entry.extension || lower == entry.alias) return entry.format;
    }
    return OutputFormat::Unlisted;
}

std::string_view extensionOf(OutputFormat format) {
    return entryOf(format).extension;
}

int sndfileFormat(OutputFormat format) {
    return entryOf(format).sndfile;
}

std::string formatNameList() {
    return listOfFormats(&FormatEntry::name);
}

std::string_view displayNameOf(OutputFormat format) {
    return entryOf(format).displayName;
}

bool writesInOnePass(OutputFormat format, bool intoPipe) {
    return onePassInto(entryOf(format), intoPipe);
}

std::string onePassFormatList(bool intoPipe) {
    std::vector<std::string> names;
    for (const FormatEntry& entry : kFormats) {
        if (!entry.name.empty() && onePassInto(entry, intoPipe)) names.emplace_back(entry.name);
    }
    return listed(names);
}

bool holdsRate(OutputFormat format, unsigned rate) {
    const std::span<const unsigned> rates = entryOf(format).rates;
    return rates.empty() || std::find(rates.begin(), rates.end(), rate) != rates.end();
}

std::string rateListOf(OutputFormat format) {
    std::vector<std::string> rates;
    for (const unsigned rate : entryOf(format).rates)
        rates.push_back(std::to_string(rate));
    return listed(rates) + " Hz";
}

std::optional<std::string> refusalOfName(const std::string& path) {
    if (formatOfName(path) != OutputFormat::Unlisted) return std::nullopt;
    return unlistedExtensionRefusal(extensionOfName(path));
}

std::string unlistedExtensionRefusal(std::string_view extension) {
    const std::string what = extension.empty()
                                 ? "the output's name ends in an extension"
                                 : "'" + std::string(extension) + "' is the extension";
    return what + " of no format written here; end the name in " +
           listOfFormats(&FormatEntry::extension) + ", or choose the format with --format";
}

}  // namespace talveco
