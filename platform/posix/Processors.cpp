#include "platform/Processors.h"

#include <sched.h>

#include <thread>

namespace talveco {

unsigned usableProcessors() {
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    if (sched_getaffinity(0, sizeof allowed, &allowed) == 0) {
        const int count = CPU_COUNT(&allowed);
        if (count > 0) return static_cast<unsigned>(count);
    }
    // A mask larger than cpu_set_t holds (over 1024 processors), or no mask
    // at all: the machine's count.
    const unsigned online = std::thread::hardware_concurrency();
    return online > 0 ? online : 1;
}

}  // namespace talveco
