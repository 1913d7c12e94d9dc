#include "app/OutputName.h"

namespace talveco {
namespace {

constexpr std::size_t kMaxInfoName = 255;

}  // namespace

RunNames deriveNames(std::string_view inputPath) {
    const auto separator = inputPath.find_last_of("\\:");
    std::string_view fileName =
        separator == std::string_view::npos ? inputPath : inputPath.substr(separator + 1);
    fileName = fileName.substr(0, kMaxInfoName);

    const auto dot = fileName.find_last_of('.');
    std::string outputName(fileName.substr(0, dot));
    outputName += ".wav";
    return RunNames{std::string(inputPath), std::string(fileName), std::move(outputName)};
}

bool selectsMono(std::string_view argument) {
    return argument.size() == 2 && argument[0] == '-' && (argument[1] == 'm' || argument[1] == 'M');
}

}  // namespace talveco
