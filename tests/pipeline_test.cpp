// The whole page pipeline through the filter: resize and sharpness settings
// from the PPD and the job options reach the page, in order, after colour
// correction and before smear control, and the same job prints the same
// bytes every time.
#include "image/color_correction.h"
#include "image/resize.h"
#include "image/sharpness.h"
#include "image/smear_control.h"
#include "support/fixtures.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// The printer data the library stages give for a page printed with neutral
// colour settings and the given resize and sharpness.
std::vector<unsigned char> ExpectedData(const RasterPage &page, int resize, int sharpness)
{
  const int w = (int)page.header.cupsWidth, h = (int)page.header.cupsHeight;
  std::vector<unsigned char> pic = page.data;
  std::vector<unsigned char> colortable(kColorTableBytes, 0);
  BuildColorTable(colortable.data(), 0, 0, 0, 0, 0);
  unsigned char DmapTbl[9 * 9 * 9 * 3] = {};
  for (int y = 0; y < h; y++)
    ColorCorrection(&pic[3 * (size_t)y * w], w, colortable.data(), 0, DmapTbl);
  if (resize > 0)
  {
    EXPECT_EQ(ResizePicture(pic.data(), w, h, resize, resize), 0);
  }
  else if (resize < 0)
  {
    EXPECT_EQ(ResizePictureAverage(pic.data(), w, h, resize, resize), 0);
  }
  EXPECT_EQ(PicytureSharpness(w, h, pic.data(), sharpness), 0);
  unsigned char hotlut[kSmearLutBytes];
  GetSmearlut(hotlut, 0);
  std::vector<unsigned char> data(pic.size());
  EXPECT_EQ(SmearControl(pic.data(), w, h, hotlut, data.data()), 0);
  return data;
}

TEST(Pipeline, ResizeAndSharpnessReachThePage)
{
  TempDir dir;
  std::string ras = dir.File("job.ras"), ppd = dir.File("k.ppd");
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

  struct Job
  {
    FilterInvocation inv;
    int resize, sharpness;
  };
  const Job jobs[] = {
      {{.file = ras}, 0, 0},  // no PPD: every setting 0, and level 0 sharpens
      {{.file = ras, .ppd = ppd}, -10, 2},
      {{.options = "stpResize=25 stpSharpness=-4", .file = ras, .ppd = ppd}, 25, -4},
      {{.options = "stpSharpness=1000", .file = ras, .ppd = ppd}, -10, 4},
  };
  std::vector<std::vector<unsigned char>> outputs;
  for (const Job &job : jobs)
  {
    FilterResult r = RunFilter(job.inv);
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<PageBlocks> pages = SplitPages(r.out);
    ASSERT_EQ(pages.size(), 1u);
    EXPECT_EQ(pages[0].data, ExpectedData(page, job.resize, job.sharpness))
        << "resize " << job.resize << " sharpness " << job.sharpness;
    // The same job again gives the same bytes.
    EXPECT_EQ(RunFilter(job.inv).out, r.out);
    outputs.push_back(pages[0].data);
  }
  // Every setting above leads to a page of its own.
  for (size_t a = 0; a < outputs.size(); a++)
    for (size_t b = a + 1; b < outputs.size(); b++)
      EXPECT_NE(outputs[a], outputs[b]) << a << " " << b;
}

}  // namespace
