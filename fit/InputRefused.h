// The refusal of an input that cannot be made into the stream wanted.
#pragma once

#include <stdexcept>

namespace talveco {

// An input that opens but cannot be encoded (not audio, too many channels, no fold or
// resampling to the stream asked for, ...); what() says why, in the words talveco-encode
// prints.
class InputRefused : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

}  // namespace talveco
