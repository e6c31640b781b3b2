// The straightforward resizing: bilinear enlargement into a whole scratch
// picture, and area-averaged reduction through two scratch pictures.
#include "oracle/oracle.h"

#include "page_buffers.h"

#include <algorithm>
#include <cstring>
#include <vector>

// (iMagnification + 100) / 100.0, formed without int overflow.
static double Magnification(int m) { return (double)((long long)m + 100) / 100.0; }

int OracleResizePicture(unsigned char *pSrcBitmap, int biWidth, int biHeight, int iMagnificationX, int iMagnificationY)
{
  // Not a reduction, and samples need right and lower neighbours.
  if ((iMagnificationX == 0 && iMagnificationY == 0) || iMagnificationX < 0 || iMagnificationY < 0 || biWidth < 3 ||
      biHeight < 3)
    return 0;
  const double MagX = Magnification(iMagnificationX), MagY = Magnification(iMagnificationY);
  const double bx = 1.0 / MagX, by = 1.0 / MagY;
  // The margins of the enlarged picture, in 64 bits for large percentages.
  const long long left = ((long long)(MagX * biWidth) - biWidth) / 2;
  const long long top = ((long long)(MagY * biHeight) - biHeight) / 2;
  const size_t row = 3 * (size_t)biWidth;
  std::vector<unsigned char> out(row * biHeight);
  double y2 = top * by;
  for (int y = 0; y < biHeight; y++, y2 += by)
  {
    const int iy = (int)y2;
    const double py = y2 - iy;
    // An unscaled axis samples its last pixel with weight 0 on the one past
    // the edge: read the edge instead.
    const unsigned char *r0 = pSrcBitmap + std::min(iy, biHeight - 1) * row;
    const unsigned char *r1 = pSrcBitmap + std::min(iy + 1, biHeight - 1) * row;
    double x2 = left * bx;
    for (int x = 0; x < biWidth; x++, x2 += bx)
    {
      const int ix = (int)x2;
      const double px = x2 - ix;
      const int x0 = 3 * std::min(ix, biWidth - 1), x1 = 3 * std::min(ix + 1, biWidth - 1);
      for (int i = 0; i < 3; i++)
      {
        const int P00 = r0[x0 + i], P10 = r0[x1 + i], P01 = r1[x0 + i], P11 = r1[x1 + i];
        const double v = (double)(P00 - P10 - P01 + P11) * (px * py) + (double)(P10 - P00) * px +
                         (double)(P01 - P00) * py + (double)P00;
        out[y * row + 3 * x + i] = ClampByte((int)v);
      }
    }
  }
  memcpy(pSrcBitmap, out.data(), out.size());
  return 0;
}

// One axis of the reduction: n source samples (stride apart, 3 bytes at
// each) to t target samples; target j covers grid units j * U .. j * U + U - 1
// of a grid of lcm(t, n) units, source p / S holds unit p.
static void Reduce(const unsigned char *src, size_t srcStride, int n, unsigned char *dst, size_t dstStride, int t)
{
  long long G = n;
  while (G % t != 0)
    G += n;
  const int U = (int)(G / t), S = (int)(G / n);
  for (int j = 0; j < t; j++)
  {
    long sum[3] = {0, 0, 0};
    for (int l = 0; l < U;)
    {
      const long long p = (long long)j * U + l;
      const int num = std::min(U - l, S - (int)(p % S));
      for (int c = 0; c < 3; c++)
        sum[c] += (long)num * src[(size_t)(p / S) * srcStride + c];
      l += num;
    }
    for (int c = 0; c < 3; c++)
      dst[j * dstStride + c] = (unsigned char)std::min((int)(sum[c] / U), 255);
  }
}

int OracleResizePictureAverage(unsigned char *pSrcBitmap, int biWidth, int biHeight, int iMagnificationX,
                               int iMagnificationY)
{
  if ((iMagnificationX == 0 && iMagnificationY == 0) || iMagnificationX > 0 || iMagnificationY > 0 || biWidth < 1 ||
      biHeight < 1)
    return 0;
  // Truncated target sizes, raised to 1 pixel.
  auto target = [](int m, int n) {
    const double t = Magnification(m) * n;
    return t >= 1.0 ? (int)t : 1;
  };
  const int tw = target(iMagnificationX, biWidth), th = target(iMagnificationY, biHeight);
  const size_t row = 3 * (size_t)biWidth, trow = 3 * (size_t)tw;
  std::vector<unsigned char> middle(trow * biHeight), result(trow * th);
  for (int i = 0; i < biHeight; i++)
    Reduce(pSrcBitmap + i * row, 3, biWidth, &middle[i * trow], 3, tw);
  for (int j = 0; j < tw; j++)
    Reduce(&middle[3 * j], trow, biHeight, &result[3 * j], trow, th);
  // White page, the result in its middle.
  memset(pSrcBitmap, 255, row * biHeight);
  const int left = biWidth / 2 - tw / 2, top = biHeight / 2 - th / 2;
  for (int i = 0; i < th; i++)
    memcpy(pSrcBitmap + (top + i) * row + 3 * left, &result[i * trow], trow);
  return 0;
}
