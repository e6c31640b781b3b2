// Smear control's steps in AVX2 registers (the sideways smoothing, the
// per-byte step, the split into planes), for the versions built for AVX2
// and AVX-512 (smear_control_avx2.cpp, smear_control_avx512.cpp), which
// include it compiled for their processor.
#pragma once

#include "smear_rows.h"

#include <immintrin.h>

namespace smear {
namespace {

static inline __m256i Load2(const int32_t *lo, const int32_t *hi)
{
  return _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_loadu_si128((const __m128i *)lo)),
                                 _mm_loadu_si128((const __m128i *)hi), 1);
}

static inline __m128i Load1(const int32_t *p) { return _mm_loadu_si128((const __m128i *)p); }

// A value the compiler cannot see through: a multiply by it stays one
// multiply, where the compiler would make shifts and adds of a known
// constant (more instructions, and on the smoothing's chain a longer wait).
template <class V> static inline V Opaque(V v)
{
  __asm__("" : "+x"(v));
  return v;
}

// The steps p' = (150 * (p + n) + 724 * c) >> 10 (short) and
// p' = (510 * (p + n) + 4 * c) >> 10 (middle, long) of SmoothRow, in 128 or
// 256 bits.  The recurrence's chain runs through p only: p + n, its
// product by one multiply, the sum with the centre's term formed off the
// chain, the shift.  (Shorter chains, with the product of p apart from
// that of n, cost more instructions than the wait they save: with two
// rows and three arrays in flight the steps are bound by instructions.)
// Wrapping 32-bit lanes give the exact sums, which fit.
#define KELVO_SMOOTH_STEPS(V, add, slli, srai, mullo, set1)                                               \
  static inline V Short(V p, V n, V c)                                                                   \
  {                                                                                                      \
    return srai(add(mullo(add(p, n), Opaque(set1(150))), mullo(c, Opaque(set1(724)))), 10);              \
  }                                                                                                      \
  static inline V Long(V p, V n, V c)                                                                    \
  {                                                                                                      \
    return srai(add(mullo(add(p, n), Opaque(set1(510))), slli(c, 2)), 10);                               \
  }
KELVO_SMOOTH_STEPS(__m128i, _mm_add_epi32, _mm_slli_epi32, _mm_srai_epi32, _mm_mullo_epi32, _mm_set1_epi32)
KELVO_SMOOTH_STEPS(__m256i, _mm256_add_epi32, _mm256_slli_epi32, _mm256_srai_epi32, _mm256_mullo_epi32,
                   _mm256_set1_epi32)
#undef KELVO_SMOOTH_STEPS

// The smoother of one row: the short and middle arrays side by side in
// eight lanes (short in the low four), their weights by multiplies, and
// the long one in four.
struct SmootherAvx2
{
  int32_t *S, *M, *L;
  __m256i p, c;
  __m128i pl, cl;

  void Begin(int32_t *s, int32_t *m, int32_t *l)
  {
    S = s, M = m, L = l;
    p = Load2(S, M), c = Load2(S + 3, M + 3);
    pl = Load1(L), cl = Load1(L + 3);
  }

  inline void Step(size_t k)
  {
    const __m256i weight = Opaque(_mm256_setr_epi32(150, 150, 150, 150, 510, 510, 510, 510));
    const __m256i centre = Opaque(_mm256_setr_epi32(724, 724, 724, 724, 4, 4, 4, 4));
    const __m256i n = Load2(S + k + 3, M + k + 3);
    const __m128i nl = Load1(L + k + 3);
    p = _mm256_srai_epi32(
        _mm256_add_epi32(_mm256_mullo_epi32(_mm256_add_epi32(p, n), weight), _mm256_mullo_epi32(c, centre)), 10);
    pl = Long(pl, nl, cl);
    _mm_storeu_si128((__m128i *)(S + k), _mm256_castsi256_si128(p));
    _mm_storeu_si128((__m128i *)(M + k), _mm256_extracti128_si256(p, 1));
    _mm_storeu_si128((__m128i *)(L + k), pl);
    c = n, cl = nl;
  }
};

// The smoothers of a pair of rows in AVX2 registers, row a in the low four
// lanes and row b in the high four, one register for each array: where
// both rows step, each array's step is one set of instructions for the two
// rows.  A row stepping alone works on its half and leaves the other's
// lanes as they were.
static inline __m128i Low(__m256i v) { return _mm256_castsi256_si128(v); }
static inline __m128i High(__m256i v) { return _mm256_extracti128_si256(v, 1); }

struct PairSmootherAvx2
{
  int32_t *S, *M, *L;
  __m256i ps, pm, pl, cs, cm, cl;

