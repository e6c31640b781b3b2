// Resizing: which calls leave the picture alone, the enlargement's sample
// positions and edge handling, and the reduction's area means on worked
// cases, its placement on white and its grid in 64 bits.
#include "image/resize.h"
#include "oracle/oracle.h"
#include "support/fixtures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <tuple>
#include <vector>

namespace {

using Picture = std::vector<unsigned char>;

Picture RandomPicture(int w, int h, unsigned seed) { return RandomBytes(3 * (size_t)w * h, seed); }

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

TEST(Resize, ReductionIsTheAreaMeanCentredOnWhite)
{
  // 4 x 4 at -50: each row's pairs are averaged (truncated), then each
  // column's pairs of those, and the 2 x 2 result is centred on white.
  // Averaging the four at once would give 51, not 50, below on the left.
  const int red[16] = {10, 21, 30, 41, 50, 61, 70, 81, 100, 101, 200, 201, 0, 3, 255, 255};
  Picture p(48, 7);
  for (int n = 0; n < 16; n++)
    p[3 * n] = (unsigned char)red[n];
  ASSERT_EQ(ResizePictureAverage(p.data(), 4, 4, -50, -50), 0);
  Picture expected(48, 255);
  for (auto [x, y, v] : {std::tuple{1, 1, 35}, {2, 1, 55}, {1, 2, 50}, {2, 2, 227}})
    expected[3 * (4 * y + x)] = (unsigned char)v, expected[3 * (4 * y + x) + 1] = expected[3 * (4 * y + x) + 2] = 7;
  EXPECT_EQ(p, expected);

  // A 1000-pixel row at -10 becomes 900 pixels from column 50 on: pixel j
  // covers source pixels j * 10 / 9 to (j + 1) * 10 / 9, overlapping them
  // in ninths.  Rows that are all alike stay alike.
  const Picture row = RandomPicture(1000, 1, 5);
  Picture q;
  for (int y = 0; y < 10; y++)
    q.insert(q.end(), row.begin(), row.end());
  ASSERT_EQ(ResizePictureAverage(q.data(), 1000, 10, -10, -10), 0);
  for (int i = 0; i < 3; i++)
    for (int y = 1; y < 10; y++)
    {
      SCOPED_TRACE(y);
      EXPECT_EQ(Pixel(q, 1000, 50, y)[i], (9 * row[i] + row[3 + i]) / 10);
      EXPECT_EQ(Pixel(q, 1000, 51, y)[i], (8 * row[3 + i] + 2 * row[6 + i]) / 10);
      EXPECT_EQ(Pixel(q, 1000, 949, y)[i], (row[3 * 998 + i] + 9 * row[3 * 999 + i]) / 10);
    }

  // Targets under one pixel are raised to one: the mean of the row means,
  // in the middle.
  for (int percent : {-100, -1000})
  {
    Picture r(75, 255);
    const int rows[5] = {0, 10, 20, 31, 255};  // red; every row alike
    for (int n = 0; n < 25; n++)
      r[3 * n] = (unsigned char)rows[n / 5];
    ASSERT_EQ(ResizePictureAverage(r.data(), 5, 5, percent, percent), 0);
    Picture want(75, 255);
    want[3 * 12] = 63;  // (0 + 10 + 20 + 31 + 255) / 5
    EXPECT_EQ(r, want) << percent;
  }
}

TEST(Resize, ReductionLeavesAWhiteFrame)
{
  // 1000 x 1000 at -10 covers columns and rows 50 to 949; with 999 rows the
  // 899 result rows go to rows 50 to 948, with 990 the 891 rows to 50
  // (990 / 2 - 891 / 2, not half of 99) to 940.
  const int w = 1000;
  for (auto [h, firstRow, lastRow] : {std::tuple{1000, 50, 949}, {999, 50, 948}, {990, 50, 940}})
  {
    Picture p(3 * (size_t)w * h, 40);
    ASSERT_EQ(ResizePictureAverage(p.data(), w, h, -10, -10), 0);
    for (int y = 0; y < h; y++)
      for (int x = 0; x < w; x++)
      {
        const bool inside = x >= 50 && x <= 949 && y >= firstRow && y <= lastRow;
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
    Picture p = RandomPicture(w, 1, 7), expected = p;
    ASSERT_EQ(OracleResizePictureAverage(expected.data(), w, 1, -1, -1), 0);
    ASSERT_EQ(ResizePictureAverage(p.data(), w, 1, -1, -1), 0);
    EXPECT_EQ(p, expected) << w;
  }
}

}  // namespace
