#include "acm/TransformKernels.h"

#include <vector>

namespace talveco {
namespace kernels {
extern const TransformKernels lanes4;
#ifdef TALVECO_WIDE_KERNELS
extern const TransformKernels lanes8;
extern const TransformKernels lanes16;
#endif
}  // namespace kernels

namespace {

std::vector<const TransformKernels*> kernelsThisProcessorRuns() {
    std::vector<const TransformKernels*> sets{&kernels::lanes4};
#ifdef TALVECO_WIDE_KERNELS
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx2")) sets.push_back(&kernels::lanes8);
    if (__builtin_cpu_supports("avx512f")) sets.push_back(&kernels::lanes16);
#endif
    return sets;
}

const std::vector<const TransformKernels*>& runnableKernels() {
    static const std::vector<const TransformKernels*> sets = kernelsThisProcessorRuns();
    return sets;
}

}  // namespace

const TransformKernels& bestKernels() {
    static const TransformKernels& best = *runnableKernels().back();
    return best;
}

std::span<const TransformKernels* const> availableKernels() {
    return runnableKernels();
}

}  // namespace talveco
