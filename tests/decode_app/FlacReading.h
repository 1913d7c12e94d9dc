// FLAC bytes decoded from memory with libFLAC, as a player reading a pipe
// would: every frame must be in sync, and the stream must end cleanly.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace talveco::testing {

struct DecodedFlac {
    unsigned channels = 0;
    unsigned rate = 0;
    std::vector<std::int16_t> samples;  // interleaved
    std::vector<std::string> errors;    // what the decoder reported: lost sync, bad CRC...
};

DecodedFlac decodeFlac(std::span<const std::uint8_t> bytes);

}  // namespace talveco::testing
