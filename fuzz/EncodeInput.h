// How one input of the encode fuzzer is laid out: a few bytes of settings at
// the front, then the samples, 16-bit little-endian. The seed generator
// writes the front with appendEncodeSettings(), the fuzzer reads it with
// takeEncodeSettings(), so the two agree by construction.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "talveco/encoder.h"

namespace talveco::fuzzing {

inline constexpr std::size_t kEncodeSettingsBytes = 7;

// What the front bytes choose. Geometries stay small enough that every
// input is quick: up to 9 levels and 40 rows.
struct EncodeRun {
    EncoderSettings settings;
    unsigned channels = 1;
    std::uint8_t pieceSeed = 0;  // the sizes of the pieces write() is given
};

struct EncodeSettingsBytes {
    std::uint8_t mode = 0;      // even: constant quality; odd: average bitrate
    std::uint8_t amount = 0;    // quality 0 to 10, or kbit/s 1 to 256
    std::uint8_t levels = 0;    // 0: automatic; else levels - 1, up to 9
    std::uint8_t rows = 0;      // 0: automatic; else rows, up to 40
    std::uint8_t channels = 0;  // 1 + channels % 3
    std::uint8_t pieceSeed = 0;
    std::uint8_t reserved = 0;
};

inline void appendEncodeSettings(std::vector<std::uint8_t>& out, const EncodeSettingsBytes& s) {
    out.insert(out.end(),
               {s.mode, s.amount, s.levels, s.rows, s.channels, s.pieceSeed, s.reserved});
}

inline EncodeRun takeEncodeSettings(std::span<const std::uint8_t> front) {
    EncodeRun run;
    if (front.size() < kEncodeSettingsBytes) return run;
    if (front[0] % 2 == 0) {
        run.settings.quality = double(front[1] % 101) / 10.0;
    } else {
        run.settings.bitrateKbps = 1.0 + double(front[1]);
    }
    if (front[2] != 0) run.settings.levels = (front[2] - 1u) % 10u;
    if (front[3] != 0) run.settings.rows = 1u + (front[3] - 1u) % 40u;
    run.channels = 1u + front[4] % 3u;
    run.pieceSeed = front[5];
    return run;
}

}  // namespace talveco::fuzzing
