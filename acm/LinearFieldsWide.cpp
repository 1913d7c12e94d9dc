// Built with -mavx2 (see CMakeLists.txt) and run only where the processor
// reports avx2. Only intrinsics and code of this file run here: an inline
// function from a shared header, compiled with wider instructions than the
// portable build, could be kept by the linker for every caller.
#include <immintrin.h>

#include "acm/LinearFields.h"

namespace talveco {

void decodeLinearFieldsWide(const std::uint8_t* bytes, unsigned firstBit, unsigned width,
                            std::uint16_t step, std::size_t count, std::int32_t* out,
                            std::size_t stride) {
    const auto w = static_cast<int>(width);
    // Each lane reads the four bytes from the one where its field starts
    // and shifts the field down: no lane waits for another.
    __m256i position = _mm256_add_epi32(
        _mm256_mullo_epi32(_mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7), _mm256_set1_epi32(w)),
        _mm256_set1_epi32(static_cast<int>(firstBit)));
    const __m256i advance = _mm256_set1_epi32(8 * w);
    const __m256i lowThree = _mm256_set1_epi32(7);
    const __m256i mask = _mm256_set1_epi32((1 << w) - 1);
    const __m256i bias = _mm256_set1_epi32(1 << (w - 1));
    const __m256i scale = _mm256_set1_epi32(step);
    for (std::size_t i = 0; i < count; i += 8) {
        const __m256i words = _mm256_i32gather_epi32(reinterpret_cast<const int*>(bytes),
                                                     _mm256_srli_epi32(position, 3), 1);
        const __m256i fields =
            _mm256_and_si256(_mm256_srlv_epi32(words, _mm256_and_si256(position, lowThree)), mask);
        const __m256i wide = _mm256_mullo_epi32(_mm256_sub_epi32(fields, bias), scale);
        const __m256i values = _mm256_srai_epi32(_mm256_slli_epi32(wide, 16), 16);
        if (stride == 1) {
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i), values);
        } else {
            alignas(32) std::int32_t lanes[8];
            _mm256_store_si256(reinterpret_cast<__m256i*>(lanes), values);
            std::int32_t* row = out + i * stride;
            for (int k = 0; k < 8; ++k, row += stride)
                *row = lanes[k];
        }
        position = _mm256_add_epi32(position, advance);
    }
}

}  // namespace talveco
