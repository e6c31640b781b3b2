// Sharpening on worked cases: the colour tables, the skin-tone box,
// hand-worked neighbourhoods, and the mask working from the input with the
// two-pixel frame left alone.
#include "image/sharpness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>

namespace {

using Picture = std::vector<unsigned char>;

TEST(Sharpness, ColourTablesAndTheSkinToneBox)
{
  // Each entry is the nearest double to v * K / 100000 (9 * 0.29891 would
  // give 2.6901900000000003, not 2.69019).
  const struct
  {
    const std::array<double, 768> &table;
    int K[3];
  } tables[] = {{Y_Table, {29891, 58661, 11448}}, {Cb_Table, {-16874, -33126, 50000}}, {Cr_Table, {50000, -41869, -8131}}};
  for (const auto &t : tables)
    for (int v = 0; v < 768; v++)
      ASSERT_EQ(t.table[v], (double)(v % 256 * t.K[v / 256]) / 100000.0) << v;

  // Every bound is strict, and each one alone excludes a colour.
  EXPECT_TRUE(IsSkinTone(80.001, -34.999, 44.999));
  EXPECT_TRUE(IsSkinTone(249.999, -10.001, 10.001));
  for (auto [Y, Cb, Cr] : {std::tuple{80., -20., 20.}, {250., -20., 20.}, {150., -35., 20.}, {150., -10., 20.},
                           {150., -20., 10.}, {150., -20., 45.}})
    EXPECT_FALSE(IsSkinTone(Y, Cb, Cr)) << Y << " " << Cb << " " << Cr;
}

TEST(Sharpness, UnsharpMaskOnWorkedNeighbourhoods)
{
  // The centre of a 5 x 5 picture; in each channel the other 24 bytes sum
  // to others[channel].
  const struct
  {
    unsigned char centre[3];
    int others[3], level;
    unsigned char want[3];
  } cases[] = {
      // Grey 100 against a mean of 90 at level 0: 100 + 10 * 1.2.
      {{100, 100, 100}, {2150, 2150, 2150}, 0, {112, 112, 112}},
      // A skin tone: blue 100 against 90 gives 103.2; red and green stay.
      {{200, 150, 100}, {4800, 3600, 2150}, 0, {200, 150, 103}},
      // Level 4 clamps (-62 and 370).
      {{10, 250, 128}, {990, 4750, 3072}, 4, {0, 255, 128}},
      // Level -3: 0.3 outside the box.
      {{100, 100, 100}, {2150, 2150, 2150}, -3, {103, 103, 103}},
  };
  for (const auto &c : cases)
  {
    Picture p(75), expected;
    for (int i = 0; i < 3; i++)
      for (int n = 0, k = 0; n < 25; n++)
        p[3 * n + i] = n == 12 ? c.centre[i] : (unsigned char)(c.others[i] / 24 + (k++ < c.others[i] % 24));
    expected = p;
    std::copy_n(c.want, 3, &expected[36]);
    EXPECT_EQ(PicytureSharpness(5, 5, p.data(), c.level), 0);
    EXPECT_EQ(p, expected) << "level " << c.level << " centre " << (int)c.centre[0];
  }

  // A white dot on grey 100 next to the frame: every pixel within 2 of it
  // sees a mean of 106 and becomes 92 (from the input, not from results
  // already written); the frame stays.
  const int w = 12, h = 10;
  Picture p(3 * w * h, 100);
  std::fill_n(&p[3 * (2 * w + 3)], 3, 255);
  Picture expected = p;
  for (int y = 2; y <= h - 3; y++)
    for (int x = 2; x <= w - 3; x++)
      if (std::abs(x - 3) <= 2 && std::abs(y - 2) <= 2 && !(x == 3 && y == 2))
        std::fill_n(&expected[3 * (y * w + x)], 3, 92);
  ASSERT_EQ(PicytureSharpness(w, h, p.data(), 0), 0);
  EXPECT_EQ(p, expected);
}

}  // namespace
