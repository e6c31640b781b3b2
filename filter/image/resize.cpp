// Resizing of the page picture.  Enlargement samples the enlarged picture
// bilinearly and keeps its centre window; reduction averages exact areas on
// an integer grid and centres the result on a white page.  The page keeps
// its size in pixels in both cases.
#include "resize.h"

#include "page_buffers.h"
#include "parallel.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <utility>
#include <vector>

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
  std::unique_ptr<unsigned char[]> scratch = Scratch(rowBytes * biHeight);
  std::unique_ptr<Sample[]> columns(new (std::nothrow) Sample[biWidth]);
  std::unique_ptr<Sample[]> rows(new (std::nothrow) Sample[biHeight]);
  if (!scratch || !columns || !rows)
    return kStageNoMemory;

  // The sample positions step by repeated addition, as x2 += bx and
  // y2 += by: the same for every row and every column, so worked out once.
  SamplePositions(left * bx, bx, biWidth, columns.get());
  SamplePositions(top * by, by, biHeight, rows.get());

  ParallelRows(biHeight, 16, [&](int begin, int end) {
    for (int y = begin; y < end; y++)
    {
      const Sample &sy = rows[y];
      const double py = sy.p;
      const unsigned char *row0 = pSrcBitmap + (size_t)sy.i0 * rowBytes;
      const unsigned char *row1 = pSrcBitmap + (size_t)sy.i1 * rowBytes;
      unsigned char *out = scratch.get() + (size_t)y * rowBytes;
      for (int x = 0; x < biWidth; x++)
      {
        const Sample &sx = columns[x];
        const double px = sx.p;
        const double pxy = px * py;
        const unsigned char *a0 = row0 + 3 * (size_t)sx.i0, *a1 = row0 + 3 * (size_t)sx.i1;
        const unsigned char *b0 = row1 + 3 * (size_t)sx.i0, *b1 = row1 + 3 * (size_t)sx.i1;
        for (int i = 0; i < 3; i++)
        {
          const int P00 = a0[i], P10 = a1[i], P01 = b0[i], P11 = b1[i];
          const double v = (double)(P00 - P10 - P01 + P11) * pxy + (double)(P10 - P00) * px +
                           (double)(P01 - P00) * py + (double)P00;
          out[3 * x + i] = ClampByte((int)v);
        }
      }
    }
  });

  memcpy(pSrcBitmap, scratch.get(), rowBytes * biHeight);
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

inline uint32_t Quotient(const Walk &w, uint32_t x) { return (uint32_t)(((uint64_t)x * w.m) >> w.k); }

// One source row reduced along the row into tarWidth pixels.
void ReduceRow(const unsigned char *src, const Walk &w, int tarWidth, unsigned char *dst)
{
  for (int j = 0; j < tarWidth; j++)
  {
    uint32_t r = 0, g = 0, b = 0;
    const int *source = &w.source[(size_t)j * w.runs], *units = &w.units[(size_t)j * w.runs];
    for (int n = 0; n < w.runs; n++)
    {
      const unsigned char *s = src + 3 * (size_t)source[n];
      const uint32_t num = (uint32_t)units[n];
      r += num * s[0];
      g += num * s[1];
      b += num * s[2];
    }
    dst[3 * j] = (unsigned char)Quotient(w, r);
    dst[3 * j + 1] = (unsigned char)Quotient(w, g);
    dst[3 * j + 2] = (unsigned char)Quotient(w, b);
  }
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
  // the row (keeping the last one, which the next target row may share)
  // and sums them down the columns.
  const int bands = BandCount(tarHeight, 8);
  // Per band: the column sums (uint32_t, first, each band's share a
  // multiple of 16 bytes so that they stay aligned), then two reduced rows.
  const size_t perBand = (tarRowBytes * sizeof(uint32_t) + 2 * tarRowBytes + 15) / 16 * 16;
  std::unique_ptr<unsigned char[]> bandScratch = Scratch(perBand * bands);
  if (!bandScratch)
    return kStageNoMemory;
  const size_t srcRowBytes = 3 * (size_t)biWidth;
  RunBands(bands, [&](int band) {
    unsigned char *base = bandScratch.get() + perBand * band;
    uint32_t *acc = reinterpret_cast<uint32_t *>(base);
    unsigned char *reduced = base + tarRowBytes * sizeof(uint32_t);
    unsigned char *kept = reduced + tarRowBytes;
    int keptRow = -1;
    for (int i = BandStart(tarHeight, bands, band); i < BandStart(tarHeight, bands, band + 1); i++)
    {
      memset(acc, 0, tarRowBytes * sizeof(uint32_t));
      for (size_t n = (size_t)i * down.runs; n < (size_t)(i + 1) * down.runs; n++)
      {
        const uint32_t num = (uint32_t)down.units[n];
        if (num == 0)
          continue;
        const int s = down.source[n];
        const unsigned char *row;
        if (s == keptRow)
          row = kept;
        else
        {
          ReduceRow(pSrcBitmap + (size_t)s * srcRowBytes, across, tarWidth, reduced);
          std::swap(reduced, kept);
          keptRow = s;
          row = kept;
        }
        for (size_t k = 0; k < tarRowBytes; k++)
          acc[k] += num * row[k];
      }
      unsigned char *dst = result.get() + (size_t)i * tarRowBytes;
      for (size_t k = 0; k < tarRowBytes; k++)
      {
        const uint32_t q = Quotient(down, acc[k]);
        dst[k] = (unsigned char)(q < 255 ? q : 255);
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
