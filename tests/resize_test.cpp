// Resizing: which calls leave the picture alone, the enlargement's sample
// positions and edge handling, and the reduction against an area-overlap
// reference, its placement on white and its grid in 64 bits.
#include "image/resize.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <random>
#include <vector>

namespace {

using Picture = std::vector<unsigned char>;

Picture RandomPicture(int w, int h, unsigned seed)
{
  std::mt19937 gen(seed);
  Picture p(3 * (size_t)w * h);
  for (unsigned char &b : p)
    b = (unsigned char)(gen() & 0xff);
  return p;
}

// A random picture whose rows are all alike (alikeRows) or whose columns are.
Picture Stripes(int w, int h, bool alikeRows, unsigned seed)
{
  const Picture line = RandomPicture(alikeRows ? w : h, 1, seed);
  Picture p(3 * (size_t)w * h);
  for (int y = 0; y < h; y++)
    for (int x = 0; x < w; x++)
      std::copy_n(&line[3 * (alikeRows ? x : y)], 3, &p[3 * ((size_t)y * w + x)]);
  return p;
}

const unsigned char *Pixel(const Picture &p, int w, int x, int y) { return &p[3 * ((size_t)y * w + x)]; }

TEST(Resize, CallsThatLeaveThePictureAlone)
{
  const Picture orig = RandomPicture(20, 16, 1);
  struct Call
  {
    bool enlarge;
    int w, h, mx, my;
  };
  // Nothing to do; a percentage of the wrong sign; too small to interpolate.
  const Call calls[] = {{true, 20, 16, 0, 0},    {false, 20, 16, 0, 0},     {true, 20, 16, -10, -10},
                        {true, 20, 16, 10, -10}, {false, 20, 16, 10, 10},   {false, 20, 16, -10, 10},
                        {true, 2, 16, 50, 50},   {true, 20, 2, 50, 50},     {true, 1, 1, INT_MAX, INT_MAX}};
  for (const Call &c : calls)
  {
    Picture p(orig.begin(), orig.begin() + 3 * c.w * c.h);
    const Picture before = p;
    int r = c.enlarge ? ResizePicture(p.data(), c.w, c.h, c.mx, c.my)
                      : ResizePictureAverage(p.data(), c.w, c.h, c.mx, c.my);
    EXPECT_EQ(r, 0);
    EXPECT_EQ(p, before) << c.enlarge << " " << c.w << "x" << c.h << " " << c.mx << " " << c.my;
  }
}

TEST(Resize, EnlargementSamplesFromTheCentre)
{
  // A 1000-pixel row at +10: 1100 pixels wide, a margin of 50 on the left,
  // so output column c samples source x 45.45454545454545 + c * bx, the
  // positions advancing by repeated addition.  With identical rows only the
  // horizontal terms count: value = (P10 - P00) * px + P00, truncated.
  const int w = 1000, h = 3;
  Picture p = Stripes(w, h, true, 2);
  const Picture row(p.begin(), p.begin() + 3 * w);
  ASSERT_EQ(ResizePicture(p.data(), w, h, 10, 10), 0);

  const double bx = 1.0 / 1.1;
  EXPECT_EQ(bx, 0.9090909090909091);
  double x2 = 50 * bx;
  EXPECT_EQ(x2, 45.45454545454545);
  for (int c = 0; c < w; c++, x2 += bx)
  {
    const int ix = (int)x2;
    const double px = x2 - ix;
    ASSERT_LT(ix + 1, w);
    for (int i = 0; i < 3; i++)
    {
      const int P00 = row[3 * ix + i], P10 = row[3 * (ix + 1) + i];
      const int expected = (int)((double)(P10 - P00) * px + (double)P00);
      for (int y = 0; y < h; y++)
        ASSERT_EQ(Pixel(p, w, c, y)[i], expected) << "column " << c << " row " << y << " channel " << i;
    }
  }
}

TEST(Resize, EnlargementSumOrderIsPartOfTheResult)
{
  // At +10 output pixel (2, 1) of this 3 x 3 picture samples between all
  // four of its right-hand pixels.  The stated order of the sum gives
  // 126.99999999999999, stored as 126; starting from P00, or forming
  // (P00 - P10 - P01 + P11) * px before * py, gives 127.
  const int red[9] = {164, 0, 153, 20, 200, 111, 192, 194, 17};
  Picture p(27, 0);
  for (int n = 0; n < 9; n++)
    p[3 * n] = (unsigned char)red[n];
  ASSERT_EQ(ResizePicture(p.data(), 3, 3, 10, 10), 0);
  EXPECT_EQ(Pixel(p, 3, 2, 1)[0], 126);
  EXPECT_EQ(Pixel(p, 3, 2, 1)[1], 0);
}

TEST(Resize, EnlargementKeepsFlatColourAndStaysInside)
{
  // A flat picture stays exactly flat at every scale, from the smallest
  // picture that can be enlarged.  The pictures sit in buffers of their
  // exact size, so a sanitizer build catches any read past them.
  for (int percent : {1, 10, 37, 100, 1000})
    for (auto [w, h] : {std::pair{3, 3}, {3, 8}, {9, 3}, {64, 48}})
    {
      Picture p;
      for (int n = 0; n < w * h; n++)
        p.insert(p.end(), {12, 200, 255});
      const Picture before = p;
      ASSERT_EQ(ResizePicture(p.data(), w, h, percent, percent), 0);
      EXPECT_EQ(p, before) << percent << " " << w << "x" << h;
    }

  // One axis unscaled: it samples every pixel exactly, including the last,
  // whose neighbour past the edge has weight 0.  Rows that are all alike
  // (or columns, for the other axis) come back unchanged.
  for (bool alikeRows : {true, false})
  {
    const Picture orig = Stripes(7, 5, alikeRows, 3);
    Picture p = orig;
    ASSERT_EQ(ResizePicture(p.data(), 7, 5, alikeRows ? 0 : 37, alikeRows ? 37 : 0), 0);
    EXPECT_EQ(p, orig) << alikeRows;
  }
}

// Area mean of one axis by interval overlap: with n * t units, target pixel
// j covers [j * n, (j + 1) * n) and source pixel k covers [k * t, (k + 1) * t).
// The truncated mean equals that on the smallest common grid.
std::vector<int> AreaMean(const std::vector<int> &src, int t)
{
  const long long n = (long long)src.size();
  std::vector<int> out(t);
  for (long long j = 0; j < t; j++)
  {
    long long sum = 0;
    for (long long k = j * n / t; k < n && k * t < (j + 1) * n; k++)
    {
      long long overlap = std::min((j + 1) * n, (k + 1) * t) - std::max(j * n, k * t);
      if (overlap > 0)
        sum += overlap * src[k];
    }
    out[j] = (int)(sum / n);
  }
  return out;
}

// The page that a reduction to tw x th must give: rows first, then columns,
// centred on white.
Picture ReferenceReduction(const Picture &p, int w, int h, int tw, int th)
{
  std::vector<std::vector<int>> middle(h, std::vector<int>(3 * tw));
  for (int y = 0; y < h; y++)
    for (int i = 0; i < 3; i++)
    {
      std::vector<int> src(w);
      for (int x = 0; x < w; x++)
        src[x] = Pixel(p, w, x, y)[i];
      std::vector<int> r = AreaMean(src, tw);
      for (int x = 0; x < tw; x++)
        middle[y][3 * x + i] = r[x];
    }
  Picture out(p.size(), 255);
  const int left = w / 2 - tw / 2, top = h / 2 - th / 2;
  for (int x = 0; x < tw; x++)
    for (int i = 0; i < 3; i++)
    {
      std::vector<int> src(h);
      for (int y = 0; y < h; y++)
        src[y] = middle[y][3 * x + i];
      std::vector<int> r = AreaMean(src, th);
      for (int y = 0; y < th; y++)
        out[3 * ((size_t)(top + y) * w + left + x) + i] = (unsigned char)r[y];
    }
  return out;
}

TEST(Resize, ReductionIsTheAreaMeanCentredOnWhite)
{
  struct Case
  {
    int w, h, percent, tw, th;
  };
  // -10 on 1000 pixels: column 0 is (9 * s0 + 1 * s1) / 10, column 1
  // (8 * s1 + 2 * s2) / 10.  -50 on 4 pixels: two means of pairs.  Targets
  // under 1 pixel are raised to 1.
  const Case cases[] = {{1000, 10, -10, 900, 9}, {4, 4, -50, 2, 2}, {37, 23, -33, 24, 15}, {50, 51, -1, 49, 50},
                        {13, 8, -99, 1, 1},      {5, 5, -100, 1, 1}, {5, 6, -1000, 1, 1}};
  for (const Case &c : cases)
  {
    Picture p = RandomPicture(c.w, c.h, 5 + c.w);
    const Picture expected = ReferenceReduction(p, c.w, c.h, c.tw, c.th);
    ASSERT_EQ(ResizePictureAverage(p.data(), c.w, c.h, c.percent, c.percent), 0);
    EXPECT_EQ(p, expected) << c.w << "x" << c.h << " at " << c.percent;
  }
}

TEST(Resize, ReductionLeavesAWhiteFrame)
{
  // 1000 x 1000 at -10 covers columns and rows 50 to 949; with 999 rows the
  // 899 result rows go to rows 50 to 948.
  for (int h : {1000, 999})
  {
    const int w = 1000;
    Picture p(3 * (size_t)w * h, 40);
    ASSERT_EQ(ResizePictureAverage(p.data(), w, h, -10, -10), 0);
    const int lastRow = h == 1000 ? 949 : 948;
    for (int y = 0; y < h; y++)
      for (int x = 0; x < w; x++)
      {
        const bool inside = x >= 50 && x <= 949 && y >= 50 && y <= lastRow;
        const unsigned char *px = Pixel(p, w, x, y);
        const int want = inside ? 40 : 255;
        ASSERT_TRUE(px[0] == want && px[1] == want && px[2] == want) << x << "," << y << " of height " << h;
      }
  }
}

TEST(Resize, CalcLCMAndGridBeyond32Bits)
{
  EXPECT_EQ(CalcLCM(900, 1000), 9000);
  EXPECT_EQ(CalcLCM(1000, 900), 9000);
  EXPECT_EQ(CalcLCM(7, 7), 7);
  EXPECT_EQ(CalcLCM(1, 65535), 65535);
  EXPECT_EQ(CalcLCM(98991, 99991), 98991LL * 99991);  // coprime, above 2^33
  EXPECT_EQ(CalcLCM(0, 5), 0);
  EXPECT_EQ(CalcLCM(5, -5), 0);
  EXPECT_EQ(min(3, -4), -4);
  EXPECT_EQ(max(3, -4), 3);

  // Grids of 2^32 and more: 65535 -> 64879 (coprime) and 99991 -> 98991.
  for (int w : {65535, 99991})
  {
    Picture p = RandomPicture(w, 1, 7);
    const int tw = (int)(0.99 * w);
    const Picture expected = ReferenceReduction(p, w, 1, tw, 1);
    ASSERT_EQ(ResizePictureAverage(p.data(), w, 1, -1, -1), 0);
    EXPECT_EQ(p, expected) << w;
  }
}

}  // namespace
