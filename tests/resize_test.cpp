// Resizing on worked cases: the enlargement's sum order, and the
// reduction's area means and its grid in 64 bits (sample positions,
// placement on white: the differential and pinned-output tests).
#include "image/resize.h"
#include "image/vector_level.h"
#include "oracle/oracle.h"
#include "support/fixtures.h"

#include <gtest/gtest.h>

#include <tuple>

namespace {

using Picture = std::vector<unsigned char>;

TEST(Resize, Enlargement)
{
  // The order of the sum is part of the result: at +10 output (2, 1) of
  // this 3 x 3 picture gives 126.99999999999999, stored as 126 (127 when
  // summed from P00, or with (P00 - P10 - P01 + P11) * px before * py).
  Picture q(27, 0);
  for (int n = 0, red[9] = {164, 0, 153, 20, 200, 111, 192, 194, 17}; n < 9; n++)
    q[3 * n] = (unsigned char)red[n];
  ASSERT_EQ(ResizePicture(q.data(), 3, 3, 10, 10), 0);
  EXPECT_EQ(q[3 * 5], 126);
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
  const Picture row = RandomPage(1000, 1, 5);
  Picture q;
  for (int y = 0; y < 10; y++)
    q.insert(q.end(), row.begin(), row.end());
  ASSERT_EQ(ResizePictureAverage(q.data(), 1000, 10, -10, -10), 0);
  for (int i = 0; i < 3; i++)
  {
    EXPECT_EQ(q[3 * 1050 + i], (9 * row[i] + row[3 + i]) / 10);
    EXPECT_EQ(q[3 * 1051 + i], (8 * row[3 + i] + 2 * row[6 + i]) / 10);
    EXPECT_EQ(q[3 * 1949 + i], (row[3 * 998 + i] + 9 * row[3 * 999 + i]) / 10);
  }
}

TEST(Resize, GridBeyond32Bits)
{
  // 65535 -> 64879 (coprime) and 99991 -> 98991: grids of 2^32 and more,
  // and units that fit 16 bits or not, under every vector version.
  for (int w : {65535, 99991})
  {
    Picture expected = RandomPage(w, 1, 7);
    const Picture page = expected;
    ASSERT_EQ(OracleResizePictureAverage(expected.data(), w, 1, -1, -1), 0);
    for (int level = 0; level <= ProcessorVectorLevel(); level++)
    {
      SetVectorLimit(level);
      Picture p = page;
      ASSERT_EQ(ResizePictureAverage(p.data(), w, 1, -1, -1), 0);
      EXPECT_EQ(p, expected) << w << " level " << level;
    }
    SetVectorLimit(kVectorAvx512);
  }
}

}  // namespace
