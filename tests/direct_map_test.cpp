// The direct-map colour table: the built-in tables, loading by print mode,
// and tetrahedral interpolation on worked pixels and on an affine table.
#include "image/direct_map.h"
#include "image/smear_control.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <vector>

namespace {

using Rgb = std::array<int, 3>;

Rgb Map(const std::vector<unsigned char> &table, Rgb in)
{
  unsigned char r = (unsigned char)in[0], g = (unsigned char)in[1], b = (unsigned char)in[2];
  EXPECT_EQ(Change3D(const_cast<unsigned char *>(table.data()), &r, &g, &b), 1);
  return {r, g, b};
}

uint64_t Fnv1a(const unsigned char *p, size_t n)
{
  uint64_t h = 14695981039346656037ull;
  for (size_t i = 0; i < n; i++)
    h = (h ^ p[i]) * 1099511628211ull;
  return h;
}

// The calibrated tables as generated (tools/gen_dmap_tables.py,
// tools/gen_smear_tables.py): every byte pinned by its digest.
TEST(BuiltInTables, HoldTheirCalibratedValues)
{
  EXPECT_EQ(Fnv1a(HVX_DmapTbl_A4_Normal, kDmapTblBytes), 392751338264642994ull);
  EXPECT_EQ(Fnv1a(HVX_DmapTbl_A4_Soft, kDmapTblBytes), 14055193193890568430ull);
  EXPECT_EQ(Fnv1a(HVX_A4_Normal, kSmearLutBytes), 4859292036393638609ull);
  EXPECT_EQ(Fnv1a(HVX_A4_Normal_Soft, kSmearLutBytes), 15034610873084413489ull);
}

TEST(DirectMap, LoadsTheModesTableAndMapsWorkedPixels)
{
  std::vector<unsigned char> soft(kDmapTblBytes), normal(kDmapTblBytes);
  EXPECT_EQ(InitDmapTbl(soft.data(), kDmapTblBytes, 0), 1);
  EXPECT_EQ(memcmp(soft.data(), HVX_DmapTbl_A4_Soft, kDmapTblBytes), 0);
  for (int mode : {1, 2, -1})
  {
    InitDmapTbl(normal.data(), kDmapTblBytes, mode);
    EXPECT_EQ(memcmp(normal.data(), HVX_DmapTbl_A4_Normal, kDmapTblBytes), 0) << mode;
  }
  // in, normal, soft: a grid point, the weight of 31 rounding up, 1.
  const Rgb cases[][3] = {{{255, 0, 0}, {231, 9, 27}, {231, 6, 27}},
                          {{31, 31, 31}, {31, 31, 35}, {32, 28, 35}},
                          {{1, 1, 1}, {1, 1, 2}, {2, 1, 2}},
                          {{100, 150, 200}, {105, 142, 209}, {102, 140, 209}},
                          {{250, 20, 130}, {224, 21, 145}, {224, 19, 145}}};
  for (const auto &c : cases)
  {
    EXPECT_EQ(Map(normal, c[0]), c[1]) << c[0][0] << "," << c[0][1] << "," << c[0][2];
    EXPECT_EQ(Map(soft, c[0]), c[2]) << c[0][0] << "," << c[0][1] << "," << c[0][2];
  }
}

// On a table affine in the grid indexes every tetrahedron gives the affine
// value at the weighted position, rounded down: a wrong corner or weight in
// any of the six cases shows.
TEST(DirectMap, EveryTetrahedronInterpolatesAnAffineTableExactly)
{
  const int m[3][3] = {{10, 5, 12}, {3, 20, 7}, {15, 2, 9}};
  std::vector<unsigned char> t(kDmapTblBytes);
  for (int i = 0; i < 729; i++)
    for (int c = 0; c < 3; c++)
      t[3 * i + c] = (unsigned char)(m[c][0] * (i / 81) + m[c][1] * (i / 9 % 9) + m[c][2] * (i % 9));
  auto position = [](int v) { return 32 * (v >> 5) + ((v & 31) ? (v & 31) + 1 : 0); };
  for (int R = 0; R < 256; R += 3)
    for (int G = 0; G < 256; G += 5)
      for (int B = 0; B < 256; B += 4)
      {
        const Rgb out = Map(t, {R, G, B});
        for (int c = 0; c < 3; c++)
          ASSERT_EQ(out[c], (m[c][0] * position(R) + m[c][1] * position(G) + m[c][2] * position(B)) >> 5)
              << R << "," << G << "," << B << " channel " << c;
      }
}

}  // namespace
