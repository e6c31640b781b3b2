// Colour correction: the colour table built from the settings, the
// saturation step, the tone curves and the direct-map pass (the settings
// reaching the stage through the filter: pipeline_test.cpp).
#include "image/color_correction.h"
#include "image/direct_map.h"
#include "settings.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <vector>

namespace {

using Rgb = std::array<int, 3>;

struct ColorTable
{
  std::vector<unsigned char> bytes = std::vector<unsigned char>(kColorTableBytes, 0);
  int Blue(int n) const { return bytes[n]; }
  int Green(int n) const { return bytes[256 + n]; }
  int Red(int n) const { return bytes[512 + n]; }
  int Sat(int i) const
  {
    int16_t v;
    memcpy(&v, &bytes[768 + 2 * i], 2);
    return v;
  }
};

ColorTable Build(const PrintSettings &s)
{
  const DerivedValues d = DeriveValues(s);
  ColorTable t;
  BuildColorTable(t.bytes.data(), d.bdat, d.gdat, d.rdat, d.contrast, s.monochrome ? -10 : s.stp_saturation);
  return t;
}

Rgb Correct(ColorTable &t, Rgb in, unsigned char *DmapTbl = nullptr)
{
  unsigned char px[3] = {(unsigned char)in[0], (unsigned char)in[1], (unsigned char)in[2]};
  ColorCorrection(px, 1, t.bytes.data(), DmapTbl != nullptr, DmapTbl);
  return {px[0], px[1], px[2]};
}

TEST(ColorCorrection, CurveBuildWorkedExample)
{
  // Brightness 2, contrast 3, saturation 4, red 1, blue -1: balances 6, 10,
  // 14 and contrast term 15 (settings_test.cpp).  Every byte but clrsatable
  // entry 0 is written, whatever the fill.
  ColorTable t, other;
  memset(other.bytes.data(), 0xAA, kColorTableBytes);
  BuildColorTable(t.bytes.data(), 6, 10, 14, 15, 4);
  BuildColorTable(other.bytes.data(), 6, 10, 14, 15, 4);
  for (int i = 0; i < kColorTableBytes; i++)
    EXPECT_EQ(other.bytes[i], i == 768 || i == 769 ? 0xAA : t.bytes[i]) << i;

  // n, blue, green, red, clrsatable[256 + n]
  const int rows[][5] = {{0, 0, 0, 0, 0},         {16, 7, 11, 15, 4},       {64, 61, 65, 69, 17},
                         {128, 134, 138, 142, 34}, {200, 215, 219, 223, 53}, {240, 255, 255, 255, 64},
                         {255, 255, 255, 255, 68}};
  for (const auto &r : rows)
  {
    SCOPED_TRACE(r[0]);
    EXPECT_EQ(t.Blue(r[0]), r[1]);
    EXPECT_EQ(t.Green(r[0]), r[2]);
    EXPECT_EQ(t.Red(r[0]), r[3]);
    EXPECT_EQ(t.Sat(256 + r[0]), r[4]);
    EXPECT_EQ(t.Sat(256 - r[0]), -r[4]);
  }

  // The straight line by contrast, seen through offsets that keep it in
  // range: blue = temp + 100 for low values, red = temp - 100 for high ones.
  const struct
  {
    int contrast, temp[5];
  } lines[] = {{-10, {35, 81, 128, 174, 219}}, {-5, {20, 74, 128, 181, 234}}, {0, {0, 64, 128, 192, 255}},
               {5, {-31, 48, 128, 207, 285}},  {10, {-82, 22, 128, 233, 336}}};
  const int ns[5] = {0, 64, 128, 192, 255};
  for (const auto &l : lines)
  {
    ColorTable c;
    BuildColorTable(c.bytes.data(), 100, 0, -100, 5 * l.contrast, 0);
    for (int i = 0; i < 5; i++)
    {
      const int temp = l.temp[i] < 128 ? c.Blue(ns[i]) - 100 : c.Red(ns[i]) + 100;
      EXPECT_EQ(temp, l.temp[i]) << "contrast " << l.contrast << " n " << ns[i];
    }
  }
}

// Neutral settings build identity curves and no saturation step (that such
// a table leaves a page alone is checked by the differential test).
TEST(ColorCorrection, NeutralSettingsGiveANeutralTable)
{
  ColorTable t = Build(PrintSettings{});
  for (int n = 0; n < 256; n++)
    ASSERT_EQ(Rgb({t.Red(n), t.Green(n), t.Blue(n)}), Rgb({n, n, n}));
  for (int i = 0; i < 512; i++)
    ASSERT_EQ(t.Sat(i), 0);
}

TEST(ColorCorrection, BalanceRoundsTowardZeroAndCurvesClamp)
{
  ColorTable t = Build({.stp_red = 1});
  EXPECT_EQ(t.Blue(0), 0);
  EXPECT_EQ(t.Blue(255), 254);
  EXPECT_EQ(t.Red(0), 3);

  ColorTable c = Build({.stp_contrast = 10});
  for (int n = 0; n < 256; n++)
  {
    const int expect = n <= 50 ? 0 : n == 51 ? 1 : n == 205 ? 254 : n >= 206 ? 255 : -1;
    if (expect >= 0)
    {
      EXPECT_EQ(c.Blue(n), expect) << n;
    }
    EXPECT_EQ(c.Green(n), c.Blue(n));
    EXPECT_EQ(c.Red(n), c.Blue(n));
  }

  // Contrast beyond 25 turns the divisor negative: the curve falls.
  ColorTable f = Build({.stp_contrast = 30});
  EXPECT_EQ(f.Blue(0), 255);   // (0 - 128 * 150) / -22 = 872
  EXPECT_EQ(f.Blue(255), 0);   // (32640 - 19200) / -22 = -610
}

TEST(ColorCorrection, SaturationAndMonochrome)
{
  ColorTable m = Build({.stp_saturation = 7, .monochrome = 1});  // saturation replaced by -10
  EXPECT_EQ(Correct(m, {255, 0, 0}), Rgb({85, 84, 84}));
  EXPECT_EQ(Correct(m, {0, 255, 0}), Rgb({84, 85, 84}));
  EXPECT_EQ(Correct(m, {10, 200, 30}), Rgb({80, 80, 80}));
  EXPECT_EQ(Correct(m, {100, 100, 100}), Rgb({100, 100, 100}));

  ColorTable s = Build({.stp_saturation = 5});
  EXPECT_EQ(Correct(s, {200, 100, 50}), Rgb({241, 92, 17}));
  EXPECT_EQ(Correct(s, {255, 0, 0}), Rgb({255, 0, 0}));
  EXPECT_EQ(Correct(s, {90, 90, 90}), Rgb({90, 90, 90}));
}

TEST(ColorCorrection, CurvesAreStoredBlueGreenRed)
{
  ColorTable t = Build({.stp_blue = 2});
  EXPECT_EQ(t.Blue(100), 106);
  EXPECT_EQ(t.Red(100), 97);
  EXPECT_EQ(Correct(t, {100, 100, 100}), Rgb({97, 97, 106}));
  EXPECT_EQ(Correct(t, {0, 0, 0}), Rgb({0, 0, 6}));
}

TEST(ColorCorrection, RowWidthAndDirectMap)
{
  ColorTable t = Build({.stp_brightness = 4});

  // Widths of 0 or less correct nothing; a row of more than 32767 pixels is
  // corrected to its end.
  std::vector<unsigned char> row(3 * 40000, 60);
  ColorCorrection(row.data(), 0, t.bytes.data(), 0, nullptr);
  ColorCorrection(row.data(), -5, t.bytes.data(), 0, nullptr);
  EXPECT_EQ(row, std::vector<unsigned char>(3 * 40000, 60));
  ColorCorrection(row.data(), 39999, t.bytes.data(), 0, nullptr);
  EXPECT_EQ(std::vector<unsigned char>(row.begin(), row.end() - 3), std::vector<unsigned char>(3 * 39999, 80));
  EXPECT_EQ(row[3 * 39999], 60);

  // With the direct-map table loaded, each pixel goes through the curves
  // and then through the table.
  std::vector<unsigned char> dmap(kDmapTblBytes);
  InitDmapTbl(dmap.data(), kDmapTblBytes, 1);
  EXPECT_EQ(Correct(t, {80, 130, 180}, dmap.data()), Rgb({105, 142, 209}));  // (100, 150, 200) in the table
  EXPECT_EQ(Correct(t, {235, 235, 235}, dmap.data()), Rgb({255, 255, 255}));
  InitDmapTbl(dmap.data(), kDmapTblBytes, 0);
  ColorTable n = Build({});
  EXPECT_EQ(Correct(n, {200, 150, 100}, dmap.data()), Rgb({189, 139, 114}));
}

}  // namespace
