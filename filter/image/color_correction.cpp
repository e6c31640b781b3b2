// Colour correction: building the per-page colour table (tone curves for
// brightness, contrast and colour balance, and the saturation table) and
// passing each row of the page through it.
#include "color_correction.h"

#include "direct_map.h"
#include "page_buffers.h"
#include "parallel.h"
#include "vector_level.h"

#include <cstdint>
#include <algorithm>
#include <cstring>

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#endif

// clrsatable: 512 signed 16-bit entries in native byte order from byte 768.
// They are copied in and out so that the byte buffer needs no alignment.
static const int kClrSaTableOffset = 768;

static void PutSaturation(unsigned char *colortable, int index, int value)
{
  const int16_t v = (int16_t)value;
  memcpy(colortable + kClrSaTableOffset + 2 * index, &v, sizeof v);
}

static int GetSaturation(const unsigned char *colortable, int index)
{
  int16_t v;
  memcpy(&v, colortable + kClrSaTableOffset + 2 * index, sizeof v);
  return v;
}

void BuildColorTable(unsigned char *colortable, int bdat, int gdat, int rdat, int contrast,
                     int stp_saturation)
{
  const int h = contrast;
  for (int n = 0; n < 256; n++)
  {
    const int t = (n * stp_saturation) / 15;
    PutSaturation(colortable, 256 + n, t);
    PutSaturation(colortable, 256 - n, -t);

    // The straight line through (h, 0) and (128, 128); the divisor is never
    // zero because 128 is not a multiple of 5.
    const int temp = (128 * n - 128 * h) / (128 - h);
    colortable[n] = ClampByte(bdat + temp);
    colortable[256 + n] = ClampByte(gdat + temp);
    colortable[512 + n] = ClampByte(rdat + temp);
  }
}

