// The encoder's bit writer, for tests that write streams bit by bit.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "encoder/BitWriter.h"

namespace talveco::testing {

using talveco::BitWriter;

// The bytes of a stream given as a bit string in stream order.
inline std::vector<std::uint8_t> bytesFromBitString(std::string_view bits) {
    BitWriter writer;
    writer.writeBitString(bits);
    return writer.bytes();
}

}  // namespace talveco::testing
