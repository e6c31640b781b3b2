// Print settings: job options over PPD defaults over 0, the log of where
// each value came from, and the conversion of option texts.
#include "settings.h"
#include "support/fixtures.h"

#include <array>
#include <climits>
#include <gtest/gtest.h>

namespace {

TEST(Settings, ConvertNumberIsAtoiWithoutOverflow)
{
  for (auto [text, value] : {std::pair{"12", 12}, {"  -3", -3}, {"+7x", 7}, {"abc", 0}, {"None", 0}, {"", 0},
                             {"- 5", 0}, {"2147483647", INT_MAX}, {"-2147483648", INT_MIN},
                             {"2147483648", INT_MAX}, {"-99999999999999999999999", INT_MIN}})
    EXPECT_EQ(ConvertNumber(text), value) << text;
}

TEST(Settings, DerivedValuesRoundTowardZero)
{
  // Blue, green, red balance offsets, contrast term and divisor.
  for (auto [s, want] : {std::pair{PrintSettings{.stp_red = 1}, std::array{-1, -1, 3, 0, 128}},
                         {PrintSettings{.stp_brightness = 2, .stp_contrast = 3, .stp_red = 1, .stp_blue = -1},
                          std::array{6, 10, 14, 15, 113}}})
  {
    const DerivedValues d = DeriveValues(s);
    EXPECT_EQ((std::array{d.bdat, d.gdat, d.rdat, d.contrast, d.divisor}), want);
  }
}

std::vector<std::string> SettingLines(const FilterResult &r)
{
  std::vector<std::string> lines;
  for (const std::string &line : LinesWith(r.err, "DEBUG: "))
    if (line.find("(1)") != std::string::npos || line.find("(2)") != std::string::npos ||
        line.find("(3)") != std::string::npos || line.find("argv[5]") != std::string::npos ||
        line.find("cupsParseOptions") != std::string::npos || line.find("out of range") != std::string::npos)
      lines.push_back(line);
  return lines;
}

TEST(Settings, ResolvedFromJobThenPpdThenZero)
{
  TempDir dir;
  std::string ras = dir.File("job.ras"), ppd = dir.File("k.ppd");
  WriteRaster(ras, {RgbPage(2, 2)});
  WritePpd(ppd, {{"stpBrightness", "5"}, {"stpContrast", "-3"}, {"stpSaturation", "None"},
                 {"stpSharpness", "2"}, {"PrintMode", "1"}, {"Monochrome", "true"}, {"DirectMap", "false"},
                 {"stpBlue", ""}});
  FilterResult r = RunFilter({.options = "stpBrightness=12 stpResize=abc DirectMap=True stpRed=-2147483648 "
                                         "stpGreen=1000 stpSharpness=1001",
                              .file = ras,
                              .ppd = ppd});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::vector<std::string> expected = {
      "DEBUG: argv[5]=stpBrightness=12 stpResize=abc DirectMap=True stpRed=-2147483648 stpGreen=1000 "
      "stpSharpness=1001",
      "DEBUG: cupsParseOptions=6",
      "DEBUG: stp_brightness(1)=12",
      "DEBUG: stp_contrast(2)=-3",
      "DEBUG: stp_saturation(2)=0",
      "DEBUG: stp_resize(1)=0",
      "DEBUG: stp_sharpness=1001 is out of range, using 1000",
      "DEBUG: stp_sharpness(1)=1000",
      "DEBUG: stp_red=-2147483648 is out of range, using -1000",
      "DEBUG: stp_red(1)=-1000",
      "DEBUG: stp_green(1)=1000",
      "DEBUG: stp_blue(2)=0",
      "DEBUG: print_mode(2)=1",
      "DEBUG: multi_chop(3)=0",
      "DEBUG: directmap(1)=0 val=True",
      "DEBUG: monochrome(2)=1",
  };
  EXPECT_EQ(SettingLines(r), expected);

  FilterResult exact = RunFilter({.options = "DirectMap=true Monochrome=truex", .file = ras, .ppd = ppd});
  EXPECT_EQ(LinesWith(exact.err, "DEBUG: directmap(1)=1 val=true").size(), 1u);
  EXPECT_EQ(LinesWith(exact.err, "DEBUG: monochrome(1)=0 val=truex").size(), 1u);

  FilterResult empty = RunFilter({.options = "", .file = ras, .ppd = ppd});
  EXPECT_EQ(LinesWith(empty.err, "DEBUG: cupsParseOptions=0").size(), 1u);
  EXPECT_EQ(LinesWith(empty.err, "DEBUG: stp_brightness(2)=5").size(), 1u);
}

}  // namespace
