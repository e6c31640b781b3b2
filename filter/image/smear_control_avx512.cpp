// Smear control built for AVX-512 (F, BW, VL, DQ, VBMI): the pair of rows
// with its per-byte step sixteen bytes at a time and the tone curves by
// byte permutes; the smoothing as for AVX2.  Compiled with AVX-512 flags
// (see CMakeLists.txt), called only on processors that have them.
#include "smear_rows.h"

#ifdef KELVO_SMEAR_X86
#include "smear_rows_x86.h"

#ifndef __clang__
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"  // GCC 12's AVX-512 headers
#endif

namespace smear {
namespace {

// The tone curves by byte permutes (AVX-512 VBMI), 64 bytes a step: each
// curve is two 128-byte halves looked up by the low seven bits of the byte
// and chosen by the eighth, and the three channels' results are merged by
// the channel of each byte position.  A step starts 64 bytes, one channel
// position, after the last, so the channel masks turn with it.
void ToneRowVbmi(const unsigned char *row, size_t pixels, const unsigned char *lut, int32_t *comp)
{
  const size_t n = 3 * pixels;
  __m512i half[3][4];
  for (int c = 0; c < 3; c++)
    for (int q = 0; q < 4; q++)
      half[c][q] = _mm512_loadu_si512(lut + 256 * c + 64 * q);
  // mask[k][c]: the positions of channel c in a step whose first byte is of
  // channel k.
  __mmask64 mask[3][3] = {};
  for (int k = 0; k < 3; k++)
    for (int j = 0; j < 64; j++)
      mask[k][(k + j) % 3] |= (__mmask64)1 << j;
  size_t i = 0;
  for (int k = 0; i + 64 <= n; i += 64, k = k == 2 ? 0 : k + 1)
  {
    const __m512i idx = _mm512_loadu_si512(row + i);
    const __mmask64 high = _mm512_movepi8_mask(idx);
    __m512i v = _mm512_setzero_si512();
    for (int c = 0; c < 3; c++)
    {
      const __m512i lo = _mm512_permutex2var_epi8(half[c][0], idx, half[c][1]);
      const __m512i hi = _mm512_permutex2var_epi8(half[c][2], idx, half[c][3]);
      v = _mm512_mask_mov_epi8(v, mask[k][c], _mm512_mask_blend_epi8(high, lo, hi));
    }
    _mm512_storeu_si512(comp + i, _mm512_cvtepu8_epi32(_mm512_castsi512_si128(v)));
    _mm512_storeu_si512(comp + i + 16, _mm512_cvtepu8_epi32(_mm512_extracti32x4_epi32(v, 1)));
    _mm512_storeu_si512(comp + i + 32, _mm512_cvtepu8_epi32(_mm512_extracti32x4_epi32(v, 2)));
    _mm512_storeu_si512(comp + i + 48, _mm512_cvtepu8_epi32(_mm512_extracti32x4_epi32(v, 3)));
  }
  // The rest, under 64 bytes, one by one.
  for (; i < n; i++)
    comp[i] = lut[256 * (i % 3) + row[i]];
}

}  // namespace

__attribute__((flatten)) void PairAvx512(const RowArgs &a, const RowArgs &b)
{
  PairBody<PairSmootherAvx2, ToneRowVbmi, SplitPlanesX86>(a, b);
}

}  // namespace smear
#endif
