// The row steps of smear control, shared by its portable version
// (smear_control.cpp) and the versions built for AVX2 and AVX-512
// (smear_control_avx2.cpp, smear_control_avx512.cpp), which compile the same
// steps with their own instructions.  Everything here has internal linkage,
// so that no copy built for one processor is ever called from another's
// code.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace smear {

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

// Working arrays, one entry per byte position of a row, with one entry of
// padding (zero) after each for the lanes of the smoothing.
struct Arrays
{
  int32_t *ShortHist, *MiddleHist, *LongHist, *iStrongCnt, *iRefData;
  int32_t *CompData;    // the row through the tone curve
  uint32_t *Random;     // the row's numbers from the generator
  unsigned char *Out;   // the row's printer bytes in pixel order
  // The same for the second row of a pair worked side by side.
  int32_t *CompData2;
  uint32_t *Random2;
  unsigned char *Out2;
};

// Every row after the first, once its numbers are drawn: through the tone
// curve, the per-byte step, the three planes and the sideways smoothing.
struct RowArgs
{
  size_t pixels;
  int32_t LongWeight;
  const unsigned char *src;
  const unsigned char *lut;
  Arrays *w;
  unsigned char *planeR, *planeG, *planeB;
};

// The row through the tone curve of each byte's channel, four pixels a
// step where it can: one test of the count for twelve lookups.
static inline __attribute__((always_inline)) void ToneRow(const unsigned char *row, size_t pixels,
                                                          const unsigned char *lut, int32_t *comp)
{
  const unsigned char *const lr = lut, *const lg = lut + 256, *const lb = lut + 512;
  size_t p = 0;
  for (; p + 4 <= pixels; p += 4)
  {
    const unsigned char *r = row + 3 * p;
    int32_t *c = comp + 3 * p;
    c[0] = lr[r[0]], c[1] = lg[r[1]], c[2] = lb[r[2]];
    c[3] = lr[r[3]], c[4] = lg[r[4]], c[5] = lb[r[5]];
    c[6] = lr[r[6]], c[7] = lg[r[7]], c[8] = lb[r[8]];
    c[9] = lr[r[9]], c[10] = lg[r[10]], c[11] = lb[r[11]];
  }
  for (; p < pixels; p++)
  {
    comp[3 * p] = lr[row[3 * p]];
    comp[3 * p + 1] = lg[row[3 * p + 1]];
    comp[3 * p + 2] = lb[row[3 * p + 2]];
  }
}

// The per-byte step of a row after the first: the three smears, the strong
// step, the dithered byte and the history updates.  Every position is on
// its own, so the loop vectorises.
static inline __attribute__((always_inline)) void SmearRow(size_t n, int32_t LongWeight,
                                                           const int32_t *__restrict comp,
                                                           const uint32_t *__restrict rnd,
                                                           int32_t *__restrict ShortHist,
                                                           int32_t *__restrict MiddleHist,
                                                           int32_t *__restrict LongHist,
                                                           int32_t *__restrict iStrongCnt,
                                                           int32_t *__restrict iRefData,
                                                           unsigned char *__restrict out)
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

    // Within -372..625 (from the short smear's range), so the clamp can
    // work on 16-bit lanes, twice as many to a vector.
    int16_t Temp = (int16_t)((ShortSmear + (int32_t)(rnd[i] & 0x3FF)) >> 10);
    Temp = Temp < 0 ? (int16_t)0 : Temp;
    Temp = Temp > 255 ? (int16_t)255 : Temp;
    out[i] = (unsigned char)Temp;

    // H' = S + (H * c >> 10) - (S * c >> 10) with c = 1024 - e is
    // H + (-e * H >> 10) - (-e * S >> 10), exactly: 1024 * H and 1024 * S
    // leave the floor unchanged.  Fewer multiplications to vectorise; the
    // floors of -2 * v / 1024 and -224 * v / 1024 are those of -v / 512
    // and -7 * v / 32, with fewer shifts and adds.
    LongHist[i] = LongHist[i] + ((-LongHist[i]) >> 9) - ((-LongSmear) >> 9);
    MiddleHist[i] = MiddleHist[i] + ((-9 * MiddleHist[i]) >> 10) - ((-9 * MiddleSmear) >> 10);
    ShortHist[i] = ShortHist[i] + ((-7 * ShortHist[i]) >> 5) - ((-7 * ShortSmear) >> 5);
  }
}

typedef void (*ToneFunction)(const unsigned char *row, size_t pixels, const unsigned char *lut, int32_t *comp);
typedef void (*SmearFunction)(size_t n, int32_t LongWeight, const int32_t *__restrict comp,
                              const uint32_t *__restrict rnd, int32_t *__restrict ShortHist,
                              int32_t *__restrict MiddleHist, int32_t *__restrict LongHist,
                              int32_t *__restrict iStrongCnt, int32_t *__restrict iRefData,
                              unsigned char *__restrict out);
typedef void (*SplitFunction)(const RowArgs &a, const unsigned char *out);

// The row's printer bytes into the three planes.
static inline __attribute__((always_inline)) void SplitPlanes(const RowArgs &a, const unsigned char *__restrict out)
{
  unsigned char *__restrict r = a.planeR, *__restrict g = a.planeG, *__restrict b = a.planeB;
  // The count in a local: a byte store could change a.pixels as far as
  // the compiler knows, and the loop would not vectorise.
  const size_t pixels = a.pixels;
  for (size_t p = 0; p < pixels; p++)
  {
    r[p] = out[3 * p];
    g[p] = out[3 * p + 1];
    b[p] = out[3 * p + 2];
  }
}

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
template <class Smoother>
static inline __attribute__((always_inline)) void SmoothRow(size_t pixels, int32_t *__restrict S,
                                                            int32_t *__restrict M, int32_t *__restrict L)
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

