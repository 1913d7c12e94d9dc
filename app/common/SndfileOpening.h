// Opening a sound with libsndfile from several threads at once.
#pragma once

#include <sndfile.h>

#include <mutex>
#include <string>
#include <utility>

namespace talveco {

// What an open gave: the sound, or (when there is none) libsndfile's reason.
struct SndfileOpening {
    SNDFILE* sound = nullptr;
    std::string failure;
};

inline std::mutex& sndfileOpens() {
    static std::mutex opens;
    return opens;
}

// libsndfile keeps the reason an open failed in one variable for the whole process, and the
// next open anywhere overwrites it ("No Error." after one that worked). With several jobs
// running, opens are therefore made one at a time and the reason read before the next begins.
template <typename Open>
SndfileOpening openSndfile(Open&& open) {
    const std::scoped_lock lock(sndfileOpens());
    SndfileOpening opening{std::forward<Open>(open)(), {}};
    if (opening.sound == nullptr) opening.failure = ::sf_strerror(nullptr);
    return opening;
}

}  // namespace talveco
