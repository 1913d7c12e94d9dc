// What the converter prints, as the tests of its transcript expect it.
#pragma once

namespace talveco::testing {

inline constexpr const char* kBanner = "Quarnix ACM to WAV converter v1.1 beta";

}  // namespace talveco::testing
