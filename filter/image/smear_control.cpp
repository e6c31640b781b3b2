// Smear control: the tone curve of the print mode, the long,
// middle and short per-position histories with the strong step after a
// sudden change, the sideways smoothing and the MT19937 dither.
#include "smear_control.h"

#include "page_buffers.h"
#include "parallel.h"
#include "vector_level.h"
#include "random/mt19937ar.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#endif

int GetSmearlut(unsigned char *hotlut, int iGammaMode)
{
  memset(hotlut, 0, kSmearLutBytes);
  const unsigned char *table = iGammaMode != 0 ? HVX_A4_Normal : HVX_A4_Normal_Soft;
  // The table is in plane order (blue, green, red); hotlut in the pixel's
  // byte order (red, green, blue).
  memcpy(hotlut + 512, table + 0, 256);
  memcpy(hotlut + 256, table + 256, 256);
  memcpy(hotlut + 0, table + 512, 256);
  return 1;
}

namespace {

// Range of the values.  With OrgData in 0..255 * 1024 = 261120, the
// histories never leave -80000..341120: the long and middle smears push
// past their history by at most 73/1024 and 115/1024 of the gap, the
// history then moves 2/1024 or 9/1024 of the way toward the smear, the
// short history moves to a mix of the middle smear and itself with positive
// weights (0.28 and 0.72, or 0.38 and 0.62 after a strong step), and the
// sideways smoothing mixes neighbours with positive weights.  The short
// smear stays within -380000..640000.  So every product below (at most
// 1024 times a value, or 730 times a difference) stays under 7e8 and 32-bit
// arithmetic gives the exact results of the 64-bit formulas; >> on a
// negative int is floor division by 1024 (arithmetic shift).

// Working arrays, one entry per byte position of a row, in one block.
struct WorkingArrays
{
  int32_t *block = nullptr;
  int32_t *ShortHist, *MiddleHist, *LongHist, *iStrongCnt, *iRefData;
  int32_t *CompData;    // the row through the tone curve
  uint32_t *Random;     // the row's numbers from the generator
  unsigned char *Out;   // the row's printer bytes in pixel order
  // The same for the second row of a pair worked side by side.
  int32_t *CompData2;
  uint32_t *Random2;
  unsigned char *Out2;

  // n entries each, and one of padding after each (zero) for the lanes of
  // the smoothing.
  bool Allocate(size_t n)
  {
    if (n > SIZE_MAX / (11 * sizeof(int32_t)) - 1)
      return false;
    n++;
    block = static_cast<int32_t *>(calloc(11 * n, sizeof(int32_t)));
    if (block == nullptr)
      return false;
    ShortHist = block;
    MiddleHist = block + n;
    LongHist = block + 2 * n;
    iStrongCnt = block + 3 * n;
    iRefData = block + 4 * n;
    CompData = block + 5 * n;
    Random = reinterpret_cast<uint32_t *>(block + 6 * n);
    Out = reinterpret_cast<unsigned char *>(block + 7 * n);
    CompData2 = block + 8 * n;
    Random2 = reinterpret_cast<uint32_t *>(block + 9 * n);
    Out2 = reinterpret_cast<unsigned char *>(block + 10 * n);
    return true;
  }