namespace {

// The colour table's curves and saturation of one pixel after another,
// then the row through the direct map when dmap is given.
void CorrectRow(unsigned char *lpdt, int width, const unsigned char *colortable, const PackedDmapTbl *dmap)
{
  // The saturation table as ints, for the loop below.
  int16_t sat[512];
  memcpy(sat, colortable + kClrSaTableOffset, sizeof sat);
  const unsigned char *curveB = colortable, *curveG = colortable + 256, *curveR = colortable + 512;
  unsigned char *p = lpdt;
  for (int x = 0; x < width; x++, p += 3)
  {
    const int rdat = p[0], gdat = p[1], bdat = p[2];

    // Push each channel away from (or, for a negative saturation, toward)
    // the half-sum of the other two.  The index stays within 1..511.
    const int btmp = bdat + sat[256 + bdat - ((gdat + rdat) >> 1)];
    const int gtmp = gdat + sat[256 + gdat - ((bdat + rdat) >> 1)];
    const int rtmp = rdat + sat[256 + rdat - ((bdat + gdat) >> 1)];

    // The curves are stored blue, green, red.
    p[2] = curveB[ClampByte(btmp)];
    p[1] = curveG[ClampByte(gtmp)];
    p[0] = curveR[ClampByte(rtmp)];
  }
  if (dmap)
    Change3DRow(*dmap, lpdt, width);
}

// What a row needs: the colour table (unless it is neutral) and the packed
// direct map (when the direct map is on), each prepared once per call.
struct RowJob
{
  const unsigned char *colortable;  // null: no colour correction
  const PackedDmapTbl *dmap;        // null: no direct map
  // The colour table widened to 32-bit entries for the vector code:
  // saturation, then the blue, green and red curves.
  int32_t sat[512];
  int32_t curve[3][256];
};

void PrepareRowJob(RowJob &job, const unsigned char *colortable, const PackedDmapTbl *dmap)
{
  job.colortable = colortable;
  job.dmap = dmap;
  if (colortable)
  {
    int16_t sat[512];
    memcpy(sat, colortable + kClrSaTableOffset, sizeof sat);
    for (int n = 0; n < 512; n++)
      job.sat[n] = sat[n];
    for (int c = 0; c < 3; c++)
      for (int n = 0; n < 256; n++)
        job.curve[c][n] = colortable[256 * c + n];
  }
}

void RowPortable(const RowJob &job, unsigned char *row, int width)
{
  if (job.colortable)
    CorrectRow(row, width, job.colortable, job.dmap);
  else if (job.dmap)
    Change3DRow(*job.dmap, row, width);
}

#if defined(__x86_64__) && defined(__GNUC__)
#define KELVO_COLOR_AVX2 1

// Eight pixels at a time in 32-bit lanes, with the same integer arithmetic
// as CorrectRow and Change3DPacked: the table look-ups are gathers, the
// rest is branch-free.  The tetrahedron is picked as Change3DPacked picks
// it (where fractions tie, any choice only moves a corner of weight 0).
// Every product of a table byte and a weight, and every sum of four with
// weights adding up to 32, is at most 32 * 255 and fits 16 bits, so the
// red and blue of an entry are weighed together in the two halves of a
// lane and green in the low half of another.
#define KELVO_AVX2 __attribute__((target("avx2")))

KELVO_AVX2 inline __m256i Clamp255(__m256i v)
{
  return _mm256_min_epi32(_mm256_max_epi32(v, _mm256_setzero_si256()), _mm256_set1_epi32(255));
}

// A weight (0..32) in both 16-bit halves of its lane.
KELVO_AVX2 inline __m256i Twice(__m256i k) { return _mm256_or_si256(k, _mm256_slli_epi32(k, 16)); }

template <bool kCorrect, bool kMap>
KELVO_AVX2 inline void EightPixelsAvx2(const RowJob &job, unsigned char *p)
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
KELVO_AVX2 void RowAvx2Body(const RowJob &job, unsigned char *row, int width)
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

KELVO_AVX2 void RowAvx2(const RowJob &job, unsigned char *row, int width)
{
  if (job.colortable && job.dmap)
    RowAvx2Body<true, true>(job, row, width);
  else if (job.colortable)
    RowAvx2Body<true, false>(job, row, width);
  else if (job.dmap)
    RowAvx2Body<false, true>(job, row, width);
}

// GCC 12 warns of its own undefined vectors in the AVX-512 intrinsics.
#ifndef __clang__
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

// The same with AVX-512 (F, BW and VBMI), sixteen pixels at a time: the
// bytes are spread to lanes and gathered back with byte permutes, the last
// pixels of a row are read and written under a mask, and the curves are
// looked up by byte permutes of the 256-byte tables instead of gathers.
#define KELVO_AVX512 __attribute__((target("avx2,avx512f,avx512bw,avx512vbmi")))

// The curve of 256 bytes in four registers.
struct Curve512
{
  __m512i t0, t1, t2, t3;
};

KELVO_AVX512 inline Curve512 LoadCurve(const unsigned char *curve)
{
  return {_mm512_loadu_si512(curve), _mm512_loadu_si512(curve + 64), _mm512_loadu_si512(curve + 128),
          _mm512_loadu_si512(curve + 192)};
}

// curve[v] of lanes v (0..255, bytes 1..3 of each lane 0).
KELVO_AVX512 inline __m512i LookUp(const Curve512 &c, __m512i v)
{
  const __mmask64 byte0 = 0x1111111111111111ull;
  const __mmask64 high = _mm512_test_epi8_mask(v, _mm512_set1_epi8((char)0x80)) & byte0;
  const __m512i lo = _mm512_maskz_permutex2var_epi8(byte0 & ~high, c.t0, v, c.t1);
  return _mm512_mask_mov_epi8(lo, high, _mm512_permutex2var_epi8(c.t2, v, c.t3));
}

KELVO_AVX512 inline __m512i Clamp255x16(__m512i v)
{
  return _mm512_min_epi32(_mm512_max_epi32(v, _mm512_setzero_si512()), _mm512_set1_epi32(255));
}

KELVO_AVX512 inline __m512i Twice16(__m512i k) { return _mm512_or_si512(k, _mm512_slli_epi32(k, 16)); }

template <bool kCorrect, bool kMap, bool kFull>
KELVO_AVX512 inline void SixteenPixelsAvx512(const RowJob &job, const Curve512 *curves, unsigned char *p,
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
KELVO_AVX512 void RowAvx512Body(const RowJob &job, unsigned char *row, int width)
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

KELVO_AVX512 void RowAvx512(const RowJob &job, unsigned char *row, int width)
{
  if (job.colortable && job.dmap)
    RowAvx512Body<true, true>(job, row, width);
  else if (job.colortable)
    RowAvx512Body<true, false>(job, row, width);
  else if (job.dmap)
    RowAvx512Body<false, true>(job, row, width);
}
#ifndef __clang__
#pragma GCC diagnostic pop
#endif
#endif

typedef void (*RowFunction)(const RowJob &, unsigned char *, int);

RowFunction ChooseRow()
{
  // The portable version, AVX2 or AVX-512; all give the same bytes.
  const int version = StageVectorLevel();
#ifdef KELVO_COLOR_AVX2
  if (version == 2)
    return RowAvx512;
  if (version == 1)
    return RowAvx2;
#endif
  (void)version;
  return RowPortable;
}

}  // namespace

bool IsNeutralColorTable(const unsigned char *colortable)
{
  for (int n = 0; n < 256; n++)
    if (colortable[n] != n || colortable[256 + n] != n || colortable[512 + n] != n)
      return false;
  for (int n = 1; n < 512; n++)
    if (GetSaturation(colortable, n) != 0)
      return false;
  return true;
}

void ColorCorrection(unsigned char *lpdt, int width, unsigned char *colortable, int bTableRet,
                     unsigned char *DmapTbl)
{
  if (width <= 0)
    return;
  PackedDmapTbl packed;
  if (bTableRet)
    PackDmapTbl(DmapTbl, &packed);
  RowJob job;
  PrepareRowJob(job, colortable, bTableRet ? &packed : nullptr);
  ChooseRow()(job, lpdt, width);
}

void ColorCorrectPage(unsigned char *page, int width, int height, unsigned char *colortable, int bTableRet,
                      unsigned char *DmapTbl)
{
  if (width <= 0 || height <= 0)
    return;
  const bool neutral = IsNeutralColorTable(colortable);
  if (neutral && !bTableRet)
    return;
  PackedDmapTbl packed;
  if (bTableRet)
    PackDmapTbl(DmapTbl, &packed);
  RowJob job;
  PrepareRowJob(job, neutral ? nullptr : colortable, bTableRet ? &packed : nullptr);
  const RowFunction rowFunction = ChooseRow();
  const size_t rowBytes = 3 * (size_t)width;
  ParallelRows(height, 16, [&](int begin, int end) {
    for (int y = begin; y < end; y++)
      rowFunction(job, page + (size_t)y * rowBytes, width);
  });
}
