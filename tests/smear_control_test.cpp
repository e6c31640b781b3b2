// Smear control on worked cases: the print mode's curve, the worked
// examples byte for byte, and rules of the stage pinned on pages built to
// show them (the oracle shares none of these values with the stage).
#include "image/smear_control.h"
#include "page_buffers.h"
#include "random/mt19937ar.h"
#include "support/fixtures.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

using Bytes = std::vector<unsigned char>;

Bytes Lut(int mode)
{
  Bytes lut(kSmearLutBytes, 0xAA);
  EXPECT_EQ(GetSmearlut(lut.data(), mode), 1);
  return lut;
}

Bytes IdentityLut()
{
  Bytes lut(kSmearLutBytes);
  for (int i = 0; i < kSmearLutBytes; i++)
    lut[i] = (unsigned char)i;
  return lut;
}

// A page whose row j is rows[j] in every byte.
Bytes RowsPage(unsigned w, const std::vector<int> &rows)
{
  Bytes page;
  for (int v : rows)
    page.insert(page.end(), 3 * (size_t)w, (unsigned char)v);
  return page;
}

Bytes Smear(const Bytes &page, unsigned w, unsigned h, Bytes lut)
{
  Bytes out(3 * (size_t)w * h, 0xA5), src = page;
  EXPECT_EQ(SmearControl(src.data(), w, h, lut.data(), out.data()), 0);
  EXPECT_EQ(src, page) << "the page image is read only";
  return out;
}

TEST(SmearControl, CurvesAndWorkedExamples)
{
  // hotlut is red, green, blue: table sections 2, 1, 0; 0 picks the soft table.
  for (int mode : {0, 1, 2, -1})
  {
    const unsigned char *table = mode == 0 ? HVX_A4_Normal_Soft : HVX_A4_Normal;
    const Bytes lut = Lut(mode);
    for (int c = 0; c < 3; c++)
      EXPECT_TRUE(std::equal(lut.begin() + 256 * c, lut.begin() + 256 * (c + 1), table + 256 * (2 - c))) << mode;
  }

  EXPECT_EQ(Smear(RowsPage(2, {128, 100}), 2, 2, Lut(1)),
            Bytes({105, 105, 124, 125, 111, 111, 131, 131, 108, 108, 127, 128}));
  // White above black: the jump clamps.
  EXPECT_EQ(Smear(RowsPage(2, {255, 0}), 2, 2, Lut(1)), Bytes({0, 0, 255, 255, 0, 0, 255, 255, 0, 0, 255, 255}));
}

// Each call seeds the generator afresh and row 0 draws nothing: after one
// row the generator's published check values follow.  A page of no rows
// writes nothing.
TEST(SmearControl, FirstRowAndTheGenerator)
{
  const Bytes lut = Lut(1);
  init_genrand(7);
  Smear(RandomPage(4, 1, 1), 4, 1, lut);
  for (uint32_t want : {1067595299u, 955945823u, 477289528u, 4107218783u, 4228976476u})
    EXPECT_EQ(genrand_int32(), want);

  Bytes none(12, 0x5A), src(12, 0), curve = lut;
  EXPECT_EQ(SmearControl(src.data(), 2, 0, curve.data(), none.data()), 0);
  EXPECT_EQ(none, Bytes(12, 0x5A));
}

TEST(SmearControl, StrongAndWeakSteps)
{
  // A change of 40 or more from the reference is a strong step (short
  // weight 730), 39 a weak one (280): red of row 1 after 100.
  for (auto [b, red] : {std::pair{139, 147}, {140, 158}, {61, 53}, {60, 42}})
    EXPECT_EQ(Smear(RowsPage(1, {100, b}), 1, 2, IdentityLut())[2 * 2 + 1], red) << "100 -> " << b;
  // 0, then 200 three times (strong, strong, then weak: at most two strong
  // steps in a row, and the weak row makes 200 the reference), 239 (weak),
  // 0 (strong again).
  const Bytes plane = {0, 255, 237, 214, 255, 0};
  Bytes expect;
  for (int p = 0; p < 3; p++)
    expect.insert(expect.end(), plane.begin(), plane.end());
  EXPECT_EQ(Smear(RowsPage(1, {0, 200, 200, 200, 239, 0}), 1, 6, IdentityLut()), expect);

  // Light rows after dark ones push values below zero: shifts toward zero
  // would give 166 and 177 here.
  std::vector<int> rows;
  for (int k = 0; k < 6; k++)
    for (int v : {0, 255, 128})
      rows.insert(rows.end(), 5, v);
  const Bytes out = Smear(RowsPage(3, rows), 3, 90, Lut(1));
  EXPECT_EQ(out[70 * 3 + 1], 165);            // plane 0, row 70, pixel 1
  EXPECT_EQ(out[3 * 90 + 85 * 3 + 0], 176);   // plane 1, row 85, pixel 0
}

}  // namespace