  void BeginA(int32_t *s, int32_t *m, int32_t *l)
  {
    S = s, M = m, L = l;
    ps = _mm256_castsi128_si256(Load1(S)), pm = _mm256_castsi128_si256(Load1(M));
    pl = _mm256_castsi128_si256(Load1(L));
    cs = _mm256_castsi128_si256(Load1(S + 3)), cm = _mm256_castsi128_si256(Load1(M + 3));
    cl = _mm256_castsi128_si256(Load1(L + 3));
  }

  void BeginB(int32_t *, int32_t *, int32_t *)
  {
    ps = _mm256_inserti128_si256(ps, Load1(S), 1), pm = _mm256_inserti128_si256(pm, Load1(M), 1);
    pl = _mm256_inserti128_si256(pl, Load1(L), 1);
    cs = _mm256_inserti128_si256(cs, Load1(S + 3), 1), cm = _mm256_inserti128_si256(cm, Load1(M + 3), 1);
    cl = _mm256_inserti128_si256(cl, Load1(L + 3), 1);
  }

  inline void StepBoth(size_t ka, size_t kb)
  {
    const __m256i ns = Load2(S + ka + 3, S + kb + 3), nm = Load2(M + ka + 3, M + kb + 3),
                  nl = Load2(L + ka + 3, L + kb + 3);
    ps = Short(ps, ns, cs), pm = Long(pm, nm, cm), pl = Long(pl, nl, cl);
    _mm_storeu_si128((__m128i *)(S + ka), Low(ps)), _mm_storeu_si128((__m128i *)(S + kb), High(ps));
    _mm_storeu_si128((__m128i *)(M + ka), Low(pm)), _mm_storeu_si128((__m128i *)(M + kb), High(pm));
    _mm_storeu_si128((__m128i *)(L + ka), Low(pl)), _mm_storeu_si128((__m128i *)(L + kb), High(pl));
    cs = ns, cm = nm, cl = nl;
  }

  inline void StepA(size_t k)
  {
    const __m128i ns = Load1(S + k + 3), nm = Load1(M + k + 3), nl = Load1(L + k + 3);
    const __m128i s = Short(Low(ps), ns, Low(cs)), m = Long(Low(pm), nm, Low(cm)), l = Long(Low(pl), nl, Low(cl));
    _mm_storeu_si128((__m128i *)(S + k), s);
    _mm_storeu_si128((__m128i *)(M + k), m);
    _mm_storeu_si128((__m128i *)(L + k), l);
    ps = _mm256_blend_epi32(ps, _mm256_castsi128_si256(s), 0x0F);
    pm = _mm256_blend_epi32(pm, _mm256_castsi128_si256(m), 0x0F);
    pl = _mm256_blend_epi32(pl, _mm256_castsi128_si256(l), 0x0F);
    cs = _mm256_blend_epi32(cs, _mm256_castsi128_si256(ns), 0x0F);
    cm = _mm256_blend_epi32(cm, _mm256_castsi128_si256(nm), 0x0F);
    cl = _mm256_blend_epi32(cl, _mm256_castsi128_si256(nl), 0x0F);
  }

  inline void StepB(size_t k)
  {
    const __m128i ns = Load1(S + k + 3), nm = Load1(M + k + 3), nl = Load1(L + k + 3);
    const __m128i s = Short(High(ps), ns, High(cs)), m = Long(High(pm), nm, High(cm)),
                  l = Long(High(pl), nl, High(cl));
    _mm_storeu_si128((__m128i *)(S + k), s);
    _mm_storeu_si128((__m128i *)(M + k), m);
    _mm_storeu_si128((__m128i *)(L + k), l);
    ps = _mm256_inserti128_si256(ps, s, 1), pm = _mm256_inserti128_si256(pm, m, 1);
    pl = _mm256_inserti128_si256(pl, l, 1);
    cs = _mm256_inserti128_si256(cs, ns, 1), cm = _mm256_inserti128_si256(cm, nm, 1);
    cl = _mm256_inserti128_si256(cl, nl, 1);
  }
};

// SmearRow eight bytes at a time in AVX2 registers, the same arithmetic
// written out so that no step is left to the compiler's choices: weights
// by multiplies, the strong step's choices by blends, the clamp to 0..255
// by saturating packs (32-bit to signed 16-bit, then to unsigned 8-bit).
// Floors of products by -2 are shifts of the negated value by 9 (exact:
// -2 * v never overflows).  The last bytes, under eight, by SmearRow.
struct SmearLanesAvx2
{
  __m256i longWeight, w115, wMinus9, wMinus224, wShort, wStrong, zero;

