// Colour correction on worked values: the colour table built from the
// settings, the saturation step, the curves' order and the direct-map pass.
#include "image/color_correction.h"
#include "image/direct_map.h"
#include "settings.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <vector>

namespace {

using Rgb = std::array<int, 3>;

struct ColorTable
{
  std::vector<unsigned char> bytes = std::vector<unsigned char>(kColorTableBytes, 0);
  Rgb Curves(int n) const { return {bytes[512 + n], bytes[256 + n], bytes[n]}; }  // red, green, blue
  int Sat(int i) const
  {
    int16_t v;
    memcpy(&v, &bytes[768 + 2 * i], 2);
    return v;
  }
  Rgb Correct(Rgb in, const std::vector<unsigned char> &dmap = {})
  {
    unsigned char px[3] = {(unsigned char)in[0], (unsigned char)in[1], (unsigned char)in[2]};
    ColorCorrection(px, 1, bytes.data(), !dmap.empty(), const_cast<unsigned char *>(dmap.data()));
    return {px[0], px[1], px[2]};
  }
};

ColorTable Build(const PrintSettings &s)
{
  const DerivedValues d = DeriveValues(s);
  ColorTable t;
  BuildColorTable(t.bytes.data(), d.bdat, d.gdat, d.rdat, d.contrast, s.monochrome ? -10 : s.stp_saturation);
  return t;
}

TEST(ColorCorrection, ColourTableWorkedExample)
{
  // Brightness 2, contrast 3, saturation 4, red 1, blue -1: offsets blue 6,
  // green 10, red 14, contrast term 15.  Every byte but clrsatable entry 0
  // is written, whatever the fill.
  ColorTable t = Build({.stp_brightness = 2, .stp_contrast = 3, .stp_saturation = 4, .stp_red = 1, .stp_blue = -1});
  ColorTable filled;
  memset(filled.bytes.data(), 0xAA, kColorTableBytes);
  BuildColorTable(filled.bytes.data(), 6, 10, 14, 15, 4);
  for (int i = 0; i < kColorTableBytes; i++)
    ASSERT_EQ(filled.bytes[i], i == 768 || i == 769 ? 0xAA : t.bytes[i]) << i;
  // n, red, green, blue, clrsatable[256 + n]
  for (auto [n, r, g, b, sat] : {std::array{0, 0, 0, 0, 0}, {16, 15, 11, 7, 4}, {64, 69, 65, 61, 17},
                                 {128, 142, 138, 134, 34}, {200, 223, 219, 215, 53}, {240, 255, 255, 255, 64},
                                 {255, 255, 255, 255, 68}})
  {
    EXPECT_EQ(t.Curves(n), Rgb({r, g, b})) << n;
    EXPECT_EQ(t.Sat(256 + n), sat) << n;
    EXPECT_EQ(t.Sat(256 - n), -sat) << n;
  }
  // Red 1 alone: blue and green -1 rounded toward zero from -4/3, red 3.
  EXPECT_EQ(Build({.stp_red = 1}).Curves(0), Rgb({3, 0, 0}));
  EXPECT_EQ(Build({.stp_red = 1}).Curves(255), Rgb({255, 254, 254}));
  // Contrast 10 clamps below 51 and above 205; beyond 25 the divisor turns
  // negative and the curve falls.
  ColorTable c = Build({.stp_contrast = 10});
  for (auto [n, v] : {std::pair{50, 0}, {51, 1}, {128, 128}, {205, 254}, {206, 255}})
    EXPECT_EQ(c.Curves(n), Rgb({v, v, v})) << n;
  EXPECT_EQ(Build({.stp_contrast = 30}).Curves(0), Rgb({255, 255, 255}));
  EXPECT_EQ(Build({.stp_contrast = 30}).Curves(255), Rgb({0, 0, 0}));
}

TEST(ColorCorrection, PixelsThroughTheTable)
{
  // Monochrome replaces the saturation by -10.
  ColorTable m = Build({.stp_saturation = 7, .monochrome = 1});
  EXPECT_EQ(m.Correct({255, 0, 0}), Rgb({85, 84, 84}));
  EXPECT_EQ(m.Correct({0, 255, 0}), Rgb({84, 85, 84}));
  EXPECT_EQ(m.Correct({10, 200, 30}), Rgb({80, 80, 80}));
  ColorTable s = Build({.stp_saturation = 5});
  EXPECT_EQ(s.Correct({200, 100, 50}), Rgb({241, 92, 17}));
  EXPECT_EQ(s.Correct({90, 90, 90}), Rgb({90, 90, 90}));
  // The curves are stored blue, green, red.
  ColorTable b = Build({.stp_blue = 2});
  EXPECT_EQ(b.Correct({100, 100, 100}), Rgb({97, 97, 106}));
  EXPECT_EQ(b.Correct({0, 0, 0}), Rgb({0, 0, 6}));

  // With the direct map each pixel goes through the curves, then the table.
  std::vector<unsigned char> dmap(kDmapTblBytes);
  InitDmapTbl(dmap.data(), kDmapTblBytes, 1);
  ColorTable t = Build({.stp_brightness = 4});
  EXPECT_EQ(t.Correct({80, 130, 180}, dmap), Rgb({105, 142, 209}));  // (100, 150, 200) in the table
  EXPECT_EQ(t.Correct({235, 235, 235}, dmap), Rgb({255, 255, 255}));
  InitDmapTbl(dmap.data(), kDmapTblBytes, 0);
  EXPECT_EQ(Build({}).Correct({200, 150, 100}, dmap), Rgb({189, 139, 114}));
}

}  // namespace
