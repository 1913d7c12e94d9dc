// The back part of a convert fuzzer input: the mono option and the name of
// the input file, taken from the end of the data. The seed generator writes
// it with appendRunTail(), the fuzzer reads it with takeRunTail().
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace talveco::fuzzing {

// Names are made of these: letters, the extension dot, the two directory
// separators of the DOS names the program knows, and no slash, so that every
// name is one file in the scratch directory.
inline constexpr char kNameCharacters[] = "ab.\\:-X";
inline constexpr std::size_t kNameAlphabet = sizeof kNameCharacters - 1;
inline constexpr std::size_t kMaxNameLength = 300;

struct RunTail {
    bool mono = false;
    std::string name;
};

template <typename Provider>
RunTail takeRunTail(Provider& provider) {
    RunTail tail;
    tail.mono = (provider.template ConsumeIntegral<std::uint8_t>() & 1) != 0;
    const std::size_t length =
        1 + provider.template ConsumeIntegral<std::uint16_t>() % kMaxNameLength;
    for (std::size_t i = 0; i < length; ++i) {
        tail.name +=
            kNameCharacters[provider.template ConsumeIntegral<std::uint8_t>() % kNameAlphabet];
    }
    return tail;
}

// `name` must be 1 to kMaxNameLength characters of kNameCharacters.
inline void appendRunTail(std::vector<std::uint8_t>& input, const RunTail& tail) {
    const auto length = static_cast<std::uint16_t>(tail.name.size() - 1);
    std::vector<std::uint8_t> bytes = {static_cast<std::uint8_t>(tail.mono ? 1 : 0),
                                       static_cast<std::uint8_t>(length >> 8),
                                       static_cast<std::uint8_t>(length)};
    for (const char c : tail.name) {
        const std::string alphabet = kNameCharacters;
        bytes.push_back(static_cast<std::uint8_t>(alphabet.find(c)));
    }
    // Taken from the end in this order, so stored reversed.
    input.insert(input.end(), bytes.rbegin(), bytes.rend());
}

}  // namespace talveco::fuzzing
