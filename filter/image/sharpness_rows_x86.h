// The skin tests of sharpening in AVX2 registers, eight pixels a step, for
// the versions built for AVX2 and AVX-512 (sharpness_avx2.cpp,
// sharpness_avx512.cpp), which include it compiled for their processor.
#pragma once

#include "sharpness_rows.h"

#include <immintrin.h>

namespace sharpen {
namespace {

// The cells of eight pixels by one gather; the pixels of mixed cells then
// one by one as SkinRun does them.  Each step stores 32 bytes, of which the
// next step overwrites the last 8; the skin array has room for them past
// the row.
static inline __attribute__((always_inline)) void SkinAvx2(const RowArgs &a)
{
  const int end = a.width - 2;
  int x = 2;
  for (; x + 8 <= end; x += 8)
  {
    const unsigned char *p = a.r[2] + 3 * (size_t)x;
    // Pixels 0..3 in the low 128 bits (12 bytes each half), 4..7 in the high.
    const __m256i in = _mm256_permutevar8x32_epi32(
        _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_loadu_si128((const __m128i *)p)),
                                _mm_loadl_epi64((const __m128i *)(p + 16)), 1),
        _mm256_setr_epi32(0, 1, 2, 2, 3, 4, 5, 5));
    const __m256i r = _mm256_shuffle_epi8(in, _mm256_setr_epi8(0, -1, -1, -1, 3, -1, -1, -1, 6, -1, -1, -1, 9, -1, -1, -1,
                                                               0, -1, -1, -1, 3, -1, -1, -1, 6, -1, -1, -1, 9, -1, -1, -1));
    const __m256i g = _mm256_shuffle_epi8(in, _mm256_setr_epi8(1, -1, -1, -1, 4, -1, -1, -1, 7, -1, -1, -1, 10, -1, -1, -1,
                                                               1, -1, -1, -1, 4, -1, -1, -1, 7, -1, -1, -1, 10, -1, -1, -1));
    const __m256i b = _mm256_shuffle_epi8(in, _mm256_setr_epi8(2, -1, -1, -1, 5, -1, -1, -1, 8, -1, -1, -1, 11, -1, -1, -1,
                                                               2, -1, -1, -1, 5, -1, -1, -1, 8, -1, -1, -1, 11, -1, -1, -1));
    const __m256i high5 = _mm256_set1_epi32(0xF8);
    const __m256i index = _mm256_or_si256(
        _mm256_or_si256(_mm256_slli_epi32(_mm256_and_si256(r, high5), 7), _mm256_slli_epi32(_mm256_and_si256(g, high5), 2)),
        _mm256_srli_epi32(b, 3));
    const __m256i state =
        _mm256_and_si256(_mm256_i32gather_epi32((const int *)a.cells, index, 1), _mm256_set1_epi32(0xFF));
    // Each state three times: 12 bytes from each half, side by side.
    const __m256i spread = _mm256_permutevar8x32_epi32(
        _mm256_shuffle_epi8(state, _mm256_setr_epi8(0, 0, 0, 4, 4, 4, 8, 8, 8, 12, 12, 12, -1, -1, -1, -1,  //
                                                    0, 0, 0, 4, 4, 4, 8, 8, 8, 12, 12, 12, -1, -1, -1, -1)),
        _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 7, 7));
    unsigned char *skin = a.skin + 3 * (size_t)x;
    _mm256_storeu_si256((__m256i *)skin, spread);
    const unsigned mixed =
        (unsigned)_mm256_movemask_ps(_mm256_castsi256_ps(_mm256_cmpeq_epi32(state, _mm256_set1_epi32(kCellMixed))));
    for (unsigned m = mixed; m != 0; m &= m - 1)
    {
      const int k = __builtin_ctz(m);
      skin[3 * k] = skin[3 * k + 1] = skin[3 * k + 2] = MixedSkin(a, p + 3 * k);
    }
  }
  SkinRun(a, x, end);
}

}  // namespace
}  // namespace sharpen