  ~WorkingArrays() { free(block); }
};

// The row through the tone curve of each byte's channel.
inline __attribute__((always_inline)) void ToneRow(const unsigned char *row, size_t pixels, const unsigned char *lut, int32_t *comp)
{
  for (size_t p = 0; p < pixels; p++)
  {
    comp[3 * p] = lut[row[3 * p]];
    comp[3 * p + 1] = lut[256 + row[3 * p + 1]];
    comp[3 * p + 2] = lut[512 + row[3 * p + 2]];
  }
}

// The per-byte step of a row after the first: the three smears, the strong
// step, the dithered byte and the history updates.  Every position is on
// its own, so the loop vectorises.
inline __attribute__((always_inline)) void SmearRow(size_t n, int32_t LongWeight, const int32_t *__restrict comp, const uint32_t *__restrict rnd,
              int32_t *__restrict ShortHist, int32_t *__restrict MiddleHist, int32_t *__restrict LongHist,
              int32_t *__restrict iStrongCnt, int32_t *__restrict iRefData, unsigned char *__restrict out)
{
  for (size_t i = 0; i < n; i++)
  {
    const int32_t iCompData = comp[i];
    const int32_t OrgData = iCompData * 1024;
    const int32_t LongSmear = OrgData + ((OrgData - LongHist[i]) * LongWeight >> 10);
    const int32_t MiddleSmear = LongSmear + ((LongSmear - MiddleHist[i]) * 115 >> 10);

    // Branch-free, so that the loop vectorises: strong is all ones or 0.
    const int32_t diff = iRefData[i] - iCompData;
    const int32_t strong = -(int32_t)(((diff >= 40) | (diff <= -40)) & (iStrongCnt[i] <= 1));
    iStrongCnt[i] = (iStrongCnt[i] + 1) & strong;
    iRefData[i] = (iRefData[i] & strong) | (iCompData & ~strong);
    const int32_t weight = 280 + (450 & strong);
    const int32_t ShortSmear = MiddleSmear + ((MiddleSmear - ShortHist[i]) * weight >> 10);

    int32_t Temp = (ShortSmear + (int32_t)(rnd[i] & 0x3FF)) >> 10;
    Temp = Temp < 0 ? 0 : Temp;
    Temp = Temp > 255 ? 255 : Temp;
    out[i] = (unsigned char)Temp;

    // H' = S + (H * c >> 10) - (S * c >> 10) with c = 1024 - e is
    // H + (-e * H >> 10) - (-e * S >> 10), exactly: 1024 * H and 1024 * S
    // leave the floor unchanged.  Fewer multiplications to vectorise.
    LongHist[i] = LongHist[i] + ((-2 * LongHist[i]) >> 10) - ((-2 * LongSmear) >> 10);
    MiddleHist[i] = MiddleHist[i] + ((-9 * MiddleHist[i]) >> 10) - ((-9 * MiddleSmear) >> 10);
    ShortHist[i] = ShortHist[i] + ((-224 * ShortHist[i]) >> 10) - ((-224 * ShortSmear) >> 10);
  }
}

// Four 32-bit lanes (SSE2 on x86-64, NEON on ARM, plain code elsewhere);
// lanes 0..2 carry the red, green and blue entries of a pixel.
typedef int32_t Lanes __attribute__((vector_size(16)));

inline Lanes Load(const int32_t *p)
{
  Lanes v;
  memcpy(&v, p, sizeof v);
  return v;
}

inline void Store(int32_t *p, Lanes v) { memcpy(p, &v, sizeof v); }

// Products by the smoothing weights as shifts and adds, in unsigned lanes
// (the same low 32 bits as the signed product, which never overflows).
// SSE2 has no 32-bit multiply: this keeps the recurrence's chain short.
typedef uint32_t UnsignedLanes __attribute__((vector_size(16)));

inline Lanes Times150(Lanes v)
{
  const UnsignedLanes u = (UnsignedLanes)v;
  return (Lanes)((u << 7) + (u << 4) + (u << 2) + (u << 1));
}

inline Lanes Times510(Lanes v)
{
  const UnsignedLanes u = (UnsignedLanes)v;
  return (Lanes)((u << 9) - (u << 1));
}

inline Lanes Times724(Lanes v)
{
  const UnsignedLanes u = (UnsignedLanes)v;
  return (Lanes)((u << 9) + (u << 7) + (u << 6) + (u << 4) + (u << 2));
}

inline Lanes Times4(Lanes v) { return (Lanes)((UnsignedLanes)v << 2); }

// Sideways smoothing of the pixels 1..pixels-2, in place from left to
// right: each entry from the new value on its left and the old ones at and
// right of it.  Each array is one recurrence over pixels, its three
// channels side by side in lanes; lane 3 reads the next pixel and its
// result is overwritten (by the next step, or by the kept last pixel).  The
// arrays have one entry of padding after them for the last load.
//
// A smoother holds one row's recurrence between steps: Begin at pixel 0,
// then Step(3 * k) for k = 1, 2, ... in turn.  The values it carries (the
// new one on the left, the old one at the pixel) are never read back from
// the arrays, so steps may pause while other work changes entries left of
// the pixel, and two rows' smoothers can step side by side.
struct SmootherPortable
{
  int32_t *S, *M, *L;
  Lanes ps, pm, pl, cs, cm, cl;

