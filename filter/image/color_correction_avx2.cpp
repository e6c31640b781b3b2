// Colour correction and the direct map built for AVX2: eight pixels a
// step in 32-bit lanes.  Compiled with AVX2 flags (see CMakeLists.txt),
// called only on processors that have them.
#include "color_correction_rows.h"

#ifdef KELVO_COLOR_X86
#include <immintrin.h>

#include <cstring>

namespace colour {
namespace {

// Eight pixels at a time in 32-bit lanes, with the same integer arithmetic
// as CorrectRow and Change3DRow: the table look-ups are gathers, the rest
// is branch-free.  The tetrahedron is picked as Change3DRow picks it
// (where fractions tie, any choice only moves a corner of weight 0).
// Every product of a table byte and a weight, and every sum of four with
// weights adding up to 32, is at most 32 * 255 and fits 16 bits, so the
// red and blue of an entry are weighed together in the two halves of a
// lane and green in the low half of another.
inline __m256i Clamp255(__m256i v)
{
  return _mm256_min_epi32(_mm256_max_epi32(v, _mm256_setzero_si256()), _mm256_set1_epi32(255));
}

// A weight (0..32) in both 16-bit halves of its lane.
inline __m256i Twice(__m256i k) { return _mm256_or_si256(k, _mm256_slli_epi32(k, 16)); }

template <bool kCorrect, bool kMap>
inline void EightPixelsAvx2(const RowJob &job, unsigned char *p)
{
  // Pixels 0..3 in the low 128 bits (12 bytes each half), 4..7 in the high.
  const __m256i in = _mm256_permutevar8x32_epi32(
      _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_loadu_si128((const __m128i *)p)),
                              _mm_loadl_epi64((const __m128i *)(p + 16)), 1),
      _mm256_setr_epi32(0, 1, 2, 2, 3, 4, 5, 5));
  __m256i r = _mm256_shuffle_epi8(in, _mm256_setr_epi8(0, -1, -1, -1, 3, -1, -1, -1, 6, -1, -1, -1, 9, -1, -1, -1,  //
                                                           0, -1, -1, -1, 3, -1, -1, -1, 6, -1, -1, -1, 9, -1, -1, -1));
  __m256i g = _mm256_shuffle_epi8(in, _mm256_setr_epi8(1, -1, -1, -1, 4, -1, -1, -1, 7, -1, -1, -1, 10, -1, -1, -1,  //
                                                           1, -1, -1, -1, 4, -1, -1, -1, 7, -1, -1, -1, 10, -1, -1, -1));
  __m256i b = _mm256_shuffle_epi8(in, _mm256_setr_epi8(2, -1, -1, -1, 5, -1, -1, -1, 8, -1, -1, -1, 11, -1, -1, -1,  //
                                                           2, -1, -1, -1, 5, -1, -1, -1, 8, -1, -1, -1, 11, -1, -1, -1));
  if constexpr (kCorrect)
  {
    const __m256i off = _mm256_set1_epi32(256);
    const __m256i bi = _mm256_add_epi32(_mm256_sub_epi32(b, _mm256_srli_epi32(_mm256_add_epi32(g, r), 1)), off);
    const __m256i gi = _mm256_add_epi32(_mm256_sub_epi32(g, _mm256_srli_epi32(_mm256_add_epi32(b, r), 1)), off);
    const __m256i ri = _mm256_add_epi32(_mm256_sub_epi32(r, _mm256_srli_epi32(_mm256_add_epi32(b, g), 1)), off);
    const __m256i bt = Clamp255(_mm256_add_epi32(b, _mm256_i32gather_epi32((const int *)job.sat, bi, 4)));
    const __m256i gt = Clamp255(_mm256_add_epi32(g, _mm256_i32gather_epi32((const int *)job.sat, gi, 4)));
    const __m256i rt = Clamp255(_mm256_add_epi32(r, _mm256_i32gather_epi32((const int *)job.sat, ri, 4)));
    b = _mm256_i32gather_epi32((const int *)job.curve[0], bt, 4);
    g = _mm256_i32gather_epi32((const int *)job.curve[1], gt, 4);
    r = _mm256_i32gather_epi32((const int *)job.curve[2], rt, 4);
  }

