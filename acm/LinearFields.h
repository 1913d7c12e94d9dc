// Linear columns decoded eight fields at a time on 32-byte vectors, where
// the processor has them. Internal to the unpacker.
#pragma once

#include <cstddef>
#include <cstdint>

namespace talveco {

// Whether decodeLinearFieldsWide runs on this processor (and was built).
bool wideLinearFieldsAvailable();

// Decodes `count` (a multiple of 4) fields of `width` bits (1 to 16), packed
// one after another from bit `firstBit` (0 to 7, lowest first) of `bytes`,
// which must hold 16 more bytes after the one where the last field
// starts. A field f stands for the amplitude of index k = f - 2^(width - 1):
// k times `step` when every band the fields reach has that step, wrapped to
// 16 bits. Field i goes to out[i * stride], sign-extended.
void decodeLinearFieldsWide(const std::uint8_t* bytes, unsigned firstBit, unsigned width,
                            std::uint16_t step, std::size_t count, std::int32_t* out,
                            std::size_t stride);

// The same with k times the step of k's band, the sixteen band steps as
// AmplitudeTable::bandStepWords() gives them: for any table, at the cost of
// finding each index's band.
void decodeLinearFieldsWide(const std::uint8_t* bytes, unsigned firstBit, unsigned width,
                            const std::uint64_t* bandStepWords, std::size_t count,
                            std::int32_t* out, std::size_t stride);

}  // namespace talveco
