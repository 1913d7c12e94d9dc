// Buffers whose pages are mapped in one go.
#pragma once

#include <cstddef>
#include <vector>

namespace talveco {

// Asks the system to map every page of the `size` bytes from `start` now,
// in one call, rather than in a page fault at the first write to each: a
// fault costs a trip into the kernel, several microseconds on a virtual
// machine, and a buffer of a few MiB has hundreds of pages. Only buffers of
// many pages are worth the call; where the system does not offer it, the
// pages are mapped at their first writes as usual.
void mapPagesNow(void* start, std::size_t size);

// `values` resized from empty to `count` zeros, its pages mapped before the
// zeros are written.
template <typename T>
void resizeWithPagesMapped(std::vector<T>& values, std::size_t count) {
    values.reserve(count);
    mapPagesNow(values.data(), count * sizeof(T));
    values.resize(count);
}

}  // namespace talveco
