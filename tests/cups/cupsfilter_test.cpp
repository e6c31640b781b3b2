// The real conversion chain: cupsfilter with the printer's PPD runs
// Debian's prefilters (imagetoraster for a PNG, pdftopdf and gstoraster for
// a PDF) and then the built filter, which gets the chart's own pixels.
#include "cups_support.h"

#include <gtest/gtest.h>

#include <fstream>

namespace {

class Cupsfilter : public ::testing::Test
{
protected:
  void SetUp() override
  {
    if (FindProgram("cupsfilter").empty())
      GTEST_SKIP() << "cupsfilter is not installed";
    WriteCharts(dir_.path());
    std::ofstream(dir_.File("cups-files.conf")) << "ServerBin " << MakeServerBin(dir_.path()) << "\n";
  }

  std::vector<PageBlocks> Print(const std::string &input, const std::vector<std::string> &options)
  {
    const CommandResult r = RunCommand(CupsfilterArgv(dir_.File("cups-files.conf"), options, input));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("rastertokelvo"), std::string::npos) << "the chain did not reach the filter";
    return SplitPages(r.out);
  }

  // The filter run by hand on a raster of the chart.
  std::vector<PageBlocks> Direct(const std::string &ras, const std::string &options)
  {
    const FilterResult r = RunFilter({.options = options, .file = dir_.File(ras), .ppd = KELVO_PPD_PATH});
    EXPECT_EQ(r.status, 0) << r.err;
    return SplitPages(r.out);
  }

  TempDir dir_;
};

TEST_F(Cupsfilter, PngThroughImagetoraster)
{
  // With print-scaling=fill the 300 dpi chart lands on the 6x4 page pixel
  // for pixel.
  const std::vector<PageBlocks> pages = Print(dir_.File("chart.png"), {"print-scaling=fill", "PrintMode=1", "stpBrightness=3"});
  ASSERT_EQ(pages.size(), 1u);
  EXPECT_EQ(std::tuple(pages[0].width(), pages[0].height(), pages[0].mode()), std::tuple(1800u, 1200u, 0x04u));
  EXPECT_TRUE(pages[0].data == Direct("chart.ras", "print-scaling=fill PrintMode=1 stpBrightness=3").at(0).data)
      << "the chain changed the chart's pixels or the options";
}

TEST_F(Cupsfilter, PdfThroughGhostscript)
{
  // Two pages on the default 6x4 size, with cut mode 3.
  const std::vector<PageBlocks> pages = Print(dir_.File("chart.pdf"), {"MultiChop=3"});
  const std::vector<PageBlocks> direct = Direct("chart.ras", "MultiChop=3");
  ASSERT_EQ(pages.size(), 2u);
  ASSERT_EQ(direct.size(), 2u);
  for (int i = 0; i < 2; i++)
  {
    EXPECT_TRUE(pages[i].data == direct[i].data && pages[i].start == direct[i].start) << "page " << i + 1;
    EXPECT_EQ(pages[i].mode(), 0x44u);
  }
  EXPECT_TRUE(pages[0].data != pages[1].data) << "the pages carry their page marks";
}

}  // namespace
