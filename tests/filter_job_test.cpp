// The filter as CUPS runs it: arguments and input, the header log, progress
// and status lines, and the pages it refuses.
#include "support/fixtures.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

namespace {

TEST(FilterJob, ArgumentsAndInput)
{
  TempDir dir;
  const std::string ras = dir.File("job.ras");
  WriteRaster(ras, {RgbPage(4, 3)});
  for (size_t count : {5u, 8u})
  {
    std::vector<std::string> args = {"rastertokelvo", "1", "u", "t", "1", "", ras, "x"};
    args.resize(count);
    const FilterResult r = RunFilter({.argv = args});
    EXPECT_TRUE(r.status == 1 && r.out.empty());
    EXPECT_EQ(LinesWith(r.err, "ERROR:"),
              std::vector<std::string>{"ERROR: rastertokelvo job-id user title copies options [file]"});
  }
  // Five arguments read standard input, six the named file.
  const FilterResult fromStdin = RunFilter({.stdinPath = ras}), fromFile = RunFilter({.file = ras});
  EXPECT_EQ(fromStdin.status, 0);
  EXPECT_EQ(fromStdin.out.size(), 4u * 3 * 3 + 95);
  EXPECT_EQ(fromStdin.out, fromFile.out);
  EXPECT_EQ(LinesWith(fromFile.err, "INFO: CUPS v1.2.12 is ready to print.").size(), 1u);
  const FilterResult missing = RunFilter({.file = dir.File("missing.ras")});
  EXPECT_TRUE(missing.status == 1 && missing.out.empty());
  EXPECT_EQ(LinesWith(missing.err, "ERROR: Unable to open raster file - : No such file or directory").size(), 1u);
}

TEST(FilterJob, HeaderLogProgressAndPageLines)
{
  TempDir dir;
  const std::string ras = dir.File("job.ras");
  RasterPage page = RgbPage(2, 129);
  strcpy(page.header.MediaClass, "Glossy");
  page.header.Margins[0] = 4, page.header.Margins[1] = 5, page.header.ImagingBoundingBox[2] = 432;
  page.header.NumCopies = 2;
  WriteRaster(ras, {page, RgbPage(2, 128), RgbPage(2, 256)});
  const FilterResult r = RunFilter({.file = ras});
  ASSERT_EQ(r.status, 0);
  // 38 fields a page, in order, the header before its page line.
  const std::vector<std::string> debug = LinesWith(r.err, "DEBUG: ");
  ASSERT_EQ(debug.size(), 3 * 38u);
  for (auto [n, line] : {std::pair{0, "MediaClass=Glossy"}, {9, "ImagingBoundingBox=[0][0][432][0]"},
                         {13, "Margins=[4][5]"}, {19, "NumCopies=2"}, {27, "cupsHeight=129"}, {37, "cupsRowStep=0"}})
    EXPECT_EQ(debug[n], std::string("DEBUG: ") + line);
  EXPECT_LT(r.err.find("DEBUG: cupsRowStep"), r.err.find("PAGE: 1 2"));
  EXPECT_EQ(LinesWith(r.err, "INFO: Printing page"),
            (std::vector<std::string>{"INFO: Printing page 1, 0% complete...", "INFO: Printing page 1, 99% complete...",
                                      "INFO: Printing page 2, 0% complete...", "INFO: Printing page 3, 0% complete...",
                                      "INFO: Printing page 3, 50% complete..."}));
  EXPECT_EQ(LinesWith(r.err, "INFO: Transfer completion of the image data").size(), 3u);
  EXPECT_EQ(LinesWith(r.err, "PAGE: "), (std::vector<std::string>{"PAGE: 1 2", "PAGE: 2 1", "PAGE: 3 1"}));
}

// An uncompressed stream with the headers and data exactly as given, for
// headers libcups would not write.
void WriteRawRaster(const std::string &path, const std::vector<RasterPage> &pages)
{
  std::ofstream f(path, std::ios::binary);
  const uint32_t sync = CUPS_RASTER_SYNC;
  f.write(reinterpret_cast<const char *>(&sync), sizeof(sync));
  for (const RasterPage &page : pages)
  {
    f.write(reinterpret_cast<const char *>(&page.header), sizeof(page.header));
    f.write(reinterpret_cast<const char *>(page.data.data()), (std::streamsize)page.data.size());
  }
}

// Pages the filter cannot print safely are refused before anything of them
// is sent; the pages before them stay, and the job fails.
TEST(FilterJob, RefusesPagesItCannotPrint)
{
  const struct
  {
    const char *name;
    std::function<void(cups_page_header2_t &)> change;
    const char *reason;  // null: libcups refuses the header and the stream ends
  } cases[] = {
      {"width 0", [](auto &h) { h.cupsWidth = 0, h.cupsBytesPerLine = 0; }, nullptr},
      {"width 65536", [](auto &h) { h.cupsWidth = 65536, h.cupsBytesPerLine = 3 * 65536; }, "larger than 65535"},
      {"height 65536", [](auto &h) { h.cupsHeight = 65536; }, "larger than 65535"},
      {"bytes per line", [](auto &h) { h.cupsBytesPerLine += 3; }, "bytes per line"},
      {"16 bits a colour in 24 a pixel", [](auto &h) { h.cupsBitsPerColor = 16; }, "8-bit RGB"},
      {"CMYK", [](auto &h) { h.cupsColorSpace = CUPS_CSPACE_CMYK, h.cupsBitsPerPixel = 32, h.cupsBytesPerLine = 16; },
       "8-bit RGB"},
      {"banded", [](auto &h) { h.cupsColorOrder = CUPS_ORDER_BANDED; }, "chunky"},
      {"CMY", [](auto &h) { h.cupsColorSpace = CUPS_CSPACE_CMY; }, "only RGB"},
      {"data over 32 bits", [](auto &h) { h.cupsWidth = h.cupsHeight = 65535, h.cupsBytesPerLine = 3 * 65535; },
       "more data"},
  };
  TempDir dir;
  for (const auto &c : cases)
  {
    SCOPED_TRACE(c.name);
    RasterPage good = RgbPage(4, 4), bad = RgbPage(4, 4);
    c.change(bad.header);
    WriteRawRaster(dir.File("bad.ras"), {good, bad, good});
    const FilterResult r = RunFilter({.file = dir.File("bad.ras")});
    const std::vector<std::string> errors = LinesWith(r.err, "ERROR: ");
    EXPECT_EQ(r.out.size(), 4u * 4 * 3 + 95);  // the first page only
    EXPECT_EQ(r.status, c.reason ? 1 : 0);
    ASSERT_EQ(errors.size(), c.reason ? 1u : 0u) << r.err;
    if (c.reason)
    {
      EXPECT_EQ(errors[0].rfind("ERROR: Page 2 ", 0), 0u) << errors[0];
      EXPECT_NE(errors[0].find(c.reason), std::string::npos) << errors[0];
      EXPECT_TRUE(LinesWith(r.err, "INFO: CUPS v1.2.12").empty());
    }
  }
}

}  // namespace
