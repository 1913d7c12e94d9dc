// Decoding of one ACM stream into 16-bit samples.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "platform/ByteSource.h"

namespace talveco {

// The fields of the 14-byte file header.
struct AcmHeader {
    std::uint32_t sampleCount = 0;  // 16-bit values in the stream, all channels together
    std::uint16_t channels = 0;
    std::uint16_t sampleRate = 0;
    std::uint32_t levels = 0;  // transform levels, 0 to 15
    std::uint32_t rows = 0;    // rows per block, 0 to 4095
};

class AcmDecoder;

// Reads and checks the header from `input` (which must outlive the decoder)
// and allocates every buffer decoding needs. Raises "File does not appear to
// be a valid ACM file" for a bad signature, for a stream that announces
// samples but has no rows, and for a sample count of 2^30 or more (its byte
// size does not fit a WAV length); "Out of memory" when the buffers cannot be
// had.
std::unique_ptr<AcmDecoder> createAcmDecoder(ByteSource& input);

}  // namespace talveco
