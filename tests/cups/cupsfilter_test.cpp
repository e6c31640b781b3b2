// The real conversion chain: cupsfilter with the printer's PPD runs
// Debian's prefilters (imagetoraster for a PNG, pdftopdf and gstoraster for
// a PDF) and then the built filter.
#include "cups_support.h"

#include "../../tools/test_chart.h"

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
    serverBin_ = MakeServerBin(dir_.path());
    std::ofstream(dir_.File("cups-files.conf")) << "ServerBin " << serverBin_ << "\n";
  }

  std::string Print(const std::string &input, const std::vector<std::string> &options)
  {
    CommandResult r = RunCommand(CupsfilterArgv(dir_.File("cups-files.conf"), options, input));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("rastertokelvo"), std::string::npos) << "the chain did not reach the filter";
    return r.out;
  }

  // The filter run by hand on the chart's own raster.
  std::string Direct(const std::string &options)
  {
    FilterResult r = RunFilter({.options = options, .file = dir_.File("chart.ras"), .ppd = BuiltPpd()});
    EXPECT_EQ(r.status, 0) << r.err;
    return r.out;
  }

  TempDir dir_;
  std::string serverBin_;
};

// The top of the chart is white for a fifth of its height; the rows kept
// clear of its lower edge must be left blank.
constexpr unsigned kChartWidth = 1800, kChartHeight = 1200;
unsigned WhiteRows() { return ChartLayout(kChartHeight).ramps - 8; }

TEST_F(Cupsfilter, PngThroughImagetoraster)
{
  // imagetoraster fills the page only with print-scaling=fill; the 300 dpi
  // chart then lands on the 6x4 page pixel for pixel.
  const std::string options = "print-scaling=fill PrintMode=1 stpBrightness=3";
  std::string out = Print(dir_.File("chart.png"), {"print-scaling=fill", "PrintMode=1", "stpBrightness=3"});
  std::vector<PageBlocks> pages = SplitPages(out);
  ASSERT_EQ(pages.size(), 1u);
  EXPECT_EQ(pages[0].width(), kChartWidth);
  EXPECT_EQ(pages[0].height(), kChartHeight);
  EXPECT_EQ(pages[0].mode(), 0x04u);
  std::vector<PageBlocks> direct = SplitPages(Direct(options));
  ASSERT_EQ(direct.size(), 2u);
  EXPECT_TRUE(pages[0].data == direct[0].data) << "the chain changed the chart's pixels or the options";
  if (SmearCurveIsReal(1))
  {
    EXPECT_TRUE(RowsAreBlank(pages[0], 0, WhiteRows()));
  }
}

TEST_F(Cupsfilter, PdfThroughGhostscript)
{
  // Two pages on the default 6x4 size: the same bytes as the chart's raster.
  std::string out = Print(dir_.File("chart.pdf"), {});
  std::vector<PageBlocks> pages = SplitPages(out);
  ASSERT_EQ(pages.size(), 2u);
  EXPECT_TRUE(out == Direct("")) << "the chain changed the chart's pixels";
  EXPECT_TRUE(pages[0].data != pages[1].data) << "the two pages differ in their page marks";

  // A chart as large as a 6 x 8 inch page, whose 2504 rows the printer
  // recognises, on that page size with cut mode 3.
  CommandResult chart = RunCommand({ChartTool(), "--size", "1800x2504", "--pages", "2", "--pdf",
                                    dir_.File("chart8.pdf"), "--raster", dir_.File("chart8.ras")});
  ASSERT_EQ(chart.status, 0) << chart.err;
  out = Print(dir_.File("chart8.pdf"), {"PageSize=6x8", "MultiChop=3"});
  pages = SplitPages(out);
  ASSERT_EQ(pages.size(), 2u);
  FilterResult direct = RunFilter({.options = "PageSize=6x8 MultiChop=3", .file = dir_.File("chart8.ras"),
                                   .ppd = BuiltPpd()});
  EXPECT_TRUE(out == direct.out) << "the chain changed the chart's pixels";
  for (const PageBlocks &page : pages)
  {
    EXPECT_EQ(page.width(), 1800u);
    EXPECT_EQ(page.height(), 2504u);
    EXPECT_EQ(page.mode(), 0xE4u);
    EXPECT_EQ(page.end, EndBlocks());
    if (SmearCurveIsReal(0))
    {
      EXPECT_TRUE(RowsAreBlank(page, 0, ChartLayout(2504).ramps - 8));
    }
  }
  if (!SmearCurveIsReal(0))
    std::cout << "[   NOTE   ] no smear curve is built in: the blank-white checks are not run\n";
}

}  // namespace
