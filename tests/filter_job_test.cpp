// The filter as CUPS runs it: arguments, input, header log, progress, the
// final status, pages it refuses and cancellation between pages.
#include "support/fixtures.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <unistd.h>

namespace {

const std::string kUsage = "ERROR: rastertokelvo job-id user title copies options [file]";

TEST(FilterJob, ArgumentsAndInput)
{
  TempDir dir;
  std::string ras = dir.File("job.ras");
  WriteRaster(ras, {RgbPage(4, 3)});

  for (size_t count : {5u, 8u})
  {
    std::vector<std::string> args = {"rastertokelvo", "1", "u", "t", "1", "", ras, "x"};
    args.resize(count);
    FilterResult r = RunFilter({.argv = args});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(LinesWith(r.err, "ERROR:"), std::vector<std::string>{kUsage});
  }

  // Five arguments read standard input, six the named file.
  FilterResult fromStdin = RunFilter({.stdinPath = ras});
  FilterResult fromFile = RunFilter({.file = ras});
  EXPECT_EQ(fromStdin.status, 0);
  EXPECT_EQ(fromFile.status, 0);
  EXPECT_EQ(fromStdin.out.size(), 4u * 3 * 3 + 95);
  EXPECT_EQ(fromStdin.out, fromFile.out);
  EXPECT_EQ(LinesWith(fromFile.err, "INFO: CUPS v1.2.12 is ready to print.").size(), 1u);

  FilterResult missing = RunFilter({.file = dir.File("missing.ras")});
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.out, "");
  EXPECT_EQ(LinesWith(missing.err, "ERROR: Unable to open raster file - : No such file or directory").size(), 1u)
      << missing.err;

}

TEST(FilterJob, HeaderLogInOrder)
{
  TempDir dir;
  std::string ras = dir.File("job.ras");
  RasterPage page = RgbPage(3, 2);
  strcpy(page.header.MediaClass, "Glossy");
  strcpy(page.header.OutputType, "Photo");
  page.header.Margins[0] = 4;
  page.header.Margins[1] = 5;
  page.header.ImagingBoundingBox[2] = 432;
  page.header.NumCopies = 2;
  WriteRaster(ras, {page});
  FilterResult r = RunFilter({.file = ras});
  ASSERT_EQ(r.status, 0);
  std::vector<std::string> debug = LinesWith(r.err, "DEBUG: ");
  const std::vector<std::string> expected = {
      "DEBUG: MediaClass=Glossy", "DEBUG: MediaType=", "DEBUG: OutputType=Photo",
      "DEBUG: AdvanceDistance=0", "DEBUG: AdvanceMedia=0", "DEBUG: Collate=0", "DEBUG: CutMedia=0",
      "DEBUG: Duplex=0", "DEBUG: HWResolution=[300][300]", "DEBUG: ImagingBoundingBox=[0][0][432][0]",
      "DEBUG: InsertSheet=0", "DEBUG: Jog=0", "DEBUG: LeadingEdge=0", "DEBUG: Margins=[4][5]",
      "DEBUG: ManualFeed=0", "DEBUG: MediaPosition=0", "DEBUG: MediaWeight=0", "DEBUG: MirrorPrint=0",
      "DEBUG: NegativePrint=0", "DEBUG: NumCopies=2", "DEBUG: Orientation=0", "DEBUG: OutputFaceUp=0",
      "DEBUG: PageSize=[1][0]", "DEBUG: Separations=0", "DEBUG: TraySwitch=0", "DEBUG: Tumble=0",
      "DEBUG: cupsWidth=3", "DEBUG: cupsHeight=2", "DEBUG: cupsMediaType=0", "DEBUG: cupsBitsPerColor=8",
      "DEBUG: cupsBitsPerPixel=24", "DEBUG: cupsBytesPerLine=9", "DEBUG: cupsColorOrder=0",
      "DEBUG: cupsColorSpace=1", "DEBUG: cupsCompression=0", "DEBUG: cupsRowCount=0",
      "DEBUG: cupsRowFeed=0", "DEBUG: cupsRowStep=0"};
  EXPECT_EQ(debug, expected);
  // The header comes first, then the page line.
  EXPECT_LT(r.err.find("DEBUG: cupsRowStep"), r.err.find("PAGE: 1 2"));
}

TEST(FilterJob, ProgressLines)
{
  TempDir dir;
  std::string ras = dir.File("job.ras");
  WriteRaster(ras, {RgbPage(2, 129), RgbPage(2, 128), RgbPage(2, 256)});
  FilterResult r = RunFilter({.file = ras});
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(LinesWith(r.err, "INFO: Printing page"),
            (std::vector<std::string>{
                "INFO: Printing page 1, 0% complete...", "INFO: Printing page 1, 99% complete...",
                "INFO: Printing page 2, 0% complete...", "INFO: Printing page 3, 0% complete...",
                "INFO: Printing page 3, 50% complete..."}));
  EXPECT_EQ(LinesWith(r.err, "INFO: Transfer completion of the image data").size(), 3u);
  EXPECT_EQ(LinesWith(r.err, "PAGE: "), (std::vector<std::string>{"PAGE: 1 1", "PAGE: 2 1", "PAGE: 3 1"}));
}