  void Begin(int32_t *s, int32_t *m, int32_t *l)
  {
    S = s, M = m, L = l;
    ps = Load(S), pm = Load(M), pl = Load(L);
    cs = Load(S + 3), cm = Load(M + 3), cl = Load(L + 3);
  }

  inline __attribute__((always_inline)) void Step(size_t k)
  {
    const Lanes ns = Load(S + k + 3), nm = Load(M + k + 3), nl = Load(L + k + 3);
    ps = (Times150(ps + ns) + Times724(cs)) >> 10;
    pm = (Times510(pm + nm) + Times4(cm)) >> 10;
    pl = (Times510(pl + nl) + Times4(cl)) >> 10;
    Store(S + k, ps);
    Store(M + k, pm);
    Store(L + k, pl);
    cs = ns, cm = nm, cl = nl;
  }
};

template <class Smoother>
inline __attribute__((always_inline)) void SmoothRow(size_t pixels, int32_t *__restrict S, int32_t *__restrict M,
                                                     int32_t *__restrict L)
{
  if (pixels < 3)
    return;
  const size_t last = 3 * (pixels - 1);
  const int32_t keepS = S[last], keepM = M[last], keepL = L[last];
  Smoother r;
  r.Begin(S, M, L);
  for (size_t k = 3; k < last; k += 3)
    r.Step(k);
  S[last] = keepS, M[last] = keepM, L[last] = keepL;
}

// Every row after the first, once its numbers are drawn: through the tone
// curve, the per-byte step, the three planes and the sideways smoothing.
struct RowArgs
{
  size_t pixels;
  int32_t LongWeight;
  const unsigned char *src;
  const unsigned char *lut;
  WorkingArrays *w;
  unsigned char *planeR, *planeG, *planeB;
};

inline __attribute__((always_inline)) void SplitPlanes(const RowArgs &a, const unsigned char *__restrict out)
{
  unsigned char *__restrict r = a.planeR, *__restrict g = a.planeG, *__restrict b = a.planeB;
  for (size_t p = 0; p < a.pixels; p++)
  {
    r[p] = out[3 * p];
    g[p] = out[3 * p + 1];
    b[p] = out[3 * p + 2];
  }
}

template <class Smoother>
inline __attribute__((always_inline)) void RowBody(const RowArgs &a)
{
  WorkingArrays &w = *a.w;
  const size_t pixels = a.pixels;
  ToneRow(a.src, pixels, a.lut, w.CompData);
  SmearRow(3 * pixels, a.LongWeight, w.CompData, w.Random, w.ShortHist, w.MiddleHist, w.LongHist, w.iStrongCnt,
           w.iRefData, w.Out);
  SplitPlanes(a, w.Out);
  SmoothRow<Smoother>(pixels, w.ShortHist, w.MiddleHist, w.LongHist);
}

// Pixels per column block of a pair of rows.
constexpr size_t kPairBlock = 32;

// Two rows, a and the next one b (its numbers drawn after a's), worked side
// by side.  The sideways smoothing is a recurrence from pixel to pixel whose
// every step waits for the one before, so one row leaves the processor
// mostly waiting; b's smoothing runs in the same loop as a's, a block of
// pixels behind it, and the two recurrences overlap.  Every entry sees the
// same steps in the same order as row after row: b's per-byte step on a
// block of pixels comes after a's smoothing has finished them, and b's
// smoothing at a pixel after b's per-byte step on the pixel to its right.
// Needs pixels >= 3.
typedef void (*ToneFunction)(const unsigned char *, size_t, const unsigned char *, int32_t *);

template <class Smoother, ToneFunction Tone = ToneRow>
inline __attribute__((always_inline)) void PairBody(const RowArgs &a, const RowArgs &b)
{
  WorkingArrays &w = *a.w;
  const size_t pixels = a.pixels, last = pixels - 1;
  int32_t *const S = w.ShortHist, *const M = w.MiddleHist, *const L = w.LongHist;
  Tone(a.src, pixels, a.lut, w.CompData);
  Tone(b.src, pixels, b.lut, w.CompData2);
  SmearRow(3 * pixels, a.LongWeight, w.CompData, w.Random, S, M, L, w.iStrongCnt, w.iRefData, w.Out);
  SplitPlanes(a, w.Out);

  // Row a's smoothing runs over pixels 1..last-1, then its last pixel gets
  // back the values the lane past the step overwrote.
  const int32_t keepS = S[3 * last], keepM = M[3 * last], keepL = L[3 * last];
  Smoother sa{}, sb{};  // sb begins once its first block is ready
  sa.Begin(S, M, L);
  size_t nextA = 1, nextB = 1;
  auto finishA = [&] {
    if (nextA == last)
    {
      S[3 * last] = keepS, M[3 * last] = keepM, L[3 * last] = keepL;
      nextA++;
    }
  };
  const size_t firstEnd = kPairBlock < last ? kPairBlock : last;
  for (; nextA < firstEnd; nextA++)
    sa.Step(3 * nextA);
  finishA();

  int32_t keepS2 = 0, keepM2 = 0, keepL2 = 0;
  for (size_t c0 = 0; c0 < pixels; c0 += kPairBlock)
  {
    // Row b's per-byte step on this block, whose row-a values are final.
    const size_t c1 = c0 + kPairBlock < pixels ? c0 + kPairBlock : pixels;
    const size_t i0 = 3 * c0, n = 3 * (c1 - c0);
    SmearRow(n, b.LongWeight, w.CompData2 + i0, w.Random2 + i0, S + i0, M + i0, L + i0, w.iStrongCnt + i0,
             w.iRefData + i0, w.Out2 + i0);
    if (c0 == 0)
      sb.Begin(S, M, L);
    if (c1 == pixels)
      keepS2 = S[3 * last], keepM2 = M[3 * last], keepL2 = L[3 * last];

    // Row a's smoothing over the next block, row b's up to the pixel before
    // this block's last, side by side.
    const size_t endA = c1 + kPairBlock < last ? c1 + kPairBlock : last;
    const size_t endB = c1 - 1 < last ? c1 - 1 : last;
    while (nextA < endA && nextB < endB)
    {
      sa.Step(3 * nextA++);
      sb.Step(3 * nextB++);
    }
    for (; nextA < endA; nextA++)
      sa.Step(3 * nextA);
    for (; nextB < endB; nextB++)
      sb.Step(3 * nextB);
    finishA();
  }
  S[3 * last] = keepS2, M[3 * last] = keepM2, L[3 * last] = keepL2;
  SplitPlanes(b, w.Out2);
}

// The portable version (SSE2 on x86-64, NEON on ARM), and on x86-64 ones
// built for AVX2 (a 32-bit vector multiply, eight lanes) and AVX-512,
// chosen from what the processor offers.  All do the same integer
// arithmetic, so the bytes are the same.
void RowPortable(const RowArgs &a) { RowBody<SmootherPortable>(a); }
void PairPortable(const RowArgs &a, const RowArgs &b) { PairBody<SmootherPortable>(a, b); }

#if defined(__x86_64__) && defined(__GNUC__)
#define KELVO_SMEAR_AVX2 1

// The smoother with the short and middle arrays side by side in eight
// lanes (short in the low four) and the long one in four.  The product by
// the neighbours' weight, on the recurrence's chain, is four shifts by lane
// (a shift by 32 gives 0): 150 = 128 + 32 - 8 - 2, 510 = 512 + 0 - 2 - 0.
// The centre's product, off the chain, is one multiply.  All in wrapping
// 32-bit lanes, whose low 32 bits are those of the exact sums, which fit.
__attribute__((target("avx2"))) inline __m256i Load2(const int32_t *lo, const int32_t *hi)
{
  return _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_loadu_si128((const __m128i *)lo)),
                                 _mm_loadu_si128((const __m128i *)hi), 1);
}

