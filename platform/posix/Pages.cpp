#include "platform/Pages.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>

namespace talveco {

void mapPagesNow(void* start, std::size_t size) {
#ifdef MADV_POPULATE_WRITE
    constexpr std::size_t worthwhile = 64 * 1024;  // bytes: 16 pages of 4 KiB
    if (start == nullptr || size < worthwhile) return;
    const long pageSize = ::sysconf(_SC_PAGESIZE);
    if (pageSize <= 0) return;
    const auto begin = reinterpret_cast<std::uintptr_t>(start);
    const auto firstPage = begin & ~(static_cast<std::uintptr_t>(pageSize) - 1);
    // The first page may hold other data of the process too; mapping it
    // changes nothing for them. A failure (a kernel without this request)
    // only leaves the faults to come one at a time, so it is not reported.
    (void)::madvise(reinterpret_cast<void*>(firstPage), begin + size - firstPage,
                    MADV_POPULATE_WRITE);
#else
    (void)start;
    (void)size;
#endif
}

}  // namespace talveco
