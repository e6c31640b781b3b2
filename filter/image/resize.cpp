// Resizing of the page picture.  Enlargement samples the enlarged picture
// bilinearly and keeps its centre window; reduction averages exact areas on
// an integer grid and centres the result on a white page.  The page keeps
// its size in pixels in both cases.  The row loops are in resize_rows.h;
// their versions built for AVX2 and AVX-512 in resize_avx2.cpp and
// resize_avx512.cpp.
#include "resize.h"

#include "page_buffers.h"
#include "parallel.h"
#include "resize_rows.h"
#include "vector_level.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

namespace resize {

// The portable versions of the row loops: SSE2 on x86-64, NEON on ARM.
void BlendRowPortable(const BlendArgs &a) { BlendRowBody(a); }
void ReduceRowPortable(const ReduceArgs &a) { ReduceRowBody(a); }
void DownRowPortable(const DownArgs &a) { DownRowBody(a); }

}  // namespace resize

using namespace resize;

namespace {

// Scratch picture of n bytes, or null when the memory is not there.
std::unique_ptr<unsigned char[]> Scratch(size_t n)
{
  return std::unique_ptr<unsigned char[]>(new (std::nothrow) unsigned char[n]);
}

// (iMagnification + 100) / 100.0, formed without int overflow.
double Magnification(int iMagnification)
{
  return (double)((long long)iMagnification + 100) / 100.0;
}

// Reduced size along one axis: the product truncated, never above n.  A
// size under 1 pixel (a reduction by 100 % or more, or a tiny page) is
// raised to 1 so that the grid stays defined.
int ReducedSize(double Magnification, int n)
{
  double t = Magnification * n;
  if (!(t >= 1.0))
    return 1;
  return (int)t;
}

// A sample position along an axis: the pixel before it, the pixel after it
// (both kept inside the picture) and the fraction between them.
struct Sample
{
  int i0, i1;
  double p;
};

// Positions start, start + step, ... as the repeated sum gives them.  An
// axis that is not scaled samples its last pixel exactly, with a neighbour
// of weight 0 one past the edge: read the edge instead.
void SamplePositions(double start, double step, int n, Sample *out)
{
  double pos = start;
  for (int k = 0; k < n; k++)
  {
    const int i = (int)pos;
    out[k].p = pos - i;
    out[k].i0 = i < n - 1 ? i : n - 1;
    out[k].i1 = i + 1 < n - 1 ? i + 1 : n - 1;
    pos += step;
  }
}

// The enlargement works on "expanded" rows: for a source row, L holds the
// bytes of the pixel before every output column's sample (pixel i0 of
// column x at bytes 3x..3x+2) and R those of the pixel after it (i1).  The
// four corners of every output byte are then at the same index of four
// expanded rows, and an output row is one contiguous loop over its bytes.

// A run of output columns whose pixels are consecutive source pixels:
// columns x..x+n-1 take pixels i..i+n-1.
struct Segment
{
  int x, i, n;
};

// How to build an expanded row: its runs, and on processors with a byte
// permute (AVX-512 VBMI) its chunks of `chunk` output pixels, chunk c
// taking output byte t from source byte offsets[c] + index[64 * c + t]
// (a 64-byte window inside the source row).  chunk is 0 when some window
// would not fit: the runs then serve.
struct Expansion
{
  std::vector<Segment> segments;
  int chunk = 0;
  std::vector<size_t> offsets;
  std::vector<unsigned char> index;
};

// The expansion of a row of width output columns, column x taking source
// pixel pixelOf(x) of a row of rowBytes bytes.  Throws std::bad_alloc.
template <class PixelOf> void MakeExpansion(int width, size_t rowBytes, PixelOf pixelOf, Expansion &e)
{
  for (int x = 0; x < width; x++)
  {
    const int i = pixelOf(x);
    if (!e.segments.empty() && e.segments.back().i + e.segments.back().n == i)
      e.segments.back().n++;
    else
      e.segments.push_back({x, i, 1});
  }
  if (rowBytes < 64)
    return;
  // The widest chunk (at most 21 pixels, 63 bytes) whose windows all fit.
  for (int chunk = 21; chunk >= 4; chunk--)
  {
    bool fits = true;
    for (int x = 0; x < width && fits; x += chunk)
    {
      int lo = pixelOf(x), hi = lo;
      for (int t = x + 1; t < x + chunk && t < width; t++)
        lo = std::min(lo, pixelOf(t)), hi = std::max(hi, pixelOf(t));
      fits = 3 * (size_t)(hi - lo) + 3 <= 64;
    }
    if (!fits)
      continue;
    const int chunks = (width + chunk - 1) / chunk;
    e.chunk = chunk;
    e.offsets.assign(chunks, 0);
    e.index.assign(64 * (size_t)chunks, 0);
    for (int c = 0; c < chunks; c++)
    {
      const int x0 = c * chunk;
      int lo = pixelOf(x0);
      for (int t = x0 + 1; t < x0 + chunk && t < width; t++)
        lo = std::min(lo, pixelOf(t));
      // The window starts at the lowest pixel, or ends at the row's end.
      const size_t offset = std::min(3 * (size_t)lo, rowBytes - 64);
      e.offsets[c] = offset;
      for (int t = x0; t < x0 + chunk && t < width; t++)
        for (int b = 0; b < 3; b++)
          e.index[64 * (size_t)c + 3 * (t - x0) + b] = (unsigned char)(3 * (size_t)pixelOf(t) + b - offset);
    }
    return;
  }
}

// Bytes past the end of an expanded row that the building may write.
constexpr size_t kExpandPad = 64;

// Builds the expanded row out from the source row src (rowBytes bytes) by
// its runs.  A run is copied in 32-byte pieces that may run past its end,
// as long as they stay inside the source row: the next run, or the
// padding, takes the bytes that are too many.  (At small enlargements most
// runs take one piece.)
void ExpandByRuns(const unsigned char *src, size_t rowBytes, const Expansion &e, unsigned char *out)
{
  for (const Segment &s : e.segments)
  {
    const unsigned char *from = src + 3 * (size_t)s.i;
    unsigned char *to = out + 3 * (size_t)s.x;
    const size_t n = 3 * (size_t)s.n;
    if (3 * (size_t)s.i + ((n + 31) & ~(size_t)31) <= rowBytes)
      for (size_t k = 0; k < n; k += 32)
        memcpy(to + k, from + k, 32);
    else
      memcpy(to, from, n);
  }
}

// By chunks, where the processor has a byte permute (AVX-512 VBMI): one
// permute of the chunk's window each (resize_avx512.cpp).  Null elsewhere.
PermuteFunction ChoosePermutes()
{
#ifdef KELVO_RESIZE_X86
  if (StageVectorLevel() >= kVectorAvx512)
    return ExpandByPermutesAvx512;
#endif
  return nullptr;
}

inline void Expand(const unsigned char *src, size_t rowBytes, const Expansion &e, PermuteFunction permute,
                   unsigned char *out)
{
  if (permute != nullptr && e.chunk != 0)
    permute(src, 3 * (size_t)e.chunk, e.offsets.size(), e.offsets.data(), e.index.data(), out);
  else
    ExpandByRuns(src, rowBytes, e, out);
}

// The widest version the processor offers within the vector limit.
BlendRowFunction ChooseBlendRow()
{
#ifdef KELVO_RESIZE_X86
  if (StageVectorLevel() >= kVectorAvx512)
    return BlendRowAvx512;
  if (StageVectorLevel() >= kVectorAvx2)
    return BlendRowAvx2;
#endif
  return BlendRowPortable;
}

// The enlargement works in place.  A band makes its output rows in an
// order that mostly reads a source row before the band writes over it: top
// down while a row's samples lie at or below it (the upper part of the
// page), then bottom up.  Each output row needs the expansions of its two
// source rows; a band holds the last two in its slots 0 and 1.  BandRows
// calls expand(s, slot) for every expansion it has to build and
// make(y, upperSlot, lowerSlot) for every output row, in the band's order;
// the same calls come whenever it is called for the same band, so a dry run
// finds the source rows that must be saved before the bands start: those
// of other bands, and the band's own rows read after it wrote them.
template <class ExpandRow, class MakeRow>
void BandRows(const Sample *rows, int begin, int end, ExpandRow expand, MakeRow make)
{
  int held[2] = {-1, -1};
  // The slot of source row s, built into the one not holding row keep when
  // s is not held already.
  auto slotOf = [&](int s, int keep) {
    for (int h = 0; h < 2; h++)
      if (held[h] == s)
        return h;
    const int h = held[0] == keep ? 1 : 0;
    expand(s, h);
    held[h] = s;
    return h;
  };
  auto one = [&](int y) {
    const int upper = slotOf(rows[y].i0, rows[y].i1);
    make(y, upper, slotOf(rows[y].i1, rows[y].i0));
  };
  int turn = begin;
  while (turn < end && rows[turn].i0 >= turn)
    one(turn++);
  for (int y = end - 1; y >= turn; y--)
    one(y);
}

}  // namespace

