// The kernels on 32-byte vectors, built with -mavx2 (see CMakeLists.txt)
// and run only where the processor reports avx2.
#define TALVECO_KERNEL_LANES 8
#define TALVECO_KERNEL_SET lanes8
#define TALVECO_KERNEL_NAME "bytes32"
#include "acm/VectorKernels.cpp"
