// The straightforward resizing: bilinear enlargement into a whole scratch
// picture, and area-averaged reduction through two scratch pictures.
#include "oracle/oracle.h"

#include "page_buffers.h"

#include <cstring>
#include <memory>
#include <new>

namespace {

int OracleMin(int x, int y) { return x <= y ? x : y; }

long long OracleCalcLCM(long long a, long long b)
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

}  // namespace

int OracleResizePicture(unsigned char *pSrcBitmap, int biWidth, int biHeight, int iMagnificationX,
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
  if (!scratch)
    return kStageNoMemory;

  double y2 = top * by;
  for (int y = 0; y < biHeight; y++)
  {
    const int iy = (int)y2;
    const double py = y2 - iy;
    // An axis that is not scaled samples its last pixel exactly, with a
    // lower neighbour of weight 0 one past the edge: read the edge instead.
    const int iy0 = iy < biHeight - 1 ? iy : biHeight - 1;
    const int iy1 = iy + 1 < biHeight - 1 ? iy + 1 : biHeight - 1;
    const unsigned char *row0 = pSrcBitmap + (size_t)iy0 * rowBytes;
    const unsigned char *row1 = pSrcBitmap + (size_t)iy1 * rowBytes;
    unsigned char *out = scratch.get() + (size_t)y * rowBytes;

    double x2 = left * bx;
    for (int x = 0; x < biWidth; x++)
    {
      const int ix = (int)x2;
      const double px = x2 - ix;
      const int ix0 = ix < biWidth - 1 ? ix : biWidth - 1;
      const int ix1 = ix + 1 < biWidth - 1 ? ix + 1 : biWidth - 1;
      const double pxy = px * py;
      for (int i = 0; i < 3; i++)
      {
        const int P00 = row0[3 * ix0 + i];
        const int P10 = row0[3 * ix1 + i];
        const int P01 = row1[3 * ix0 + i];
        const int P11 = row1[3 * ix1 + i];
        const double v = (double)(P00 - P10 - P01 + P11) * pxy + (double)(P10 - P00) * px +
                         (double)(P01 - P00) * py + (double)P00;
        out[3 * x + i] = ClampByte((int)v);
      }
      x2 += bx;
    }
    y2 += by;
  }

  memcpy(pSrcBitmap, scratch.get(), rowBytes * biHeight);
  return 0;
}

int OracleResizePictureAverage(unsigned char *pSrcBitmap, int biWidth, int biHeight, int iMagnificationX,
                         int iMagnificationY)
{
  if (iMagnificationX == 0 && iMagnificationY == 0)
    return 0;
  if (iMagnificationX > 0 || iMagnificationY > 0 || biWidth < 1 || biHeight < 1)
    return 0;

  const int tarWidth = ReducedSize(Magnification(iMagnificationX), biWidth);
  const int tarHeight = ReducedSize(Magnification(iMagnificationY), biHeight);

  const size_t tarRowBytes = 3 * (size_t)tarWidth;
  std::unique_ptr<unsigned char[]> middle = Scratch(tarRowBytes * biHeight);
  std::unique_ptr<unsigned char[]> result = Scratch(tarRowBytes * tarHeight);
  if (!middle || !result)
    return kStageNoMemory;

  // Along rows: target pixel j covers grid units j * U to j * U + U - 1,
  // source pixel p / S holds unit p.  U and S are the page sizes divided
  // by their common divisor and fit an int; the grid and the unit positions
  // can pass 2^31 for large coprime sizes and are kept in 64 bits.
  {
    const long long G = OracleCalcLCM(tarWidth, biWidth);
    const int U = (int)(G / tarWidth);
    const int S = (int)(G / biWidth);
    const size_t srcRowBytes = 3 * (size_t)biWidth;
    for (int i = 0; i < biHeight; i++)
    {
      const unsigned char *src = pSrcBitmap + (size_t)i * srcRowBytes;
      unsigned char *dst = middle.get() + (size_t)i * tarRowBytes;
      for (int j = 0; j < tarWidth; j++)
      {
        long tmp_r = 0, tmp_g = 0, tmp_b = 0;
        int l = 0;
        while (l < U)
        {
          const long long p = (long long)j * U + l;
          const unsigned char *s = src + 3 * (size_t)(p / S);
          const int num = OracleMin(U - l, S - (int)(p % S));
          tmp_r += (long)num * s[0];
          tmp_g += (long)num * s[1];
          tmp_b += (long)num * s[2];
          l += num;
        }
        dst[3 * j] = (unsigned char)(tmp_r / U);
        dst[3 * j + 1] = (unsigned char)(tmp_g / U);
        dst[3 * j + 2] = (unsigned char)(tmp_b / U);
      }
    }
  }

  // Along columns of the row-reduced picture, the same walk.
  {
    const long long G = OracleCalcLCM(tarHeight, biHeight);
    const int U = (int)(G / tarHeight);
    const int S = (int)(G / biHeight);
    for (int i = 0; i < tarHeight; i++)
    {
      unsigned char *dst = result.get() + (size_t)i * tarRowBytes;
      for (int j = 0; j < tarWidth; j++)
      {
        long tmp_r = 0, tmp_g = 0, tmp_b = 0;
        int l = 0;
        while (l < U)
        {
          const long long p = (long long)i * U + l;
          const unsigned char *s = middle.get() + (size_t)(p / S) * tarRowBytes + 3 * (size_t)j;
          const int num = OracleMin(U - l, S - (int)(p % S));
          tmp_r += (long)num * s[0];
          tmp_g += (long)num * s[1];
          tmp_b += (long)num * s[2];
          l += num;
        }
        dst[3 * j] = (unsigned char)OracleMin((int)(tmp_r / U), 255);
        dst[3 * j + 1] = (unsigned char)OracleMin((int)(tmp_g / U), 255);
        dst[3 * j + 2] = (unsigned char)OracleMin((int)(tmp_b / U), 255);
      }
    }
  }

  // White page, the result in its middle.
  const size_t pageRowBytes = 3 * (size_t)biWidth;
  memset(pSrcBitmap, 255, pageRowBytes * biHeight);
  const int left = biWidth / 2 - tarWidth / 2;
  const int top = biHeight / 2 - tarHeight / 2;
  for (int i = 0; i < tarHeight; i++)
    memcpy(pSrcBitmap + (size_t)(top + i) * pageRowBytes + 3 * (size_t)left,
           result.get() + (size_t)i * tarRowBytes, tarRowBytes);
  return 0;
}