int ResizePicture(unsigned char *pSrcBitmap, int biWidth, int biHeight, int iMagnificationX,
                  int iMagnificationY)
{
  if (iMagnificationX == 0 && iMagnificationY == 0)
    return 0;
  // A reduction is not this function's job, and a picture under 3 pixels
  // has no room for the right and lower neighbours of its samples.
  if (iMagnificationX < 0 || iMagnificationY < 0 || biWidth < 3 || biHeight < 3)
    return 0;

  const double MagnificationX = Magnification(iMagnificationX);
  const double MagnificationY = Magnification(iMagnificationY);
  const double bx = 1.0 / MagnificationX;
  const double by = 1.0 / MagnificationY;
  // The enlarged size only serves for the margins; keep it in 64 bits, as
  // the product of a large percentage and a wide page may pass 2^31.
  const long long tarWidth = (long long)(MagnificationX * biWidth);
  const long long tarHeight = (long long)(MagnificationY * biHeight);
  const long long left = (tarWidth - biWidth) / 2;
  const long long top = (tarHeight - biHeight) / 2;

  const size_t rowBytes = 3 * (size_t)biWidth;
  std::unique_ptr<Sample[]> columns(new (std::nothrow) Sample[biWidth]);
  std::unique_ptr<Sample[]> rows(new (std::nothrow) Sample[biHeight]);
  std::unique_ptr<double[]> px(new (std::nothrow) double[rowBytes]);
  if (!columns || !rows || !px)
    return kStageNoMemory;

  // The sample positions step by repeated addition, as x2 += bx and
  // y2 += by: the same for every row and every column, so worked out once.
  SamplePositions(left * bx, bx, biWidth, columns.get());
  SamplePositions(top * by, by, biHeight, rows.get());
  for (int x = 0; x < biWidth; x++)
    px[3 * (size_t)x] = px[3 * (size_t)x + 1] = px[3 * (size_t)x + 2] = columns[x].p;
  // Bands are handed to the threads as they come free, several per thread,
  // so that a thread held up (a busy core) leaves its share to the others.
  const int threads = BandCount(biHeight, 16);
  const int bands = threads == 1 ? 1 : std::min(4 * threads, biHeight / 16);
  Expansion before, after;
  // The saved source rows: row s at saved + rowBytes * savedAt[s], or not
  // saved (-1).
  std::vector<int> savedAt;
  int savedRows = 0;
  try
  {
    MakeExpansion(biWidth, rowBytes, [&](int x) { return columns[x].i0; }, before);
    MakeExpansion(biWidth, rowBytes, [&](int x) { return columns[x].i1; }, after);
    savedAt.assign(biHeight, -1);
    std::vector<char> written(biHeight, 0);
    for (int band = 0; band < bands; band++)
    {
      const int begin = BandStart(biHeight, bands, band), end = BandStart(biHeight, bands, band + 1);
      BandRows(
          rows.get(), begin, end,
          [&](int s, int) {
            if ((s < begin || s >= end || written[s]) && savedAt[s] < 0)
              savedAt[s] = savedRows++;
          },
          [&](int y, int, int) { written[y] = 1; });
    }
  }
  catch (const std::bad_alloc &)
  {
    return kStageNoMemory;
  }

  // The saved rows, and per band the expanded rows (L and R) of its two
  // slots.
  std::unique_ptr<unsigned char[]> saved = Scratch(rowBytes * savedRows);
  const size_t expandedBytes = rowBytes + kExpandPad;
  std::unique_ptr<unsigned char[]> expanded = Scratch(4 * expandedBytes * threads);
  if ((savedRows != 0 && !saved) || !expanded)
    return kStageNoMemory;
  for (int s = 0; s < biHeight; s++)
    if (savedAt[s] >= 0)
      memcpy(saved.get() + rowBytes * savedAt[s], pSrcBitmap + rowBytes * s, rowBytes);
  const BlendRowFunction blendRow = ChooseBlendRow();
  const PermuteFunction permute = ChoosePermutes();

  std::atomic<int> next{0};
  RunBands(threads, [&](int thread) {
    unsigned char *const base = expanded.get() + 4 * expandedBytes * thread;
    unsigned char *const slot[2] = {base, base + 2 * expandedBytes};
    for (int band; (band = next.fetch_add(1)) < bands;)
      BandRows(
          rows.get(), BandStart(biHeight, bands, band), BandStart(biHeight, bands, band + 1),
          [&](int s, int h) {
            const unsigned char *src =
                savedAt[s] >= 0 ? saved.get() + rowBytes * savedAt[s] : pSrcBitmap + rowBytes * s;
            Expand(src, rowBytes, before, permute, slot[h]);
            Expand(src, rowBytes, after, permute, slot[h] + expandedBytes);
          },
          [&](int y, int upper, int lower) {
            blendRow({slot[upper], slot[upper] + expandedBytes, slot[lower], slot[lower] + expandedBytes,
                      px.get(), rows[y].p, rowBytes, pSrcBitmap + rowBytes * y});
          });
  });
  return 0;
}

