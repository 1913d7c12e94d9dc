// The kernels on 64-byte vectors, built with -mavx512f (see CMakeLists.txt)
// and run only where the processor reports avx512f.
#define TALVECO_KERNEL_LANES 16
#define TALVECO_KERNEL_SET lanes16
#define TALVECO_KERNEL_NAME "bytes64"
#include "acm/VectorKernels.cpp"
