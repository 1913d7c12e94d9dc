#include "platform/Processors.h"

#include <bit>
#include <thread>

#include "platform/windows/Win32.h"

namespace talveco {

unsigned usableProcessors() {
    DWORD_PTR process = 0;
    DWORD_PTR system = 0;
    if (::GetProcessAffinityMask(::GetCurrentProcess(), &process, &system) && process != 0) {
        return static_cast<unsigned>(std::popcount(static_cast<std::uint64_t>(process)));
    }
    // A process spread over several processor groups has no single mask.
    const unsigned online = std::thread::hardware_concurrency();
    return online > 0 ? online : 1;
}

}  // namespace talveco