namespace {

// The walk of one axis of the reduction: target pixel j covers grid units
// j * U to j * U + U - 1, source pixel p / S holds unit p.  Each target
// pixel is a list of runs (source pixel, units), all lists padded with
// runs of 0 units to the same length, runs, so that the loops over them
// have one trip count: target j has entries j * runs .. j * runs + runs - 1.
struct Walk
{
  int U = 1;
  int runs = 0;
  std::vector<int> source, units;
  // Division by U for sums under 2^24: (x * m) >> k, exact (see Divider).
  uint32_t m = 1;
  int k = 0;
};

// Sets m and k so that (x * m) >> k == x / U for every x below 2^24:
// k = 24 + ceil(log2 U) and m = ceil(2^k / U) make m * U - 2^k < U <=
// 2^(k - 24), the condition for an exact quotient.  x * m stays under 2^49.
void Divider(Walk &w)
{
  int log2U = 0;
  while ((1LL << log2U) < w.U)
    log2U++;
  w.k = 24 + log2U;
  w.m = (uint32_t)((((uint64_t)1 << w.k) + (uint64_t)w.U - 1) / (uint64_t)w.U);
}

bool MakeWalk(int tar, int src, Walk &w)
{
  // U and S are the sizes divided by their common divisor and fit an int;
  // the grid and the unit positions can pass 2^31 for large coprime sizes
  // and are kept in 64 bits.
  const long long G = CalcLCM(tar, src);
  w.U = (int)(G / tar);
  const int S = (int)(G / src);
  try
  {
    std::vector<int> first((size_t)tar + 1), source, units;
    source.reserve((size_t)tar + src);
    units.reserve((size_t)tar + src);
    for (int j = 0; j < tar; j++)
    {
      first[j] = (int)source.size();
      int l = 0;
      while (l < w.U)
      {
        const long long p = (long long)j * w.U + l;
        const int num = min(w.U - l, S - (int)(p % S));
        source.push_back((int)(p / S));
        units.push_back(num);
        l += num;
      }
    }
    first[tar] = (int)source.size();
    for (int j = 0; j < tar; j++)
      w.runs = std::max(w.runs, first[j + 1] - first[j]);
    w.source.assign((size_t)tar * w.runs, 0);
    w.units.assign((size_t)tar * w.runs, 0);
    for (int j = 0; j < tar; j++)
      for (int n = first[j]; n < first[j + 1]; n++)
      {
        w.source[(size_t)j * w.runs + n - first[j]] = source[n];
        w.units[(size_t)j * w.runs + n - first[j]] = units[n];
      }
  }
  catch (const std::bad_alloc &)
  {
    return false;
  }
  Divider(w);
  return true;
}

// The reduction along a row, arranged like the enlargement: for run n of
// every target pixel, an expanded row holds the bytes of the run's source
// pixel at the target pixel's bytes, and weights[n] the run's units for
// every target byte.  A padding run (0 units) points at a pixel inside the
// row, so that its bytes are there to be multiplied by 0.
struct Across
{
  int runs = 0;
  std::vector<Expansion> expansions;
  // The units of every target byte, runs rows of tarRowBytes: 16-bit when
  // U is at most 65535, else 32-bit (see ReduceArgs).
  std::vector<uint16_t> weights16;
  std::vector<uint32_t> weights32;
};

// With narrowUnits, 16-bit units where U allows them.
bool MakeAcross(const Walk &w, int tarWidth, int srcWidth, bool narrowUnits, Across &a)
{
  a.runs = w.runs;
  const size_t tarRowBytes = 3 * (size_t)tarWidth;
  try
  {
    a.expansions.resize(w.runs);
    const bool narrow = narrowUnits && w.U <= 65535;
    if (narrow)
      a.weights16.assign((size_t)w.runs * tarRowBytes, 0);
    else
      a.weights32.assign((size_t)w.runs * tarRowBytes, 0);
    for (int n = 0; n < w.runs; n++)
    {
      // The runs of a target pixel are consecutive source pixels.
      MakeExpansion(tarWidth, 3 * (size_t)srcWidth, [&](int j) {
        const int i = w.source[(size_t)j * w.runs] + n;
        return i < srcWidth - 1 ? i : srcWidth - 1;
      }, a.expansions[n]);
      for (int j = 0; j < tarWidth; j++)
        for (int c = 0; c < 3; c++)
        {
          const size_t at = n * tarRowBytes + 3 * (size_t)j + c;
          const int units = w.units[(size_t)j * w.runs + n];
          if (narrow)
            a.weights16[at] = (uint16_t)units;
          else
            a.weights32[at] = (uint32_t)units;
        }
    }
  }
  catch (const std::bad_alloc &)
  {
    return false;
  }
  return true;
}

// The row functions of the reduction, as ChooseBlendRow.
void ChooseReduction(ReduceRowFunction &reduceRow, DownRowFunction &downRow)
{
#ifdef KELVO_RESIZE_X86
  if (StageVectorLevel() >= kVectorAvx512)
  {
    reduceRow = ReduceRowAvx512, downRow = DownRowAvx512;
    return;
  }
  if (StageVectorLevel() >= kVectorAvx2)
  {
    reduceRow = ReduceRowAvx2, downRow = DownRowAvx2;
    return;
  }
#endif
  reduceRow = ReduceRowPortable, downRow = DownRowPortable;
}

}  // namespace

