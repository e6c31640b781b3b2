// Smear control: the tone curve of the print mode, the long,
// middle and short per-position histories with the strong step after a
// sudden change, the sideways smoothing and the MT19937 dither.  The row
// steps are in smear_rows.h; the versions built for AVX2 and AVX-512 in
// smear_control_avx2.cpp and smear_control_avx512.cpp.
#include "smear_control.h"

#include "page_buffers.h"
#include "parallel.h"
#include "smear_rows.h"
#include "vector_level.h"
#include "random/mt19937ar.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

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

namespace smear {
namespace {
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

// 150 * v + 724 * c as 148 * (v + c) + 2 * v + 576 * c: six shifts where
// the two products apart take nine.
inline Lanes ShortTerms(Lanes v, Lanes c)
{
  const UnsignedLanes x = (UnsignedLanes)v, y = (UnsignedLanes)c, u = x + y;
  return (Lanes)(((u << 7) + (u << 4)) + ((u << 2) + (x << 1)) + ((y << 9) + (y << 6)));
}

inline Lanes Times510(Lanes v)
{
  const UnsignedLanes u = (UnsignedLanes)v;
  return (Lanes)((u << 9) - (u << 1));
}

inline Lanes Times4(Lanes v) { return (Lanes)((UnsignedLanes)v << 2); }

// The smoother of SmoothRow in four lanes.
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
    ps = ShortTerms(ps + ns, cs) >> 10;
    pm = (Times510(pm + nm) + Times4(cm)) >> 10;
    pl = (Times510(pl + nl) + Times4(cl)) >> 10;
    Store(S + k, ps);
    Store(M + k, pm);
    Store(L + k, pl);
    cs = ns, cm = nm, cl = nl;
  }
};

}  // namespace

// The portable version: SSE2 on x86-64, NEON on ARM.
void RowPortable(const RowArgs &a) { RowBody<SmootherPortable, ToneRow, SplitPlanes>(a); }
void PairPortable(const RowArgs &a, const RowArgs &b)
{
  PairBody<TwoSmoothers<SmootherPortable>, ToneRow, SplitPlanes>(a, b);
}

}  // namespace smear

namespace {

using namespace smear;

// Working arrays of n entries each, in one block.
struct WorkingArrays : Arrays
{
  int32_t *block = nullptr;

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

typedef void (*RowFunction)(const RowArgs &);
typedef void (*PairFunction)(const RowArgs &, const RowArgs &);

// The widest versions the processor offers within the vector limit; all do
// the same integer arithmetic, so the bytes are the same.
RowFunction ChooseRow()
{
#ifdef KELVO_SMEAR_X86
  if (StageVectorLevel() >= kVectorAvx2)
    return RowAvx2;
#endif
  return RowPortable;
}

PairFunction ChoosePair()
{
#ifdef KELVO_SMEAR_X86
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
    SmoothRow<smear::SmootherPortable>(pixels, w.ShortHist, w.MiddleHist, w.LongHist);
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
