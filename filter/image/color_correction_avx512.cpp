// Colour correction and the direct map built for AVX-512 (F, BW and VBMI):
// sixteen pixels a step, the curves looked up by byte permutes.  Compiled
// with AVX-512 flags (see CMakeLists.txt), called only on processors that
// have them.
#include "color_correction_rows.h"

#ifdef KELVO_COLOR_X86
#include <immintrin.h>

// GCC 12 warns of its own undefined vectors in the AVX-512 intrinsics.
#ifndef __clang__
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

namespace colour {
namespace {

// The same integer arithmetic as the portable version, sixteen pixels at a
// time: the bytes are spread to lanes and gathered back with byte permutes,
// the last pixels of a row are read and written under a mask, and the
// curves are looked up by byte permutes of the 256-byte tables instead of
// gathers.

// The curve of 256 bytes in four registers.
struct Curve512
{
  __m512i t0, t1, t2, t3;
};

inline Curve512 LoadCurve(const unsigned char *curve)
{
  return {_mm512_loadu_si512(curve), _mm512_loadu_si512(curve + 64), _mm512_loadu_si512(curve + 128),
          _mm512_loadu_si512(curve + 192)};
}

// curve[v] of lanes v (0..255, bytes 1..3 of each lane 0).
inline __m512i LookUp(const Curve512 &c, __m512i v)
{
  const __mmask64 byte0 = 0x1111111111111111ull;
  const __mmask64 high = _mm512_test_epi8_mask(v, _mm512_set1_epi8((char)0x80)) & byte0;
  const __m512i lo = _mm512_maskz_permutex2var_epi8(byte0 & ~high, c.t0, v, c.t1);
  return _mm512_mask_mov_epi8(lo, high, _mm512_permutex2var_epi8(c.t2, v, c.t3));
}

inline __m512i Clamp255x16(__m512i v)
{
  return _mm512_min_epi32(_mm512_max_epi32(v, _mm512_setzero_si512()), _mm512_set1_epi32(255));
}

inline __m512i Twice16(__m512i k) { return _mm512_or_si512(k, _mm512_slli_epi32(k, 16)); }

template <bool kCorrect, bool kMap, bool kFull>
inline void SixteenPixelsAvx512(const RowJob &job, const Curve512 *curves, unsigned char *p,
                                              __mmask64 bytes)
{
  const __m512i in = kFull ? _mm512_loadu_si512(p) : _mm512_maskz_loadu_epi8(bytes, p);
  // Byte n of a lane of pixel k comes from byte 3k + n.
  const __mmask64 byte0 = 0x1111111111111111ull;
  const __m512i spread = _mm512_set_epi32(45, 42, 39, 36, 33, 30, 27, 24, 21, 18, 15, 12, 9, 6, 3, 0);
  __m512i r = _mm512_maskz_permutexvar_epi8(byte0, spread, in);
  __m512i g = _mm512_maskz_permutexvar_epi8(byte0, _mm512_add_epi32(spread, _mm512_set1_epi32(1)), in);
  __m512i b = _mm512_maskz_permutexvar_epi8(byte0, _mm512_add_epi32(spread, _mm512_set1_epi32(2)), in);

  if constexpr (kCorrect)
  {
    const __m512i off = _mm512_set1_epi32(256);
    const __m512i bi = _mm512_add_epi32(_mm512_sub_epi32(b, _mm512_srli_epi32(_mm512_add_epi32(g, r), 1)), off);
    const __m512i gi = _mm512_add_epi32(_mm512_sub_epi32(g, _mm512_srli_epi32(_mm512_add_epi32(b, r), 1)), off);
    const __m512i ri = _mm512_add_epi32(_mm512_sub_epi32(r, _mm512_srli_epi32(_mm512_add_epi32(b, g), 1)), off);
    const __m512i bt = Clamp255x16(_mm512_add_epi32(b, _mm512_i32gather_epi32(bi, job.sat, 4)));
    const __m512i gt = Clamp255x16(_mm512_add_epi32(g, _mm512_i32gather_epi32(gi, job.sat, 4)));
    const __m512i rt = Clamp255x16(_mm512_add_epi32(r, _mm512_i32gather_epi32(ri, job.sat, 4)));
    b = LookUp(curves[0], bt);
    g = LookUp(curves[1], gt);
    r = LookUp(curves[2], rt);
  }

  __m512i out;
  if constexpr (kMap)
  {
    const __m512i f31 = _mm512_set1_epi32(31), one = _mm512_set1_epi32(1);
    // w = fraction + (fraction != 0).
    const __m512i fr = _mm512_and_si512(r, f31), fg = _mm512_and_si512(g, f31), fb = _mm512_and_si512(b, f31);
    const __m512i wr = _mm512_add_epi32(fr, _mm512_min_epu32(fr, one));
    const __m512i wg = _mm512_add_epi32(fg, _mm512_min_epu32(fg, one));
    const __m512i wb = _mm512_add_epi32(fb, _mm512_min_epu32(fb, one));
    const __m512i base = _mm512_add_epi32(
        _mm512_add_epi32(_mm512_mullo_epi16(_mm512_srli_epi32(r, 5), _mm512_set1_epi32(PackedDmapTbl::kStepR)),
                         _mm512_mullo_epi16(_mm512_srli_epi32(g, 5), _mm512_set1_epi32(PackedDmapTbl::kStepG))),
        _mm512_srli_epi32(b, 5));
    const __m512i a = _mm512_max_epi32(_mm512_max_epi32(wb, wg), wr);
    const __m512i c = _mm512_min_epi32(_mm512_min_epi32(wb, wg), wr);
    const __m512i m = _mm512_sub_epi32(_mm512_sub_epi32(_mm512_add_epi32(_mm512_add_epi32(wb, wg), wr), a), c);
    const __m512i stepG = _mm512_set1_epi32(PackedDmapTbl::kStepG), stepB = _mm512_set1_epi32(PackedDmapTbl::kStepB);
    __m512i o1 = _mm512_set1_epi32(PackedDmapTbl::kStepR);
    o1 = _mm512_mask_mov_epi32(o1, _mm512_cmpeq_epi32_mask(wg, a), stepG);
    o1 = _mm512_mask_mov_epi32(o1, _mm512_cmpeq_epi32_mask(wb, a), stepB);
    __m512i s2 = _mm512_set1_epi32(PackedDmapTbl::kStepR);
    s2 = _mm512_mask_mov_epi32(s2, _mm512_cmpeq_epi32_mask(wg, c), stepG);
    s2 = _mm512_mask_mov_epi32(s2, _mm512_cmpeq_epi32_mask(wb, c), stepB);
    const __m512i far = _mm512_add_epi32(base, _mm512_set1_epi32(PackedDmapTbl::kStepAll));
    const uint32_t *t = job.dmap->rgb;
    const __m512i c0 = _mm512_i32gather_epi32(base, t, 4);
    const __m512i c1 = _mm512_i32gather_epi32(_mm512_add_epi32(base, o1), t, 4);
    const __m512i c2 = _mm512_i32gather_epi32(_mm512_sub_epi32(far, s2), t, 4);
    const __m512i c3 = _mm512_i32gather_epi32(far, t, 4);
    const __m512i K0 = Twice16(_mm512_sub_epi32(_mm512_set1_epi32(32), a)), K1 = Twice16(_mm512_sub_epi32(a, m)),
                  K2 = Twice16(_mm512_sub_epi32(m, c)), K3 = Twice16(c);
    const __m512i rb = _mm512_set1_epi32(0x00FF00FF);
    __m512i sRB = _mm512_mullo_epi16(_mm512_and_si512(c0, rb), K0);
    sRB = _mm512_add_epi16(sRB, _mm512_mullo_epi16(_mm512_and_si512(c1, rb), K1));
    sRB = _mm512_add_epi16(sRB, _mm512_mullo_epi16(_mm512_and_si512(c2, rb), K2));
    sRB = _mm512_add_epi16(sRB, _mm512_mullo_epi16(_mm512_and_si512(c3, rb), K3));
    __m512i sG = _mm512_mullo_epi16(_mm512_srli_epi16(c0, 8), K0);
    sG = _mm512_add_epi16(sG, _mm512_mullo_epi16(_mm512_srli_epi16(c1, 8), K1));
    sG = _mm512_add_epi16(sG, _mm512_mullo_epi16(_mm512_srli_epi16(c2, 8), K2));
    sG = _mm512_add_epi16(sG, _mm512_mullo_epi16(_mm512_srli_epi16(c3, 8), K3));
    out = _mm512_or_si512(_mm512_srli_epi16(sRB, 5), _mm512_slli_epi16(_mm512_srli_epi16(sG, 5), 8));
  }
  else
    out = _mm512_or_si512(_mm512_or_si512(r, _mm512_slli_epi32(g, 8)), _mm512_slli_epi32(b, 16));

  // Byte 3k + n comes from byte n of the lane of pixel k.
  const __m512i gather = _mm512_set_epi8(0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  //
                                         62, 61, 60, 58, 57, 56, 54, 53, 52, 50, 49, 48,  //
                                         46, 45, 44, 42, 41, 40, 38, 37, 36, 34, 33, 32,  //
                                         30, 29, 28, 26, 25, 24, 22, 21, 20, 18, 17, 16,  //
                                         14, 13, 12, 10, 9, 8, 6, 5, 4, 2, 1, 0);
  const __m512i packed = _mm512_permutexvar_epi8(gather, out);
  if constexpr (kFull)
  {
    _mm256_storeu_si256((__m256i *)p, _mm512_castsi512_si256(packed));
    _mm_storeu_si128((__m128i *)(p + 32), _mm512_extracti32x4_epi32(packed, 2));
  }
  else
    _mm512_mask_storeu_epi8(p, bytes, packed);
}

template <bool kCorrect, bool kMap>
void RowAvx512Body(const RowJob &job, unsigned char *row, int width)
{
  Curve512 curves[3];
  if constexpr (kCorrect)
    for (int c = 0; c < 3; c++)
      curves[c] = LoadCurve(job.colortable + 256 * c);
  int x = 0;
  // Whole loads read 64 bytes, 16 beyond the 16 pixels.
  for (; x + 22 <= width; x += 16)
    SixteenPixelsAvx512<kCorrect, kMap, true>(job, curves, row + 3 * (size_t)x, 0);
  for (; x + 16 <= width; x += 16)
    SixteenPixelsAvx512<kCorrect, kMap, false>(job, curves, row + 3 * (size_t)x, 0xFFFFFFFFFFFFull);
  if (x < width)
    SixteenPixelsAvx512<kCorrect, kMap, false>(job, curves, row + 3 * (size_t)x, (1ull << (3 * (width - x))) - 1);
}

}  // namespace

void RowAvx512(const RowJob &job, unsigned char *row, int width)
{
  if (job.colortable && job.dmap)
    RowAvx512Body<true, true>(job, row, width);
  else if (job.colortable)
    RowAvx512Body<true, false>(job, row, width);
  else if (job.dmap)
    RowAvx512Body<false, true>(job, row, width);
}

}  // namespace colour

#ifndef __clang__
#pragma GCC diagnostic pop
#endif
#endif