__attribute__((target("avx2"))) inline __m128i Load1(const int32_t *p) { return _mm_loadu_si128((const __m128i *)p); }

struct SmootherAvx2
{
  int32_t *S, *M, *L;
  __m256i p, c;
  __m128i pl, cl;

  __attribute__((target("avx2"))) void Begin(int32_t *s, int32_t *m, int32_t *l)
  {
    S = s, M = m, L = l;
    p = Load2(S, M), c = Load2(S + 3, M + 3);
    pl = Load1(L), cl = Load1(L + 3);
  }

  __attribute__((target("avx2"))) inline void Step(size_t k)
  {
    const __m256i shiftA = _mm256_setr_epi32(7, 7, 7, 7, 9, 9, 9, 9);
    const __m256i shiftB = _mm256_setr_epi32(5, 5, 5, 5, 32, 32, 32, 32);
    const __m256i shiftC = _mm256_setr_epi32(3, 3, 3, 3, 1, 1, 1, 1);
    const __m256i shiftD = _mm256_setr_epi32(1, 1, 1, 1, 32, 32, 32, 32);
    const __m256i centre = _mm256_setr_epi32(724, 724, 724, 724, 4, 4, 4, 4);
    const __m256i n = Load2(S + k + 3, M + k + 3);
    const __m128i nl = Load1(L + k + 3);
    const __m256i v = _mm256_add_epi32(p, n);
    const __m256i plus = _mm256_add_epi32(_mm256_sllv_epi32(v, shiftA), _mm256_sllv_epi32(v, shiftB));
    const __m256i minus = _mm256_add_epi32(_mm256_sllv_epi32(v, shiftC), _mm256_sllv_epi32(v, shiftD));
    const __m256i mid = _mm256_mullo_epi32(c, centre);
    p = _mm256_srai_epi32(_mm256_add_epi32(_mm256_sub_epi32(plus, minus), mid), 10);
    const __m128i vl = _mm_add_epi32(pl, nl);
    pl = _mm_srai_epi32(
        _mm_add_epi32(_mm_sub_epi32(_mm_slli_epi32(vl, 9), _mm_slli_epi32(vl, 1)), _mm_slli_epi32(cl, 2)), 10);
    _mm_storeu_si128((__m128i *)(S + k), _mm256_castsi256_si128(p));
    _mm_storeu_si128((__m128i *)(M + k), _mm256_extracti128_si256(p, 1));
    _mm_storeu_si128((__m128i *)(L + k), pl);
    c = n, cl = nl;
  }
};

