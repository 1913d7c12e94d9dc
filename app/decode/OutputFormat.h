// The file formats talveco-decode writes: WAV with its own writer, the others
// through libsndfile.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace talveco {

enum class OutputFormat { Wav, Flac, Aiff, Ogg, W64, Caf, Raw };

// The format a --format argument names ("wav", "flac", ...).
std::optional<OutputFormat> formatNamed(std::string_view name);
// The format an output name's extension stands for, if any (case ignored).
std::optional<OutputFormat> formatOfName(const std::string& path);
// The extension an output of `format` is given, with its dot.
std::string_view extensionOf(OutputFormat format);
// libsndfile's format code for the format (WAV included, for reading back).
int sndfileFormat(OutputFormat format);

}  // namespace talveco
