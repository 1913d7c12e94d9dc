#include "platform/Pages.h"

namespace talveco {

// Windows commits a buffer's pages as it is allocated and offers no request
// to map them ahead; they are mapped at their first writes.
void mapPagesNow(void* start, std::size_t size) {
    (void)start;
    (void)size;
}

}  // namespace talveco
