// Built with -mavx2 (see CMakeLists.txt) and run only where the processor
// reports avx2. Only intrinsics and code of this file run here: an inline
// function from a shared header, compiled with wider instructions than the
// portable build, could be kept by the linker for every caller.
#include <immintrin.h>

#include <cstring>

#include "acm/LinearFields.h"

namespace talveco {

namespace {

// Values of `count` (at most 8) lanes to out[0], out[stride], ...
template <typename Vector>
void storeLanes(Vector values, std::size_t count, std::int32_t* out, std::size_t stride) {
    alignas(32) std::int32_t lanes[8];
    std::memcpy(lanes, &values, sizeof values);
    for (std::size_t k = 0; k < count; ++k, out += stride)
        *out = lanes[k];
}

// The amplitudes of indices when every band they reach has the same step:
// k times that step, wrapped to 16 bits and sign-extended.
struct OneStep {
    __m256i step;

    __m256i operator()(__m256i k) const {
        const __m256i wide = _mm256_mullo_epi32(k, step);
        return _mm256_srai_epi32(_mm256_slli_epi32(wide, 16), 16);
    }
};

// The amplitudes of indices in general: k times the step of k's band, the
// bit width of k, or of ~k when k is negative.
struct BandSteps {
    __m256i low;   // the steps of bands 0 to 7
    __m256i high;  // of bands 8 to 15

    __m256i operator()(__m256i k) const {
        const __m256i magnitude = _mm256_xor_si256(k, _mm256_srai_epi32(k, 31));
        // The bit width from the exponent of the magnitude as a float (exact
        // below 2^24); zero has none.
        const __m256i exponent =
            _mm256_srli_epi32(_mm256_castps_si256(_mm256_cvtepi32_ps(magnitude)), 23);
        const __m256i band = _mm256_max_epi32(_mm256_sub_epi32(exponent, _mm256_set1_epi32(126)),
                                              _mm256_setzero_si256());
        const __m256i step = _mm256_blendv_epi8(_mm256_permutevar8x32_epi32(low, band),
                                                _mm256_permutevar8x32_epi32(high, band),
                                                _mm256_cmpgt_epi32(band, _mm256_set1_epi32(7)));
        return OneStep{step}(k);
    }
};

template <typename Amplitude>
void decodeFields(const std::uint8_t* bytes, unsigned firstBit, unsigned width,
                  const Amplitude& amplitude, std::size_t count, std::int32_t* out,
                  std::size_t stride) {
    const auto w = static_cast<int>(width);
    // Each lane takes the four bytes from the one where its field starts
    // and shifts the field down: no lane waits for another.
    __m256i position = _mm256_add_epi32(
        _mm256_mullo_epi32(_mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7), _mm256_set1_epi32(w)),
        _mm256_set1_epi32(static_cast<int>(firstBit)));
    const __m256i advance = _mm256_set1_epi32(8 * w);
    const __m256i lowThree = _mm256_set1_epi32(7);
    const __m256i mask = _mm256_set1_epi32((1 << w) - 1);
    const __m256i bias = _mm256_set1_epi32(1 << (w - 1));
    // Fields 0 to 3 of a group come from the 16 bytes at the first one's
    // byte, fields 4 to 7 from the 16 at the fifth one's: four fields of up
    // to 16 bits, starting anywhere in their first byte, lie within them.
    // A byte shuffle then brings each field's four bytes into its lane.
    const __m256i byteOfLane = _mm256_setr_epi8(0, 0, 0, 0, 4, 4, 4, 4, 8, 8, 8, 8, 12, 12, 12, 12,
                                                0, 0, 0, 0, 4, 4, 4, 4, 8, 8, 8, 8, 12, 12, 12, 12);
    const __m256i fourBytes = _mm256_set1_epi32(0x03020100);
    const __m256i halfStarts = _mm256_setr_epi32(0, 0, 0, 0, 4, 4, 4, 4);
    std::size_t i = 0;
    for (; i + 8 <= count; i += 8) {
        const std::size_t first = (firstBit + i * width) / 8;
        const std::size_t fifth = (firstBit + (i + 4) * width) / 8;
        const __m256i source = _mm256_inserti128_si256(
            _mm256_castsi128_si256(
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + first))),
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + fifth)), 1);
        const __m256i starts = _mm256_srli_epi32(position, 3);
        const __m256i relative =
            _mm256_sub_epi32(starts, _mm256_permutevar8x32_epi32(starts, halfStarts));
        const __m256i control =
            _mm256_add_epi32(_mm256_shuffle_epi8(relative, byteOfLane), fourBytes);
        const __m256i held = _mm256_shuffle_epi8(source, control);
        const __m256i fields =
            _mm256_and_si256(_mm256_srlv_epi32(held, _mm256_and_si256(position, lowThree)), mask);
        const __m256i values = amplitude(_mm256_sub_epi32(fields, bias));
        if (stride == 1) {
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i), values);
        } else {
            storeLanes(values, 8, out + i * stride, stride);
        }
        position = _mm256_add_epi32(position, advance);
    }
    if (i < count) {
        // Four left: the same on the low half, from the 16 bytes at the
        // first one's byte.
        const __m128i low = _mm256_castsi256_si128(position);
        const __m128i source =
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + (firstBit + i * width) / 8));
        const __m128i starts = _mm_srli_epi32(low, 3);
        const __m128i relative = _mm_sub_epi32(starts, _mm_shuffle_epi32(starts, 0));
        const __m128i control =
            _mm_add_epi32(_mm_shuffle_epi8(relative, _mm256_castsi256_si128(byteOfLane)),
                          _mm256_castsi256_si128(fourBytes));
        const __m128i held = _mm_shuffle_epi8(source, control);
        const __m128i fields = _mm_and_si128(
            _mm_srlv_epi32(held, _mm_and_si128(low, _mm256_castsi256_si128(lowThree))),
            _mm256_castsi256_si128(mask));
        const __m256i index =
            _mm256_zextsi128_si256(_mm_sub_epi32(fields, _mm256_castsi256_si128(bias)));
        storeLanes(amplitude(index), 4, out + i * stride, stride);
    }
}

}  // namespace

void decodeLinearFieldsWide(const std::uint8_t* bytes, unsigned firstBit, unsigned width,
                            std::uint16_t step, std::size_t count, std::int32_t* out,
                            std::size_t stride) {
    decodeFields(bytes, firstBit, width, OneStep{_mm256_set1_epi32(step)}, count, out, stride);
}

void decodeLinearFieldsWide(const std::uint8_t* bytes, unsigned firstBit, unsigned width,
                            const std::uint64_t* bandStepWords, std::size_t count,
                            std::int32_t* out, std::size_t stride) {
    // Sixteen 16-bit steps, band 0 lowest in memory (x86 is little-endian).
    const auto* steps = reinterpret_cast<const __m128i*>(bandStepWords);
    const BandSteps amplitude{_mm256_cvtepu16_epi32(_mm_loadu_si128(steps)),
                              _mm256_cvtepu16_epi32(_mm_loadu_si128(steps + 1))};
    decodeFields(bytes, firstBit, width, amplitude, count, out, stride);
}

}  // namespace talveco
