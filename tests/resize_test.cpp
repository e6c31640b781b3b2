// Resizing on worked cases: the calls that leave the picture alone, the
// enlargement's sample positions, sum order and edges, and the reduction's
// area means, its placement on white and its grid in 64 bits.
#include "image/resize.h"
#include "oracle/oracle.h"
#include "support/fixtures.h"

#include <gtest/gtest.h>

#include <climits>
#include <tuple>

namespace {

using Picture = std::vector<unsigned char>;

// A random row of w pixels repeated h times.
Picture AlikeRows(int w, int h, unsigned seed)
{
  const Picture row = RandomBytes(3 * (size_t)w, seed);
  Picture p;
  for (int y = 0; y < h; y++)
    p.insert(p.end(), row.begin(), row.end());
  return p;
}

TEST(Resize, CallsThatLeaveThePictureAlone)
{
  const Picture orig = RandomBytes(3 * 20 * 16, 1);
  // Nothing to do; a percentage of the other direction; too small to
  // interpolate.
  for (auto [enlarge, w, h, mx, my] : {std::tuple{true, 20, 16, 0, 0}, {false, 20, 16, 0, 0}, {true, 20, 16, -10, -10},
                                       {true, 20, 16, 10, -10}, {false, 20, 16, 10, 10}, {false, 20, 16, -10, 10},
                                       {true, 2, 16, 50, 50}, {true, 20, 2, 50, 50}, {true, 1, 1, INT_MAX, INT_MAX}})
  {
    Picture p(orig.begin(), orig.begin() + 3 * w * h);
    EXPECT_EQ(enlarge ? ResizePicture(p.data(), w, h, mx, my) : ResizePictureAverage(p.data(), w, h, mx, my), 0);
    EXPECT_TRUE(std::equal(p.begin(), p.end(), orig.begin())) << enlarge << " " << w << "x" << h << " " << mx;
  }
}

TEST(Resize, Enlargement)
{
  // A 1000-pixel row at +10: 1100 wide with a margin of 50, so output column
  // c samples x = 50 * bx + c * bx, advancing by repeated addition; with
  // alike rows only (P10 - P00) * px + P00 counts, truncated.
  const int w = 1000;
  Picture p = AlikeRows(w, 3, 2);
  const Picture row(p.begin(), p.begin() + 3 * w);
  ASSERT_EQ(ResizePicture(p.data(), w, 3, 10, 10), 0);
  const double bx = 1.0 / 1.1;
  double x2 = 50 * bx;
  for (int c = 0; c < w; c++, x2 += bx)
  {
    const int ix = (int)x2;
    for (int i = 0; i < 3; i++)
    {
      const int P00 = row[3 * ix + i], P10 = row[3 * (ix + 1) + i];
      ASSERT_EQ(p[2 * 3 * w + 3 * c + i], (int)((double)(P10 - P00) * (x2 - ix) + (double)P00)) << c;
    }
  }

  // The order of the sum is part of the result: at +10 output (2, 1) of
  // this 3 x 3 picture gives 126.99999999999999, stored as 126 (127 when
  // summed from P00, or with (P00 - P10 - P01 + P11) * px before * py).
  Picture q(27, 0);
  for (int n = 0, red[9] = {164, 0, 153, 20, 200, 111, 192, 194, 17}; n < 9; n++)
    q[3 * n] = (unsigned char)red[n];
  ASSERT_EQ(ResizePicture(q.data(), 3, 3, 10, 10), 0);
  EXPECT_EQ(q[3 * 5], 126);

  // An unscaled axis keeps alike rows.
  const Picture alike = AlikeRows(7, 5, 3);
  Picture e = alike;
  ASSERT_EQ(ResizePicture(e.data(), 7, 5, 0, 37), 0);
  EXPECT_EQ(e, alike);
}

TEST(Resize, ReductionIsTheAreaMeanCentredOnWhite)
{
  // 4 x 4 at -50: each row's pairs averaged (truncated), then each column's,
  // centred on white; the four at once would give 51, not 50, at (1, 2).
  Picture p(48, 7);
  for (int n = 0, red[16] = {10, 21, 30, 41, 50, 61, 70, 81, 100, 101, 200, 201, 0, 3, 255, 255}; n < 16; n++)
    p[3 * n] = (unsigned char)red[n];
  ASSERT_EQ(ResizePictureAverage(p.data(), 4, 4, -50, -50), 0);
  Picture want(48, 255);
  for (auto [x, y, v] : {std::tuple{1, 1, 35}, {2, 1, 55}, {1, 2, 50}, {2, 2, 227}})
    want[3 * (4 * y + x)] = (unsigned char)v, want[3 * (4 * y + x) + 1] = want[3 * (4 * y + x) + 2] = 7;
  EXPECT_EQ(p, want);

  // 1000 pixels at -10: 900 from column 50, pixel j covering source pixels
  // j * 10 / 9 to (j + 1) * 10 / 9 in ninths.
  const Picture row = RandomBytes(3000, 5);
  Picture q = AlikeRows(1000, 10, 5);
  ASSERT_EQ(ResizePictureAverage(q.data(), 1000, 10, -10, -10), 0);
  for (int i = 0; i < 3; i++)
  {
    EXPECT_EQ(q[3 * 1050 + i], (9 * row[i] + row[3 + i]) / 10);
    EXPECT_EQ(q[3 * 1051 + i], (8 * row[3 + i] + 2 * row[6 + i]) / 10);
    EXPECT_EQ(q[3 * 1949 + i], (row[3 * 998 + i] + 9 * row[3 * 999 + i]) / 10);
  }

  // Targets under one pixel are raised to one: the mean of the row means.
  for (int percent : {-100, -1000})
  {
    Picture r(75, 255);
    for (int n = 0, rows[5] = {0, 10, 20, 31, 255}; n < 25; n++)
      r[3 * n] = (unsigned char)rows[n / 5];
    ASSERT_EQ(ResizePictureAverage(r.data(), 5, 5, percent, percent), 0);
    Picture one(75, 255);
    one[3 * 12] = 63;
    EXPECT_EQ(r, one) << percent;
  }

  // The white frame: 1000 wide at -10 keeps columns 50 to 949; 999 rows
  // keep rows 50 to 948, 990 rows 50 (990 / 2 - 891 / 2) to 940.
  for (auto [h, last] : {std::pair{999, 948}, {990, 940}})
  {
    Picture f(3 * 1000 * (size_t)h, 40);
    ASSERT_EQ(ResizePictureAverage(f.data(), 1000, h, -10, -10), 0);
    for (int y = 0; y < h; y++)
      for (int x = 0; x < 1000; x++)
        ASSERT_EQ(f[3 * ((size_t)y * 1000 + x) + 1], x >= 50 && x <= 949 && y >= 50 && y <= last ? 40 : 255)
            << x << "," << y << " of height " << h;
  }
}

TEST(Resize, GridBeyond32Bits)
{
  EXPECT_EQ(CalcLCM(900, 1000), 9000);
  EXPECT_EQ(CalcLCM(98991, 99991), 98991LL * 99991);
  EXPECT_EQ(CalcLCM(0, 5), 0);
  EXPECT_EQ(CalcLCM(5, -5), 0);
  // 65535 -> 64879 (coprime) and 99991 -> 98991: grids of 2^32 and more.
  for (int w : {65535, 99991})
  {
    Picture p = RandomBytes(3 * (size_t)w, 7), expected = p;
    ASSERT_EQ(OracleResizePictureAverage(expected.data(), w, 1, -1, -1), 0);
    ASSERT_EQ(ResizePictureAverage(p.data(), w, 1, -1, -1), 0);
    EXPECT_EQ(p, expected) << w;
  }
}

}  // namespace
