// Sharpening: levels that do nothing, the exact colour tables, the
// skin-tone box, the unsharp mask on hand-worked neighbourhoods, and the
// untouched two-pixel frame.
#include "image/sharpness.h"
#include "support/fixtures.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <vector>

namespace {

using Picture = std::vector<unsigned char>;

unsigned char *Pixel(Picture &p, int w, int x, int y) { return &p[3 * ((size_t)y * w + x)]; }

struct Colour
{
  double Y, Cb, Cr;
};

Colour ColourOf(int r, int g, int b)
{
  return {Y_Table[r] + Y_Table[256 + g] + Y_Table[512 + b], Cb_Table[r] + Cb_Table[256 + g] + Cb_Table[512 + b],
          Cr_Table[r] + Cr_Table[256 + g] + Cr_Table[512 + b]};
}

TEST(Sharpness, LevelsAndSizesThatChangeNothing)
{
  const Picture orig = RandomBytes(3 * 100 * 100, 1);
  for (int level : {-4, -5, -1000, INT_MIN})
  {
    Picture p = orig;
    EXPECT_EQ(PicytureSharpness(100, 100, p.data(), level), 0);
    EXPECT_EQ(p, orig) << level;
  }
  // At most 4 pixels across or down: no pixel is 2 away from every edge.
  for (auto [w, h] : {std::pair{4, 100}, {100, 4}, {1, 1}})
  {
    Picture p(orig.begin(), orig.begin() + 3 * w * h);
    const Picture before = p;
    EXPECT_EQ(PicytureSharpness(w, h, p.data(), 4), 0);
    EXPECT_EQ(p, before) << w << "x" << h;
  }
}

TEST(Sharpness, ColourTablesAreTheNearestDoubles)
{
  // Each entry is v * K / 100000, and v * K is exact in a double: the
  // division rounds it once, to the nearest double.  (9 * 0.29891 would
  // give 2.6901900000000003, not 2.69019.)
  const struct
  {
    const std::array<double, 768> &table;
    int K[3];
  } tables[] = {{Y_Table, {29891, 58661, 11448}}, {Cb_Table, {-16874, -33126, 50000}}, {Cr_Table, {50000, -41869, -8131}}};
  for (const auto &t : tables)
    for (int s = 0; s < 3; s++)
      for (int v = 0; v < 256; v++)
        ASSERT_EQ(t.table[256 * s + v], (double)(v * t.K[s]) / 100000.0) << "section " << s << " value " << v;
  EXPECT_EQ(Y_Table[9], 2.69019);
  EXPECT_EQ(Cb_Table[256 + 3], -0.99378);
}

TEST(Sharpness, SkinToneBox)
{
  const Colour skin = ColourOf(200, 150, 120);
  EXPECT_NEAR(skin.Y, 161.5111, 1e-9);
  EXPECT_NEAR(skin.Cb, -23.437, 1e-9);
  EXPECT_NEAR(skin.Cr, 27.4393, 1e-9);
  EXPECT_TRUE(IsSkinTone(skin.Y, skin.Cb, skin.Cr));

  const Colour grey = ColourOf(128, 128, 128);
  EXPECT_TRUE(grey.Y == 128.0 && grey.Cb == 0.0 && grey.Cr == 0.0);
  for (int v : {0, 128, 255})
  {
    const Colour c = ColourOf(v, v, v);
    EXPECT_FALSE(IsSkinTone(c.Y, c.Cb, c.Cr)) << v;
  }

  // Every bound is strict, and each one alone excludes a colour.
  EXPECT_TRUE(IsSkinTone(80.001, -34.999, 44.999));
  EXPECT_TRUE(IsSkinTone(249.999, -10.001, 10.001));
  for (Colour c : {Colour{80, -20, 20}, {250, -20, 20}, {150, -35, 20}, {150, -10, 20}, {150, -20, 10}, {150, -20, 45}})
    EXPECT_FALSE(IsSkinTone(c.Y, c.Cb, c.Cr)) << c.Y << " " << c.Cb << " " << c.Cr;
}

// A 5 x 5 picture: the centre pixel has the given colour, and in each
// channel the other 24 bytes sum to others[channel].
Picture Neighbourhood(const unsigned char centre[3], const int others[3])
{
  Picture p(75);
  for (int i = 0; i < 3; i++)
  {
    const int base = others[i] / 24, extra = others[i] % 24;
    for (int n = 0, k = 0; n < 25; n++)
    {
      if (n == 12)
        continue;
      p[3 * n + i] = (unsigned char)(base + (k++ < extra ? 1 : 0));
    }
    p[3 * 12 + i] = centre[i];
  }
  return p;
}

TEST(Sharpness, UnsharpMaskOnWorkedNeighbourhoods)
{
  struct Case
  {
    unsigned char centre[3];
    int others[3];
    int level;
    unsigned char want[3];
  };
  const Case cases[] = {
      // Level 0, grey: 100 against a mean of 90 gives 100 + 10 * 1.2.
      {{100, 100, 100}, {2150, 2150, 2150}, 0, {112, 112, 112}},
      // Level 0, a skin tone: blue 100 against 90 gives 103.2, stored as 103;
      // red and green sit at their mean and stay.
      {{200, 150, 100}, {4800, 3600, 2150}, 0, {200, 150, 103}},
      // Level 4 clamps: 10 against 40 gives -62, 250 against 200 gives 370.
      {{10, 250, 128}, {990, 4750, 3072}, 4, {0, 255, 128}},
      // Levels above 4 sharpen as 4.
      {{10, 250, 128}, {990, 4750, 3072}, INT_MAX, {0, 255, 128}},
      // Level -3 (0.3 outside the box): 100 against 90 gives 103.
      {{100, 100, 100}, {2150, 2150, 2150}, -3, {103, 103, 103}},
  };
  for (const Case &c : cases)
  {
    Picture p = Neighbourhood(c.centre, c.others);
    Picture expected = p;
    for (int i = 0; i < 3; i++)
      expected[3 * 12 + i] = c.want[i];
    EXPECT_EQ(PicytureSharpness(5, 5, p.data(), c.level), 0);
    EXPECT_EQ(p, expected) << "level " << c.level << " centre " << (int)c.centre[0] << ","
                           << (int)c.centre[1] << "," << (int)c.centre[2];
  }
}

TEST(Sharpness, WorksFromTheInputAndKeepsTheFrame)
{
  // A white dot on flat grey at level 0: every pixel within 2 of the dot
  // sees a mean of (24 * 100 + 255) / 25 = 106 and becomes 100 - 6 * 1.2,
  // stored as 92; the rest of the flat interior stays 100.  Results written
  // back into the picture while it is scanned would change the neighbours
  // further on.  The dot sits next to the frame, which stays as it was.
  const int w = 12, h = 10;
  Picture p(3 * w * h, 100);
  std::fill_n(Pixel(p, w, 3, 2), 3, 255);
  Picture expected = p;
  for (int y = 2; y <= h - 3; y++)
    for (int x = 2; x <= w - 3; x++)
      if (std::abs(x - 3) <= 2 && std::abs(y - 2) <= 2 && !(x == 3 && y == 2))
        std::fill_n(Pixel(expected, w, x, y), 3, 92);
  ASSERT_EQ(PicytureSharpness(w, h, p.data(), 0), 0);
  EXPECT_EQ(p, expected);

}

}  // namespace
