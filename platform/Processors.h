// How many processors this process may run on.
#pragma once

namespace talveco {

// The processors in this process's affinity mask (as `taskset` or a
// container's CPU set leave it), which can be fewer than the machine has;
// at least 1.
unsigned usableProcessors();

}  // namespace talveco