// One row: the tone curve, the per-byte step, the planes, the smoothing.
template <class Smoother, ToneFunction Tone, SplitFunction Split, SmearFunction Smear = SmearRow>
static inline __attribute__((always_inline)) void RowBody(const RowArgs &a)
{
  Arrays &w = *a.w;
  const size_t pixels = a.pixels;
  Tone(a.src, pixels, a.lut, w.CompData);
  Smear(3 * pixels, a.LongWeight, w.CompData, w.Random, w.ShortHist, w.MiddleHist, w.LongHist, w.iStrongCnt,
        w.iRefData, w.Out);
  Split(a, w.Out);
  SmoothRow<Smoother>(pixels, w.ShortHist, w.MiddleHist, w.LongHist);
}

// Pixels per column block of a pair of rows.
constexpr size_t kPairBlock = 32;

// The smoothers of a pair of rows: row a's and row b's, begun and stepped
// apart, or both at once (where a version can put the two rows' steps into
// the same instructions).
template <class Smoother> struct TwoSmoothers
{
  Smoother a{}, b{};
  void BeginA(int32_t *S, int32_t *M, int32_t *L) { a.Begin(S, M, L); }
  void BeginB(int32_t *S, int32_t *M, int32_t *L) { b.Begin(S, M, L); }
  inline __attribute__((always_inline)) void StepA(size_t k) { a.Step(k); }
  inline __attribute__((always_inline)) void StepB(size_t k) { b.Step(k); }
  inline __attribute__((always_inline)) void StepBoth(size_t ka, size_t kb)
  {
    a.Step(ka);
    b.Step(kb);
  }
};

// Two rows, a and the next one b (its numbers drawn after a's), worked side
// by side.  The sideways smoothing is a recurrence from pixel to pixel whose
// every step waits for the one before, so one row leaves the processor
// mostly waiting; b's smoothing runs in the same loop as a's, a block of
// pixels behind it, and the two recurrences overlap.  Every entry sees the
// same steps in the same order as row after row: b's per-byte step on a
// block of pixels comes after a's smoothing has finished them, and b's
// smoothing at a pixel after b's per-byte step on the pixel to its right.
// Needs pixels >= 3.
template <class PairSmoother, ToneFunction Tone, SplitFunction Split, SmearFunction Smear = SmearRow>
static inline __attribute__((always_inline)) void PairBody(const RowArgs &a, const RowArgs &b)
{
  Arrays &w = *a.w;
  const size_t pixels = a.pixels, last = pixels - 1;
  int32_t *const S = w.ShortHist, *const M = w.MiddleHist, *const L = w.LongHist;
  Tone(a.src, pixels, a.lut, w.CompData);
  Tone(b.src, pixels, b.lut, w.CompData2);
  Smear(3 * pixels, a.LongWeight, w.CompData, w.Random, S, M, L, w.iStrongCnt, w.iRefData, w.Out);
  Split(a, w.Out);

  // Row a's smoothing runs over pixels 1..last-1, then its last pixel gets
  // back the values the lane past the step overwrote.
  const int32_t keepS = S[3 * last], keepM = M[3 * last], keepL = L[3 * last];
  PairSmoother s{};  // row b's begins once its first block is ready
  s.BeginA(S, M, L);
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
    s.StepA(3 * nextA);
  finishA();

  int32_t keepS2 = 0, keepM2 = 0, keepL2 = 0;
  for (size_t c0 = 0; c0 < pixels; c0 += kPairBlock)
  {
    // Row b's per-byte step on this block, whose row-a values are final.
    const size_t c1 = c0 + kPairBlock < pixels ? c0 + kPairBlock : pixels;
    const size_t i0 = 3 * c0, n = 3 * (c1 - c0);
    Smear(n, b.LongWeight, w.CompData2 + i0, w.Random2 + i0, S + i0, M + i0, L + i0, w.iStrongCnt + i0,
          w.iRefData + i0, w.Out2 + i0);
    if (c0 == 0)
      s.BeginB(S, M, L);
    if (c1 == pixels)
      keepS2 = S[3 * last], keepM2 = M[3 * last], keepL2 = L[3 * last];

    // Row a's smoothing over the next block, row b's up to the pixel before
    // this block's last, side by side.
    const size_t endA = c1 + kPairBlock < last ? c1 + kPairBlock : last;
    const size_t endB = c1 - 1 < last ? c1 - 1 : last;
    if (nextA < endA && nextB < endB)
    {
      // One count for the loop, so that a step tests one bound.
      const size_t both = endA - nextA < endB - nextB ? endA - nextA : endB - nextB;
      for (size_t j = 0; j < both; j++)
        s.StepBoth(3 * (nextA + j), 3 * (nextB + j));
      nextA += both, nextB += both;
    }
    for (; nextA < endA; nextA++)
      s.StepA(3 * nextA);
    for (; nextB < endB; nextB++)
      s.StepB(3 * nextB);
    finishA();
  }
  S[3 * last] = keepS2, M[3 * last] = keepM2, L[3 * last] = keepL2;
  Split(b, w.Out2);
}

// The versions of a row and of a pair of rows for each vector level.
void RowPortable(const RowArgs &a);
void PairPortable(const RowArgs &a, const RowArgs &b);
#if defined(__x86_64__) && defined(__GNUC__)
#define KELVO_SMEAR_X86 1
void RowAvx2(const RowArgs &a);
void PairAvx2(const RowArgs &a, const RowArgs &b);
void PairAvx512(const RowArgs &a, const RowArgs &b);
#endif

}  // namespace smear