  explicit SmearLanesAvx2(int32_t LongWeight)
  {
    longWeight = _mm256_set1_epi32(LongWeight);
    w115 = Opaque(_mm256_set1_epi32(115));
    wMinus9 = Opaque(_mm256_set1_epi32(-9));
    wMinus224 = Opaque(_mm256_set1_epi32(-224));
    wShort = _mm256_set1_epi32(280);
    wStrong = _mm256_set1_epi32(730);
    zero = _mm256_setzero_si256();
  }

  // Bytes i..i+7: the histories, the strong step and the dithered value,
  // unclamped.
  inline __attribute__((always_inline)) __m256i Step(size_t i, const int32_t *__restrict comp,
                                                     const uint32_t *__restrict rnd,
                                                     int32_t *__restrict ShortHist, int32_t *__restrict MiddleHist,
                                                     int32_t *__restrict LongHist, int32_t *__restrict iStrongCnt,
                                                     int32_t *__restrict iRefData) const
  {
    const __m256i c = _mm256_loadu_si256((const __m256i *)(comp + i));
    const __m256i org = _mm256_slli_epi32(c, 10);
    const __m256i lh = _mm256_loadu_si256((const __m256i *)(LongHist + i));
    const __m256i ls =
        _mm256_add_epi32(org, _mm256_srai_epi32(_mm256_mullo_epi32(_mm256_sub_epi32(org, lh), longWeight), 10));
    const __m256i mh = _mm256_loadu_si256((const __m256i *)(MiddleHist + i));
    const __m256i ms =
        _mm256_add_epi32(ls, _mm256_srai_epi32(_mm256_mullo_epi32(_mm256_sub_epi32(ls, mh), w115), 10));

    const __m256i ref = _mm256_loadu_si256((const __m256i *)(iRefData + i));
    const __m256i cnt = _mm256_loadu_si256((const __m256i *)(iStrongCnt + i));
    const __m256i big = _mm256_cmpgt_epi32(_mm256_abs_epi32(_mm256_sub_epi32(ref, c)), _mm256_set1_epi32(39));
    const __m256i strong = _mm256_and_si256(big, _mm256_cmpgt_epi32(_mm256_set1_epi32(2), cnt));
    _mm256_storeu_si256((__m256i *)(iStrongCnt + i),
                        _mm256_and_si256(_mm256_sub_epi32(cnt, _mm256_set1_epi32(-1)), strong));
    _mm256_storeu_si256((__m256i *)(iRefData + i), _mm256_blendv_epi8(c, ref, strong));
    const __m256i weight = _mm256_blendv_epi8(wShort, wStrong, strong);

    const __m256i sh = _mm256_loadu_si256((const __m256i *)(ShortHist + i));
    const __m256i ss =
        _mm256_add_epi32(ms, _mm256_srai_epi32(_mm256_mullo_epi32(_mm256_sub_epi32(ms, sh), weight), 10));
    const __m256i r = _mm256_and_si256(_mm256_loadu_si256((const __m256i *)(rnd + i)), _mm256_set1_epi32(0x3FF));

    const __m256i lh2 = _mm256_sub_epi32(_mm256_add_epi32(lh, _mm256_srai_epi32(_mm256_sub_epi32(zero, lh), 9)),
                                         _mm256_srai_epi32(_mm256_sub_epi32(zero, ls), 9));
    const __m256i mh2 =
        _mm256_sub_epi32(_mm256_add_epi32(mh, _mm256_srai_epi32(_mm256_mullo_epi32(mh, wMinus9), 10)),
                         _mm256_srai_epi32(_mm256_mullo_epi32(ms, wMinus9), 10));
    const __m256i sh2 =
        _mm256_sub_epi32(_mm256_add_epi32(sh, _mm256_srai_epi32(_mm256_mullo_epi32(sh, wMinus224), 10)),
                         _mm256_srai_epi32(_mm256_mullo_epi32(ss, wMinus224), 10));
    _mm256_storeu_si256((__m256i *)(LongHist + i), lh2);
    _mm256_storeu_si256((__m256i *)(MiddleHist + i), mh2);
    _mm256_storeu_si256((__m256i *)(ShortHist + i), sh2);
    return _mm256_srai_epi32(_mm256_add_epi32(ss, r), 10);
  }
};

