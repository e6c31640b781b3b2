// Print settings: the conversion of option texts, and
// job options over PPD defaults over 0 with the log of each value's source.
#include "settings.h"
#include "support/fixtures.h"

#include <gtest/gtest.h>

#include <climits>

namespace {

// (The derived values: the colour table tests.)
TEST(Settings, ConvertNumberAndDerivedValues)
{
  for (auto [text, value] : {std::pair{"12", 12}, {"  -3", -3}, {"+7x", 7}, {"abc", 0}, {"", 0}, {"- 5", 0},
                             {"2147483647", INT_MAX}, {"-2147483648", INT_MIN}, {"2147483648", INT_MAX},
                             {"-99999999999999999999999", INT_MIN}})
    EXPECT_EQ(ConvertNumber(text), value) << text;
}

TEST(Settings, ResolvedFromJobThenPpdThenZero)
{
  TempDir dir;
  const std::string ras = dir.File("job.ras"), ppd = dir.File("k.ppd");
  WriteRaster(ras, {RgbPage(2, 2)});
  WritePpd(ppd, {{"stpBrightness", "5"}, {"stpContrast", "-3"}, {"stpSaturation", "None"}, {"stpSharpness", "2"},
                 {"PrintMode", "1"}, {"Monochrome", "true"}, {"DirectMap", "false"}, {"stpBlue", ""}});
  const std::string options =
      "stpBrightness=12 stpResize=abc DirectMap=True stpRed=-2147483648 stpGreen=1000 stpSharpness=1001";
  const FilterResult r = RunFilter({.options = options, .file = ras, .ppd = ppd});
  ASSERT_EQ(r.status, 0) << r.err;
  std::vector<std::string> lines;
  for (const std::string &line : LinesWith(r.err, "DEBUG: "))
    if (line.find(")=") != std::string::npos || line.find("argv") != std::string::npos ||
        line.find("cupsParse") != std::string::npos || line.find("range") != std::string::npos)
      lines.push_back(line.substr(7));
  const std::vector<std::string> expected = {
      "argv[5]=" + options, "cupsParseOptions=6", "stp_brightness(1)=12", "stp_contrast(2)=-3",
      "stp_saturation(2)=0", "stp_resize(1)=0", "stp_sharpness=1001 is out of range, using 1000",
      "stp_sharpness(1)=1000", "stp_red=-2147483648 is out of range, using -1000", "stp_red(1)=-1000",
      "stp_green(1)=1000", "stp_blue(2)=0", "print_mode(2)=1", "multi_chop(3)=0", "directmap(1)=0 val=True",
      "monochrome(2)=1"};
  EXPECT_EQ(lines, expected);

  // Only the exact text "true" is true.
  const FilterResult exact = RunFilter({.options = "DirectMap=true Monochrome=truex", .file = ras, .ppd = ppd});
  EXPECT_EQ(LinesWith(exact.err, "DEBUG: directmap(1)=1 val=true").size(), 1u);
  EXPECT_EQ(LinesWith(exact.err, "DEBUG: monochrome(1)=0 val=truex").size(), 1u);
}

}  // namespace
