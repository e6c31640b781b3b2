// The whole page pipeline through the filter: every setting, from the job's
// options over the PPD's defaults, reaches its stage (colour correction and
// the direct map, resize, sharpness, the smear table of the print mode), in
// that order, and the same job prints the same bytes every time.
#include "image/color_correction.h"
#include "image/direct_map.h"
#include "image/resize.h"
#include "image/sharpness.h"
#include "image/smear_control.h"
#include "settings.h"
#include "support/fixtures.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// The printer data the library stages give for a page under the settings.
std::vector<unsigned char> ExpectedData(const RasterPage &page, PrintSettings s)
{
  const int w = (int)page.header.cupsWidth, h = (int)page.header.cupsHeight;
  std::vector<unsigned char> pic = page.data;
  const DerivedValues d = DeriveValues(s);
  std::vector<unsigned char> colortable(kColorTableBytes, 0), dmap(kDmapTblBytes, 0);
  BuildColorTable(colortable.data(), d.bdat, d.gdat, d.rdat, d.contrast, s.monochrome ? -10 : s.stp_saturation);
  if (s.directmap)
    InitDmapTbl(dmap.data(), kDmapTblBytes, s.print_mode);
  for (int y = 0; y < h; y++)
    ColorCorrection(&pic[3 * (size_t)y * w], w, colortable.data(), s.directmap, dmap.data());
  const int m = s.stp_resize;
  EXPECT_EQ(m > 0 ? ResizePicture(pic.data(), w, h, m, m) : m < 0 ? ResizePictureAverage(pic.data(), w, h, m, m) : 0, 0);
  EXPECT_EQ(PicytureSharpness(w, h, pic.data(), s.stp_sharpness), 0);
  unsigned char hotlut[kSmearLutBytes];
  GetSmearlut(hotlut, s.print_mode);
  std::vector<unsigned char> data(pic.size());
  EXPECT_EQ(SmearControl(pic.data(), w, h, hotlut, data.data()), 0);
  return data;
}

TEST(Pipeline, SettingsReachTheirStages)
{
  TempDir dir;
  const std::string ras = dir.File("job.ras"), ppd = dir.File("k.ppd"), mono = dir.File("mono.ppd");
  // A photo-like page: gradients, a skin-tone patch and some texture.
  RasterPage page = RgbPage(64, 48, [](unsigned x, unsigned y, unsigned char *p) {
    const bool patch = x >= 20 && x < 44 && y >= 12 && y < 36;
    const unsigned noise = (x * 7919 + y * 104729) % 23;
    p[0] = (unsigned char)(patch ? 200 + noise : 4 * x);
    p[1] = (unsigned char)(patch ? 150 + noise : 5 * y);
    p[2] = (unsigned char)(patch ? 120 : (x * y + noise) % 256);
  });
  WriteRaster(ras, {page});
  WritePpd(ppd, {{"stpResize", "-10"}, {"stpSharpness", "2"}});
  WritePpd(mono, {{"Monochrome", "true"}, {"DirectMap", "true"}, {"stpBlue", "2"}, {"PrintMode", "0"}});

  const struct
  {
    FilterInvocation inv;
    PrintSettings settings;
  } jobs[] = {
      // No PPD: every setting 0 (level 0 sharpens).
      {{.options = "stpResize=25", .file = ras}, {}},
      {{.file = ras, .ppd = ppd}, {.stp_resize = -10, .stp_sharpness = 2}},
      {{.options = "stpResize=25 stpSharpness=-4", .file = ras, .ppd = ppd}, {.stp_resize = 25, .stp_sharpness = -4}},
      {{.options = "stpSharpness=1000", .file = ras, .ppd = ppd}, {.stp_resize = -10, .stp_sharpness = 1000}},
      {{.options = "stpBrightness=2 stpContrast=3 stpSaturation=4 stpRed=1 stpBlue=-1 stpGreen=-2", .file = ras,
        .ppd = ppd},
       {.stp_brightness = 2, .stp_contrast = 3, .stp_saturation = 4, .stp_resize = -10, .stp_sharpness = 2,
        .stp_red = 1, .stp_green = -2, .stp_blue = -1}},
      // Monochrome, the direct map and blue from the PPD, then the normal table.
      {{.file = ras, .ppd = mono}, {.stp_blue = 2, .directmap = 1, .monochrome = 1}},
      {{.options = "PrintMode=1", .file = ras, .ppd = mono},
       {.stp_blue = 2, .print_mode = 1, .directmap = 1, .monochrome = 1}},
  };
  for (const auto &job : jobs)
  {
    SCOPED_TRACE(job.inv.options + (job.inv.ppd ? " with " + *job.inv.ppd : " without a PPD"));
    FilterResult r = RunFilter(job.inv);
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<PageBlocks> pages = SplitPages(r.out);
    ASSERT_EQ(pages.size(), 1u);
    EXPECT_EQ(pages[0].data, ExpectedData(page, job.settings));
    EXPECT_EQ(RunFilter(job.inv).out, r.out) << "the same job again";
  }
}

}  // namespace
