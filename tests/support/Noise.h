// A small deterministic generator (xorshift32): the files made from it are
// the same on every machine and with every standard library.
#pragma once

#include <cstdint>

namespace talveco::testing {

class Noise {
  public:
    explicit Noise(std::uint32_t seed) : state_(seed == 0 ? 1 : seed) {}

    std::uint32_t next() {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 17;
        state_ ^= state_ << 5;
        return state_;
    }

  private:
    std::uint32_t state_;
};

}  // namespace talveco::testing