static inline __attribute__((always_inline)) void SmearRowAvx2(size_t n, int32_t LongWeight,
                                                               const int32_t *__restrict comp,
                                                               const uint32_t *__restrict rnd,
                                                               int32_t *__restrict ShortHist,
                                                               int32_t *__restrict MiddleHist,
                                                               int32_t *__restrict LongHist,
                                                               int32_t *__restrict iStrongCnt,
                                                               int32_t *__restrict iRefData,
                                                               unsigned char *__restrict out)
{
  const SmearLanesAvx2 k(LongWeight);
  // The packs work within 128-bit halves; this puts the four registers'
  // bytes back in order.
  const __m256i order = _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7);
  size_t i = 0;
  for (; i + 32 <= n; i += 32)
  {
    const __m256i t0 = k.Step(i, comp, rnd, ShortHist, MiddleHist, LongHist, iStrongCnt, iRefData);
    const __m256i t1 = k.Step(i + 8, comp, rnd, ShortHist, MiddleHist, LongHist, iStrongCnt, iRefData);
    const __m256i t2 = k.Step(i + 16, comp, rnd, ShortHist, MiddleHist, LongHist, iStrongCnt, iRefData);
    const __m256i t3 = k.Step(i + 24, comp, rnd, ShortHist, MiddleHist, LongHist, iStrongCnt, iRefData);
    const __m256i bytes = _mm256_packus_epi16(_mm256_packs_epi32(t0, t1), _mm256_packs_epi32(t2, t3));
    _mm256_storeu_si256((__m256i *)(out + i), _mm256_permutevar8x32_epi32(bytes, order));
  }
  for (; i + 8 <= n; i += 8)
  {
    const __m256i t = k.Step(i, comp, rnd, ShortHist, MiddleHist, LongHist, iStrongCnt, iRefData);
    const __m256i bytes = _mm256_packus_epi16(_mm256_packs_epi32(t, t), _mm256_setzero_si256());
    const uint32_t lo = (uint32_t)_mm256_extract_epi32(bytes, 0), hi = (uint32_t)_mm256_extract_epi32(bytes, 4);
    memcpy(out + i, &lo, 4);
    memcpy(out + i + 4, &hi, 4);
  }
  SmearRow(n - i, LongWeight, comp + i, rnd + i, ShortHist + i, MiddleHist + i, LongHist + i, iStrongCnt + i,
           iRefData + i, out + i);
}

// The row's printer bytes into the three planes, sixteen pixels a step:
// each plane's bytes picked from three 16-byte loads by byte shuffles.
static inline __attribute__((always_inline)) void SplitPlanesX86(const RowArgs &a, const unsigned char *out)
{
  const __m128i r0 = _mm_setr_epi8(0, 3, 6, 9, 12, 15, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1);
  const __m128i r1 = _mm_setr_epi8(-1, -1, -1, -1, -1, -1, 2, 5, 8, 11, 14, -1, -1, -1, -1, -1);
  const __m128i r2 = _mm_setr_epi8(-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 1, 4, 7, 10, 13);
  const __m128i g0 = _mm_setr_epi8(1, 4, 7, 10, 13, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1);
  const __m128i g1 = _mm_setr_epi8(-1, -1, -1, -1, -1, 0, 3, 6, 9, 12, 15, -1, -1, -1, -1, -1);
  const __m128i g2 = _mm_setr_epi8(-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 2, 5, 8, 11, 14);
  const __m128i b0 = _mm_setr_epi8(2, 5, 8, 11, 14, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1);
  const __m128i b1 = _mm_setr_epi8(-1, -1, -1, -1, -1, 1, 4, 7, 10, 13, -1, -1, -1, -1, -1, -1);
  const __m128i b2 = _mm_setr_epi8(-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 0, 3, 6, 9, 12, 15);
  size_t p = 0;
  for (; p + 16 <= a.pixels; p += 16)
  {
    const __m128i x0 = _mm_loadu_si128((const __m128i *)(out + 3 * p));
    const __m128i x1 = _mm_loadu_si128((const __m128i *)(out + 3 * p + 16));
    const __m128i x2 = _mm_loadu_si128((const __m128i *)(out + 3 * p + 32));
    _mm_storeu_si128((__m128i *)(a.planeR + p),
                     _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(x0, r0), _mm_shuffle_epi8(x1, r1)), _mm_shuffle_epi8(x2, r2)));
    _mm_storeu_si128((__m128i *)(a.planeG + p),
                     _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(x0, g0), _mm_shuffle_epi8(x1, g1)), _mm_shuffle_epi8(x2, g2)));
    _mm_storeu_si128((__m128i *)(a.planeB + p),
                     _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(x0, b0), _mm_shuffle_epi8(x1, b1)), _mm_shuffle_epi8(x2, b2)));
  }
  for (; p < a.pixels; p++)
  {
    a.planeR[p] = out[3 * p];
    a.planeG[p] = out[3 * p + 1];
    a.planeB[p] = out[3 * p + 2];
  }
}

}  // namespace
}  // namespace smear
