// Reads WAV files the converter wrote with tools that share no code with it:
// Python's standard `wave` module and libsndfile's `sndfile-info`.
#pragma once

#include <filesystem>
#include <string>

namespace talveco::testing {

struct WavExpectation {
    int channels = 2;
    std::size_t dataBytes = 0;
    std::size_t nameLength = 0;  // an odd INAM length earns one expected warning
};

// Empty when both readers accept the file as expected; otherwise what they
// objected to.
std::string independentReadersComplaints(const std::filesystem::path& wav,
                                         const WavExpectation& expected);

}  // namespace talveco::testing
