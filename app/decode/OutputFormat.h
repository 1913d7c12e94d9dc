// The file formats talveco-decode writes: WAV with its own writer, FLAC into a
// pipe with libFLAC, the others through libsndfile.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace talveco {

// `Unlisted` is the format of an output whose name ends in an extension none
// of the others has: such an output is refused rather than written as WAV
// under a name that promises something else.
enum class OutputFormat { Wav, Flac, Aiff, Ogg, W64, Caf, Raw, Mp3, Opus, Unlisted };

// The format a --format argument names ("wav", "flac", ...).
std::optional<OutputFormat> formatNamed(std::string_view name);
// The format an output name's extension stands for (case ignored): nothing
// for a name without an extension, Unlisted for an extension of no format.
std::optional<OutputFormat> formatOfName(const std::string& path);
// The extension an output of `format` is given, with its dot.
std::string_view extensionOf(OutputFormat format);
// libsndfile's format code for the format (WAV included, for reading back).
int sndfileFormat(OutputFormat format);

// The names --format takes, "wav, flac, ... or opus", for help and messages.
std::string formatNameList();
// The format's name as messages give it ("AIFF", "Opus").
std::string_view displayNameOf(OutputFormat format);

// Whether the format can be written front to back with no going back to
// bytes already written: into a pipe or socket when `intoPipe`, else into a
// file that cannot be written again (one opened to append).
bool writesInOnePass(OutputFormat format, bool intoPipe);
// The names of those formats, "wav, flac, ... or opus".
std::string onePassFormatList(bool intoPipe);
// Whether the format can hold sound at `rate` Hz.
bool holdsRate(OutputFormat format, unsigned rate);
// The rates a format with a fixed set holds, "8000, 12000, ... or 48000 Hz".
std::string rateListOf(OutputFormat format);

// The refusal of an output name whose extension is of no format, naming the
// extension and the formats there are; nothing when the name is writable.
std::optional<std::string> refusalOfName(const std::string& path);
// The same for the extension given (".mp4"), or, with none given, for an
// output whose name is not at hand.
std::string unlistedExtensionRefusal(std::string_view extension);

}  // namespace talveco