  __m256i out;
  if constexpr (kMap)
  {
    const __m256i f31 = _mm256_set1_epi32(31), zero = _mm256_setzero_si256();
    // w = fraction + (fraction != 0): subtracting the all-ones of a compare.
    const __m256i fr = _mm256_and_si256(r, f31), fg = _mm256_and_si256(g, f31), fb = _mm256_and_si256(b, f31);
    const __m256i wr = _mm256_sub_epi32(fr, _mm256_cmpgt_epi32(fr, zero));
    const __m256i wg = _mm256_sub_epi32(fg, _mm256_cmpgt_epi32(fg, zero));
    const __m256i wb = _mm256_sub_epi32(fb, _mm256_cmpgt_epi32(fb, zero));
    // C(0,0,0): red steps 81 entries, green 9, blue 1 (products fit 16 bits
    // and the high halves of the lanes are 0).
    const __m256i base = _mm256_add_epi32(
        _mm256_add_epi32(_mm256_mullo_epi16(_mm256_srli_epi32(r, 5), _mm256_set1_epi32(PackedDmapTbl::kStepR)),
                         _mm256_mullo_epi16(_mm256_srli_epi32(g, 5), _mm256_set1_epi32(PackedDmapTbl::kStepG))),
        _mm256_srli_epi32(b, 5));
    const __m256i a = _mm256_max_epi32(_mm256_max_epi32(wb, wg), wr);
    const __m256i c = _mm256_min_epi32(_mm256_min_epi32(wb, wg), wr);
    const __m256i m = _mm256_sub_epi32(_mm256_sub_epi32(_mm256_add_epi32(_mm256_add_epi32(wb, wg), wr), a), c);
    const __m256i stepR = _mm256_set1_epi32(PackedDmapTbl::kStepR), stepG = _mm256_set1_epi32(PackedDmapTbl::kStepG),
                  stepB = _mm256_set1_epi32(PackedDmapTbl::kStepB);
    const __m256i o1 = _mm256_blendv_epi8(_mm256_blendv_epi8(stepR, stepG, _mm256_cmpeq_epi32(wg, a)), stepB,
                                          _mm256_cmpeq_epi32(wb, a));
    const __m256i s2 = _mm256_blendv_epi8(_mm256_blendv_epi8(stepR, stepG, _mm256_cmpeq_epi32(wg, c)), stepB,
                                          _mm256_cmpeq_epi32(wb, c));
    const __m256i all = _mm256_set1_epi32(PackedDmapTbl::kStepAll);
    const int *t = (const int *)job.dmap->rgb;
    const __m256i c0 = _mm256_i32gather_epi32(t, base, 4);
    const __m256i c1 = _mm256_i32gather_epi32(t, _mm256_add_epi32(base, o1), 4);
    const __m256i c2 = _mm256_i32gather_epi32(t, _mm256_sub_epi32(_mm256_add_epi32(base, all), s2), 4);
    const __m256i c3 = _mm256_i32gather_epi32(t, _mm256_add_epi32(base, all), 4);
    const __m256i k0 = _mm256_sub_epi32(_mm256_set1_epi32(32), a), k1 = _mm256_sub_epi32(a, m),
                  k2 = _mm256_sub_epi32(m, c), k3 = c;
    const __m256i rb = _mm256_set1_epi32(0x00FF00FF);
    const __m256i K0 = Twice(k0), K1 = Twice(k1), K2 = Twice(k2), K3 = Twice(k3);
    __m256i sRB = _mm256_mullo_epi16(_mm256_and_si256(c0, rb), K0);
    sRB = _mm256_add_epi16(sRB, _mm256_mullo_epi16(_mm256_and_si256(c1, rb), K1));
    sRB = _mm256_add_epi16(sRB, _mm256_mullo_epi16(_mm256_and_si256(c2, rb), K2));
    sRB = _mm256_add_epi16(sRB, _mm256_mullo_epi16(_mm256_and_si256(c3, rb), K3));
    // Green: the entries' byte 3 is 0, so a 16-bit shift leaves green alone
    // in the low half.
    __m256i sG = _mm256_mullo_epi16(_mm256_srli_epi16(c0, 8), K0);
    sG = _mm256_add_epi16(sG, _mm256_mullo_epi16(_mm256_srli_epi16(c1, 8), K1));
    sG = _mm256_add_epi16(sG, _mm256_mullo_epi16(_mm256_srli_epi16(c2, 8), K2));
    sG = _mm256_add_epi16(sG, _mm256_mullo_epi16(_mm256_srli_epi16(c3, 8), K3));
    out = _mm256_or_si256(_mm256_srli_epi16(sRB, 5), _mm256_slli_epi16(_mm256_srli_epi16(sG, 5), 8));
  }
  else
    out = _mm256_or_si256(_mm256_or_si256(r, _mm256_slli_epi32(g, 8)), _mm256_slli_epi32(b, 16));

  // Back to 24 bytes: 12 in each half, then side by side.
  const __m256i packed = _mm256_permutevar8x32_epi32(
      _mm256_shuffle_epi8(out, _mm256_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1,  //
                                                0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1)),
      _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 7, 7));
  _mm_storeu_si128((__m128i *)p, _mm256_castsi256_si128(packed));
  _mm_storel_epi64((__m128i *)(p + 16), _mm256_extracti128_si256(packed, 1));
}

template <bool kCorrect, bool kMap>
void RowAvx2Body(const RowJob &job, unsigned char *row, int width)
{
  int x = 0;
  for (; x + 8 <= width; x += 8)
    EightPixelsAvx2<kCorrect, kMap>(job, row + 3 * (size_t)x);
  if (x < width)
  {
    // The last one to seven pixels through a copy; the rest of it is
    // mapped too, and dropped.
    unsigned char tail[24] = {};
    const size_t bytes = 3 * (size_t)(width - x);
    memcpy(tail, row + 3 * (size_t)x, bytes);
    EightPixelsAvx2<kCorrect, kMap>(job, tail);
    memcpy(row + 3 * (size_t)x, tail, bytes);
  }
}

}  // namespace

void RowAvx2(const RowJob &job, unsigned char *row, int width)
{
  if (job.colortable && job.dmap)
    RowAvx2Body<true, true>(job, row, width);
  else if (job.colortable)
    RowAvx2Body<true, false>(job, row, width);
  else if (job.dmap)
    RowAvx2Body<false, true>(job, row, width);
}

}  // namespace colour
#endif