int ResizePictureAverage(unsigned char *pSrcBitmap, int biWidth, int biHeight, int iMagnificationX,
                         int iMagnificationY)
{
  if (iMagnificationX == 0 && iMagnificationY == 0)
    return 0;
  if (iMagnificationX > 0 || iMagnificationY > 0 || biWidth < 1 || biHeight < 1)
    return 0;

  const int tarWidth = ReducedSize(Magnification(iMagnificationX), biWidth);
  const int tarHeight = ReducedSize(Magnification(iMagnificationY), biHeight);

  // Sums of a target value: at most U units of 255, U at most 65535, so
  // under 2^24 and exact in 32 bits.
  Walk across, down;
  if (!MakeWalk(tarWidth, biWidth, across) || !MakeWalk(tarHeight, biHeight, down))
    return kStageNoMemory;

  const size_t tarRowBytes = 3 * (size_t)tarWidth;
  std::unique_ptr<unsigned char[]> result = Scratch(tarRowBytes * tarHeight);
  if (!result)
    return kStageNoMemory;

  // Target rows in bands: each band reduces the source rows it needs along
  // the row (keeping the last few, which the next target row may share)
  // and sums them down the columns.
  const int bands = BandCount(tarHeight, 8);
  // Per band: the column sums (for many runs down) and those along the
  // row (for many runs across), a ring of four reduced rows and the
  // expanded rows, each a multiple of 64 bytes so that the sums stay
  // aligned.
  ReduceRowFunction reduceRow;
  DownRowFunction downRow;
  ChooseReduction(reduceRow, downRow);
  // 16-bit units pay with 128-bit vectors; with AVX2 they measured no
  // faster, and those versions keep 32-bit ones.
  Across along;
  if (!MakeAcross(across, tarWidth, biWidth, reduceRow == ReduceRowPortable, along))
    return kStageNoMemory;
  const size_t sumBytes = (tarRowBytes * sizeof(uint32_t) + 63) / 64 * 64;
  const size_t reducedBytes = (tarRowBytes + 63) / 64 * 64;
  const size_t expandedBytes = (tarRowBytes + kExpandPad + 63) / 64 * 64;
  constexpr int kRing = 4;
  const size_t perBand = 2 * sumBytes + kRing * reducedBytes + along.runs * expandedBytes;
  std::unique_ptr<unsigned char[]> bandScratch = Scratch(perBand * bands);
  std::unique_ptr<unsigned char *[]> expandedRows(new (std::nothrow) unsigned char *[(size_t)along.runs * bands]);
  if (!bandScratch || !expandedRows)
    return kStageNoMemory;
  const size_t srcRowBytes = 3 * (size_t)biWidth;
  const PermuteFunction permute = ChoosePermutes();
  RunBands(bands, [&](int band) {
    unsigned char *base = bandScratch.get() + perBand * band;
    uint32_t *acc = reinterpret_cast<uint32_t *>(base);
    uint32_t *rowAcc = reinterpret_cast<uint32_t *>(base + sumBytes);
    unsigned char *ring = base + 2 * sumBytes;
    unsigned char **expanded = expandedRows.get() + (size_t)along.runs * band;
    for (int n = 0; n < along.runs; n++)
      expanded[n] = ring + kRing * reducedBytes + n * expandedBytes;
    // Source row s reduced along the row, in ring slot s % kRing unless it
    // is there already.  The runs of a target row are consecutive source
    // rows, so up to three of them (and the last of the target row before)
    // have slots of their own.
    int held[kRing] = {-1, -1, -1, -1};
    auto reducedRow = [&](int s) -> const unsigned char * {
      unsigned char *slot = ring + (size_t)(s % kRing) * reducedBytes;
      if (held[s % kRing] != s)
      {
        const unsigned char *src = pSrcBitmap + (size_t)s * srcRowBytes;
        for (int n = 0; n < along.runs; n++)
          Expand(src, srcRowBytes, along.expansions[n], permute, expanded[n]);
        reduceRow({expanded, along.weights16.empty() ? nullptr : along.weights16.data(),
                   along.weights32.empty() ? nullptr : along.weights32.data(), tarRowBytes, along.runs, tarRowBytes,
                   across.m, across.k, rowAcc, slot});
        held[s % kRing] = s;
      }
      return slot;
    };
    const uint32_t m = down.m;
    const int k = down.k;
    for (int i = BandStart(tarHeight, bands, band); i < BandStart(tarHeight, bands, band + 1); i++)
    {
      unsigned char *dst = result.get() + (size_t)i * tarRowBytes;
      const int *source = &down.source[(size_t)i * down.runs];
      const int *units = &down.units[(size_t)i * down.runs];
      if (down.runs <= 3)
      {
        // Padding runs (0 units) read a row already there.
        DownArgs a = {{}, {}, down.runs, tarRowBytes, m, k, dst};
        for (int n = 0; n < down.runs; n++)
        {
          a.rows[n] = n == 0 || units[n] != 0 ? reducedRow(source[n]) : a.rows[0];
          a.units[n] = (uint32_t)units[n];
        }
        downRow(a);
        continue;
      }
      memset(acc, 0, tarRowBytes * sizeof(uint32_t));
      for (int n = 0; n < down.runs; n++)
      {
        const uint32_t num = (uint32_t)units[n];
        if (num == 0)
          continue;
        const unsigned char *row = reducedRow(source[n]);
        for (size_t j = 0; j < tarRowBytes; j++)
          acc[j] += num * row[j];
      }
      for (size_t j = 0; j < tarRowBytes; j++)
      {
        const uint32_t q = (uint32_t)(((uint64_t)acc[j] * m) >> k);
        dst[j] = (unsigned char)(q < 255 ? q : 255);
      }
    }
  });

  // White page, the result in its middle: each row is white around the
  // result's row, or white throughout above and below the result.
  const size_t pageRowBytes = 3 * (size_t)biWidth;
  const int left = biWidth / 2 - tarWidth / 2;
  const int top = biHeight / 2 - tarHeight / 2;
  ParallelRows(biHeight, 64, [&](int begin, int end) {
    for (int y = begin; y < end; y++)
    {
      unsigned char *row = pSrcBitmap + (size_t)y * pageRowBytes;
      if (y < top || y >= top + tarHeight)
      {
        memset(row, 255, pageRowBytes);
        continue;
      }
      memset(row, 255, 3 * (size_t)left);
      memcpy(row + 3 * (size_t)left, result.get() + (size_t)(y - top) * tarRowBytes, tarRowBytes);
      memset(row + 3 * (size_t)left + tarRowBytes, 255, pageRowBytes - 3 * (size_t)left - tarRowBytes);
    }
  });
  return 0;
}

long long CalcLCM(long long a, long long b)
{
  if (a <= 0 || b <= 0)
    return 0;
  const long long L = a >= b ? a : b;
  const long long s = a >= b ? b : a;
  long long sum = s;
  while (sum % L != 0)
    sum += s;
  return sum;
}

int min(int x, int y) { return x <= y ? x : y; }
int max(int x, int y) { return x >= y ? x : y; }