// Pages the filter cannot print safely are refused before anything of them
// is sent; the pages before them stay as sent, and the job fails.
TEST(FilterJob, RefusesPagesItCannotPrint)
{
  struct Case
  {
    const char *name;
    std::function<void(cups_page_header2_t &)> change;
    const char *reason;
  };
  const Case cases[] = {
      {"width 0", [](auto &h) { h.cupsWidth = 0; h.cupsBytesPerLine = 0; }, nullptr},
      {"height 0", [](auto &h) { h.cupsHeight = 0; }, nullptr},
      {"width 65536", [](auto &h) { h.cupsWidth = 65536; h.cupsBytesPerLine = 3 * 65536; },
       "larger than 65535"},
      {"height 65536", [](auto &h) { h.cupsHeight = 65536; }, "larger than 65535"},
      {"bytes per line", [](auto &h) { h.cupsBytesPerLine = 3 * h.cupsWidth + 3; }, "bytes per line"},
      {"16-bit", [](auto &h) { h.cupsBitsPerColor = 16; h.cupsBitsPerPixel = 48; h.cupsBytesPerLine *= 2; },
       "8-bit RGB"},
      {"1-bit", [](auto &h) { h.cupsBitsPerColor = 1; h.cupsBitsPerPixel = 3; }, "8-bit RGB"},
      {"16 bits a colour in 24 a pixel", [](auto &h) { h.cupsBitsPerColor = 16; }, "8-bit RGB"},
      {"CMYK", [](auto &h) { h.cupsColorSpace = CUPS_CSPACE_CMYK; h.cupsBitsPerPixel = 32; h.cupsBytesPerLine = 4 * h.cupsWidth; },
       "8-bit RGB"},
      {"banded", [](auto &h) { h.cupsColorOrder = CUPS_ORDER_BANDED; }, "chunky"},
      {"CMY", [](auto &h) { h.cupsColorSpace = CUPS_CSPACE_CMY; }, "only RGB"},
      {"data over 32 bits", [](auto &h) { h.cupsWidth = 65535; h.cupsHeight = 65535; h.cupsBytesPerLine = 3 * 65535; },
       "more data"},
  };
  TempDir dir;
  for (const Case &c : cases)
  {
    SCOPED_TRACE(c.name);
    RasterPage good = RgbPage(4, 4);
    RasterPage bad = RgbPage(4, 4);
    c.change(bad.header);
    bad.data.resize(64);
    std::string ras = dir.File("bad.ras");
    WriteRawRaster(ras, {good, bad, good});
    FilterResult r = RunFilter({.file = ras});
    std::vector<std::string> errors = LinesWith(r.err, "ERROR: ");
    EXPECT_EQ(r.out.size(), 4u * 4 * 3 + 95);  // the first page only
    EXPECT_EQ(LinesWith(r.err, "PAGE: ").size(), 1u);
    if (c.reason == nullptr)
    {
      // libcups itself refuses the header: the stream ends there.
      EXPECT_EQ(r.status, 0);
      EXPECT_TRUE(errors.empty()) << r.err;
      continue;
    }
    EXPECT_EQ(r.status, 1);
    ASSERT_EQ(errors.size(), 1u) << r.err;
    EXPECT_EQ(errors[0].rfind("ERROR: Page 2 ", 0), 0u) << errors[0];
    EXPECT_NE(errors[0].find(c.reason), std::string::npos) << errors[0];
    EXPECT_TRUE(LinesWith(r.err, "INFO: CUPS v1.2.12 is ready to print.").empty());
  }
}

TEST(FilterJob, SigtermBetweenPagesIsIgnoredAndBeforeFirstPageKills)
{
  TempDir dir;
  std::vector<unsigned char> page1 = RasterBytes({RgbPage(20, 10)});
  std::vector<unsigned char> job = RasterBytes({RgbPage(20, 10), RgbPage(20, 10)});
  {
    RunningFilter run = StartFilter({}, dir.path());
    // The whole first page, not yet the second header.
    ASSERT_TRUE(WriteFd(run.stdinFd, job.data(), page1.size()));
    for (int i = 0; i < 500 && ReadFile(run.errPath).find("Transfer completion") == std::string::npos; i++)
      usleep(10000);
    usleep(50000);
    kill(run.pid, SIGTERM);
    usleep(50000);
    ASSERT_TRUE(WriteFd(run.stdinFd, job.data() + page1.size(), job.size() - page1.size()));
    FilterResult r = WaitFilter(run);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(SplitPages(r.out).size(), 2u);
  }
  {
    TempDir dir2;
    RunningFilter run = StartFilter({}, dir2.path());
    usleep(100000);
    kill(run.pid, SIGTERM);
    FilterResult r = WaitFilter(run);
    EXPECT_EQ(r.signal, SIGTERM);
    EXPECT_EQ(r.out, "");
  }
}

}  // namespace
