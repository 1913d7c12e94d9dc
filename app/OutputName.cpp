#include "app/OutputName.h"

namespace talveco {
namespace {

constexpr std::size_t kMaxInfoName = 255;

// The text after the last of `separators`, or all of it.
std::string_view afterLast(std::string_view text, const char* separators) {
    const auto separator = text.find_last_of(separators);
    return separator == std::string_view::npos ? text : text.substr(separator + 1);
}

}  // namespace

RunNames deriveNames(std::string_view inputPath) {
    const std::string_view fileName = afterLast(inputPath, "\\:");

    // Directories named with forward slashes stay as typed; only the last
    // component is cut to length and loses its extension, so the output
    // lands beside the input and never in another directory.
    std::string_view lastComponent = afterLast(fileName, "/");
    const std::string_view directories = fileName.substr(0, fileName.size() - lastComponent.size());
    lastComponent = lastComponent.substr(0, kMaxInfoName);
    const auto dot = lastComponent.find_last_of('.');

    std::string outputName(directories);
    outputName += lastComponent.substr(0, dot);
    outputName += ".wav";
    return RunNames{std::string(inputPath), std::string(fileName.substr(0, kMaxInfoName)),
                    std::move(outputName)};
}

bool selectsMono(std::string_view argument) {
    return argument.size() == 2 && argument[0] == '-' && (argument[1] == 'm' || argument[1] == 'M');
}

}  // namespace talveco