// Flattened, so that the smoother's steps are inlined here, built for AVX2.
__attribute__((target("avx2"), flatten)) void RowAvx2(const RowArgs &a) { RowBody<SmootherAvx2>(a); }
// With AVX-512 the per-byte step works sixteen bytes at a time (GCC is told
// to prefer the full width); the smoothing stays as for AVX2.
#ifdef __clang__
#define KELVO_SMEAR_AVX512 "avx512f,avx512bw,avx512vl,avx512dq"
#else
#define KELVO_SMEAR_AVX512 "avx512f,avx512bw,avx512vl,avx512dq,prefer-vector-width=512"
#endif

// The tone curves by byte permutes (AVX-512 VBMI), 64 bytes a step: each
// curve is two 128-byte halves looked up by the low seven bits of the byte
// and chosen by the eighth, and the three channels' results are merged by
// the channel of each byte position.  A step starts 64 bytes, one channel
// position, after the last, so the channel masks turn with it.
#ifndef __clang__
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"  // GCC 12's AVX-512 headers
#endif
__attribute__((target("avx512f,avx512bw,avx512vbmi"))) void ToneRowVbmi(const unsigned char *row, size_t pixels,
                                                                      const unsigned char *lut, int32_t *comp)
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

__attribute__((target(KELVO_SMEAR_AVX512), flatten)) void PairAvx512(
    const RowArgs &a, const RowArgs &b)
{
  PairBody<SmootherAvx2, ToneRowVbmi>(a, b);
}
#ifndef __clang__
#pragma GCC diagnostic pop
#endif
__attribute__((target("avx2"), flatten)) void PairAvx2(const RowArgs &a, const RowArgs &b)
{
  PairBody<SmootherAvx2>(a, b);
}
#endif

typedef void (*RowFunction)(const RowArgs &);
typedef void (*PairFunction)(const RowArgs &, const RowArgs &);

RowFunction ChooseRow()
{
#ifdef KELVO_SMEAR_AVX2
  if (StageVectorLevel() >= kVectorAvx2)
    return RowAvx2;
#endif
  return RowPortable;
}

PairFunction ChoosePair()
{
#ifdef KELVO_SMEAR_AVX2
  if (StageVectorLevel() >= kVectorAvx512)
    return PairAvx512;
  if (StageVectorLevel() >= kVectorAvx2)
    return PairAvx2;
#endif
  return PairPortable;
}

}  // namespace

