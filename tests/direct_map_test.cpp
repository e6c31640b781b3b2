// The direct-map colour table: the built-in tables' calibrated rows and
// their relation, loading by print mode, and tetrahedral interpolation.
#include "image/direct_map.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <vector>

namespace {

using Rgb = std::array<int, 3>;

Rgb Entry(const unsigned char *table, int r, int g, int b)
{
  const unsigned char *e = table + r * 243 + g * 27 + b * 3;
  return {e[0], e[1], e[2]};
}

Rgb Map(unsigned char *table, Rgb in)
{
  unsigned char r = (unsigned char)in[0], g = (unsigned char)in[1], b = (unsigned char)in[2];
  EXPECT_EQ(Change3D(table, &r, &g, &b), 1);
  return {r, g, b};
}

std::vector<unsigned char> Loaded(int iGammaMode)
{
  std::vector<unsigned char> t(kDmapTblBytes);
  EXPECT_EQ(InitDmapTbl(t.data(), kDmapTblBytes, iGammaMode), 1);
  return t;
}

struct Rows
{
  const unsigned char *table;
  Rgb grey[9], red[9], green[9], blue[9];
  Rgb cyan, magenta, yellow;
};

const Rows kNormal = {
    HVX_DmapTbl_A4_Normal,
    {{0, 0, 0}, {31, 31, 35}, {65, 62, 65}, {95, 92, 96}, {122, 121, 123}, {152, 148, 152},
     {180, 177, 180}, {211, 211, 213}, {255, 255, 255}},
    {{0, 0, 0}, {26, 0, 11}, {59, 0, 19}, {87, 0, 22}, {115, 0, 24}, {143, 0, 27}, {164, 3, 28},
     {189, 6, 28}, {231, 9, 27}},
    {{0, 0, 0}, {4, 40, 2}, {19, 90, 10}, {32, 137, 15}, {41, 181, 20}, {49, 228, 26},
     {58, 236, 37}, {63, 243, 42}, {67, 255, 49}},
    {{0, 0, 0}, {0, 0, 42}, {0, 0, 82}, {0, 2, 130}, {0, 6, 188}, {12, 14, 227}, {24, 22, 234},
     {28, 25, 244}, {32, 27, 255}},
    {72, 255, 204}, {242, 14, 255}, {228, 245, 103},
};

const Rows kSoft = {
    HVX_DmapTbl_A4_Soft,
    {{0, 0, 0}, {32, 28, 35}, {60, 58, 64}, {91, 89, 95}, {122, 120, 123}, {151, 148, 151},
     {180, 178, 180}, {211, 209, 212}, {255, 255, 255}},
    {{0, 0, 0}, {26, 0, 10}, {53, 0, 20}, {83, 0, 23}, {115, 0, 24}, {144, 0, 27}, {164, 2, 25},
     {189, 5, 28}, {231, 6, 27}},
    {{0, 0, 0}, {0, 39, 0}, {19, 88, 10}, {28, 134, 14}, {36, 180, 19}, {42, 227, 25},
     {51, 235, 36}, {56, 243, 43}, {59, 255, 48}},
    {{0, 0, 0}, {0, 0, 42}, {0, 0, 82}, {0, 0, 130}, {0, 6, 188}, {11, 13, 227}, {22, 20, 234},
     {25, 23, 247}, {28, 25, 255}},
    {64, 255, 203}, {242, 12, 255}, {226, 243, 102},
};

TEST(DirectMap, BuiltInTablesHoldTheirCalibratedRows)
{
  for (const Rows *rows : {&kNormal, &kSoft})
  {
    SCOPED_TRACE(rows == &kNormal ? "normal" : "soft");
    const unsigned char *t = rows->table;
    for (int k = 0; k < 9; k++)
    {
      SCOPED_TRACE(k);
      EXPECT_EQ(Entry(t, k, k, k), rows->grey[k]);
      EXPECT_EQ(Entry(t, k, 0, 0), rows->red[k]);
      EXPECT_EQ(Entry(t, 0, k, 0), rows->green[k]);
      EXPECT_EQ(Entry(t, 0, 0, k), rows->blue[k]);
    }
    EXPECT_EQ(Entry(t, 0, 8, 8), rows->cyan);
    EXPECT_EQ(Entry(t, 8, 0, 8), rows->magenta);
    EXPECT_EQ(Entry(t, 8, 8, 0), rows->yellow);
  }
}

TEST(DirectMap, SoftTableDiffersFromNormalAsCalibrated)
{
  int differ = 0, maxDiff = 0;
  long sum[3] = {0, 0, 0};
  for (int i = 0; i < 729; i++)
  {
    const unsigned char *n = HVX_DmapTbl_A4_Normal + 3 * i, *s = HVX_DmapTbl_A4_Soft + 3 * i;
    differ += memcmp(n, s, 3) != 0;
    for (int c = 0; c < 3; c++)
    {
      sum[c] += s[c] - n[c];
      maxDiff = std::max(maxDiff, std::abs(s[c] - n[c]));
    }
  }
  EXPECT_EQ(differ, 716);
  EXPECT_LE(maxDiff, 9);
  // Soft is about 2.4 lower in red, 1.3 lower in green, level in blue.
  EXPECT_NEAR(sum[0] / 729.0, -2.4, 0.05);
  EXPECT_NEAR(sum[1] / 729.0, -1.3, 0.05);
  EXPECT_NEAR(sum[2] / 729.0, 0.0, 0.05);
}

// A colour table must be smooth: each output channel rises along its own
// input axis, and no line of grid points bends more sharply than the
// calibrated rows themselves do (the green axis bends by 39 at k = 5).
TEST(DirectMap, BuiltInTablesAreSmooth)
{
  for (const unsigned char *t : {HVX_DmapTbl_A4_Normal, HVX_DmapTbl_A4_Soft})
  {
    int bend = 0;
    for (int i = 0; i < 729; i++)
      for (int axis = 0, stride = 81; axis < 3; axis++, stride /= 9)
      {
        const int k = i / stride % 9;  // grid index along this axis
        const unsigned char *p = t + 3 * i, *next = p + 3 * stride, *prev = p - 3 * stride;
        if (k < 8)
        {
          EXPECT_GE(next[axis], p[axis]) << "entry " << i << " axis " << axis;
        }
        if (k > 0 && k < 8)
          for (int c = 0; c < 3; c++)
            bend = std::max(bend, std::abs(next[c] - 2 * p[c] + prev[c]));
      }
    EXPECT_LE(bend, 39);
  }
}

TEST(DirectMap, InitDmapTblLoadsTheModesTable)
{
  EXPECT_EQ(Loaded(0), std::vector<unsigned char>(HVX_DmapTbl_A4_Soft, HVX_DmapTbl_A4_Soft + kDmapTblBytes));
  for (int mode : {1, 2, -1})
    EXPECT_EQ(Loaded(mode),
              std::vector<unsigned char>(HVX_DmapTbl_A4_Normal, HVX_DmapTbl_A4_Normal + kDmapTblBytes))
        << mode;

  // Only dwReadSize bytes are copied, and never more than the table holds.
  std::vector<unsigned char> t(kDmapTblBytes + 16, 0xAA);
  EXPECT_EQ(InitDmapTbl(t.data(), 100, 1), 1);
  EXPECT_EQ(memcmp(t.data(), HVX_DmapTbl_A4_Normal, 100), 0);
  EXPECT_EQ(t[100], 0xAA);
  EXPECT_EQ(InitDmapTbl(t.data(), kDmapTblBytes + 16, 0), 1);
  EXPECT_EQ(memcmp(t.data(), HVX_DmapTbl_A4_Soft, kDmapTblBytes), 0);
  EXPECT_EQ(t[kDmapTblBytes], 0xAA);
}

TEST(DirectMap, ReferencePixelsInBothModes)
{
  struct Case
  {
    Rgb in, normal, soft;
  };
  const Case cases[] = {
      {{0, 0, 0}, {0, 0, 0}, {0, 0, 0}},
      {{255, 255, 255}, {255, 255, 255}, {255, 255, 255}},
      {{255, 0, 0}, {231, 9, 27}, {231, 6, 27}},
      {{128, 128, 128}, {122, 121, 123}, {122, 120, 123}},
      {{31, 31, 31}, {31, 31, 35}, {32, 28, 35}},
      {{32, 32, 32}, {31, 31, 35}, {32, 28, 35}},
      {{1, 1, 1}, {1, 1, 2}, {2, 1, 2}},
      {{100, 150, 200}, {105, 142, 209}, {102, 140, 209}},
      {{200, 150, 100}, {185, 141, 111}, {189, 139, 114}},
      {{250, 20, 130}, {224, 21, 145}, {224, 19, 145}},
      {{50, 40, 40}, {49, 37, 45}, {47, 35, 45}},
      {{45, 45, 45}, {45, 44, 48}, {44, 41, 47}},
  };
  std::vector<unsigned char> normal = Loaded(1), soft = Loaded(0);
  for (const Case &c : cases)
  {
    EXPECT_EQ(Map(normal.data(), c.in), c.normal) << c.in[0] << "," << c.in[1] << "," << c.in[2];
    EXPECT_EQ(Map(soft.data(), c.in), c.soft) << c.in[0] << "," << c.in[1] << "," << c.in[2];
  }
}

TEST(DirectMap, EveryTetrahedronInterpolatesAnAffineTableExactly)
{
  // On a table that is affine in the grid indexes every tetrahedron gives
  // the affine value at the weighted position, rounded down: a wrong corner
  // or weight in any of the six cases shows.
  const int m[3][3] = {{10, 5, 12}, {3, 20, 7}, {15, 2, 9}};
  std::vector<unsigned char> t(kDmapTblBytes);
  for (int r = 0; r < 9; r++)
    for (int g = 0; g < 9; g++)
      for (int b = 0; b < 9; b++)
        for (int c = 0; c < 3; c++)
          t[r * 243 + g * 27 + b * 3 + c] = (unsigned char)(m[c][0] * r + m[c][1] * g + m[c][2] * b);

  auto position = [](int v) { return 32 * (v >> 5) + ((v & 31) ? (v & 31) + 1 : 0); };
  for (int R = 0; R < 256; R += 3)
    for (int G = 0; G < 256; G += 5)
      for (int B = 0; B < 256; B += 4)
      {
        const Rgb out = Map(t.data(), {R, G, B});
        for (int c = 0; c < 3; c++)
        {
          const int expect = (m[c][0] * position(R) + m[c][1] * position(G) + m[c][2] * position(B)) >> 5;
          ASSERT_EQ(out[c], expect) << R << "," << G << "," << B << " channel " << c;
        }
      }
}

}  // namespace