int SmearControl(unsigned char *pSrcBitmap, unsigned int biWidth, unsigned int biHeight,
                 unsigned char *lpToneCurve, unsigned char *pSendData)
{
  return SmearControlAsRowsArrive(pSrcBitmap, biWidth, biHeight, lpToneCurve, pSendData, nullptr);
}

int SmearControlAsRowsArrive(unsigned char *pSrcBitmap, unsigned int biWidth, unsigned int biHeight,
                             unsigned char *lpToneCurve, unsigned char *pSendData, RowProgress *source)
{
  // Every call, and so every page, starts the generator from the same state.
  uint32_t init[4] = {0x123, 0x234, 0x345, 0x456};
  init_by_array(init, 4);

  const size_t pixels = biWidth;
  const size_t iLength = 3 * pixels;
  WorkingArrays w;
  if (!w.Allocate(iLength))
    return kStageNoMemory;
  if (biHeight == 0)
    return 0;
  // Waits are for a batch of rows, so that a reader that has caught up
  // sleeps and wakes once per batch rather than once per row.
  constexpr unsigned kBatch = 16;
  unsigned sourceSeen = 0;
  auto waitRows = [&](unsigned rows) {
    if (source && sourceSeen < rows)
      sourceSeen = (unsigned)source->WaitFor((int)(rows + kBatch < biHeight ? rows + kBatch : biHeight));
  };

  // Plane starts: plane 0 from blue, 1 from green, 2 from red.
  const size_t planeSize = pixels * biHeight;
  unsigned char *const planeR = pSendData + 2 * planeSize;
  unsigned char *const planeG = pSendData + planeSize;
  unsigned char *const planeB = pSendData;

  // Row 0: the histories start at the curve value of the position's
  // average over the first 200 rows (or all of a shorter page); the row is
  // its curve value.  The histories are smoothed after every row, this one
  // included.
  {
    const unsigned iCount = biHeight < 200 ? biHeight : 200;
    waitRows(iCount);
    uint32_t *sum = w.Random;
    memset(sum, 0, iLength * sizeof(uint32_t));
    for (unsigned r = 0; r < iCount; r++)
    {
      const unsigned char *row = pSrcBitmap + (size_t)r * iLength;
      for (size_t i = 0; i < iLength; i++)
        sum[i] += row[i];
    }
    for (size_t i = 0; i < iLength; i++)
    {
      const int32_t MidData = (int32_t)lpToneCurve[256 * (i % 3) + sum[i] / iCount] * 1024;
      w.ShortHist[i] = w.MiddleHist[i] = w.LongHist[i] = MidData;
      w.iStrongCnt[i] = 0;
    }
    ToneRow(pSrcBitmap, pixels, lpToneCurve, w.iRefData);
    for (size_t p = 0; p < pixels; p++)
    {
      planeR[p] = (unsigned char)w.iRefData[3 * p];
      planeG[p] = (unsigned char)w.iRefData[3 * p + 1];
      planeB[p] = (unsigned char)w.iRefData[3 * p + 2];
    }
    SmoothRow<SmootherPortable>(pixels, w.ShortHist, w.MiddleHist, w.LongHist);
  }

  // Rows two at a time where the smoothing has pixels to work on, else one
  // by one; the numbers are drawn row after row either way.
  const RowFunction row = ChooseRow();
  const PairFunction pair = ChoosePair();
  auto args = [&](unsigned j, uint32_t *random) {
    const int32_t LongWeight = j < 600 ? (int32_t)((73 * j) / 600) : 73;
    genrand_block(random, iLength);
    const size_t rowOffset = (size_t)j * pixels;
    return RowArgs{pixels,          LongWeight,          pSrcBitmap + (size_t)j * iLength, lpToneCurve, &w,
                   planeR + rowOffset, planeG + rowOffset, planeB + rowOffset};
  };
  for (unsigned int j = 1; j < biHeight;)
  {
    if (pixels >= 3 && j + 1 < biHeight)
    {
      waitRows(j + 2);
      const RowArgs a = args(j, w.Random);
      const RowArgs b = args(j + 1, w.Random2);
      pair(a, b);
      j += 2;
    }
    else
    {
      waitRows(j + 1);
      row(args(j, w.Random));
      j++;
    }
  }
  return 0;
}
