// The tools around the filter: kelvo-inspect (decoding, framing checks,
// previews) and the test chart generator.
#include "image/smear_control.h"
#include "png_io.h"
#include "preview.h"
#include "support/fixtures.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace {

CommandResult Tool(const std::string &path, std::vector<std::string> args)
{
  args.insert(args.begin(), path);
  return RunCommand(args);
}

CommandResult Inspect(const std::vector<std::string> &args) { return Tool(KELVO_INSPECT_PATH, args); }
CommandResult Chart(const std::vector<std::string> &args) { return Tool(KELVO_CHART_PATH, args); }

// The printer stream of the filter for the given pages, made with a PPD
// whose MultiChop default is 3 and with the given print mode.
std::string Stream(const TempDir &dir, const std::vector<RasterPage> &pages, const std::string &printMode = "0")
{
  WriteRaster(dir.File("job.ras"), pages);
  WritePpd(dir.File("p.ppd"), {{"MultiChop", "3"}, {"PrintMode", printMode}});
  FilterResult r = RunFilter({.file = dir.File("job.ras"), .ppd = dir.File("p.ppd")});
  EXPECT_EQ(r.status, 0) << r.err;
  return r.out;
}

TEST(Inspect, DecodesEveryBlock)
{
  TempDir dir;
  RasterPage first = RgbPage(5, 3);
  first.header.NumCopies = 2;
  std::ofstream(dir.File("s.prn"), std::ios::binary) << Stream(dir, {first, RgbPage(2, 2504)});
  CommandResult r = Inspect({dir.File("s.prn")});
  ASSERT_EQ(r.status, 0) << r.err;
  for (const char *text : {"page 1, bytes 0 to 139:", "copies 2",
                           "mode byte 0x44 (0x04 with cut bits 0x40), width 5, height 3",
                           "45 data bytes: 3 planes of 5 x 3", "space flag 0x00",
                           "page 1: 5x3 copies 2 mode 0x44 data 45 bytes", "page 2, bytes 140 to ",
                           "mode byte 0xE4 (0x04 with cut bits 0xE0), width 2, height 2504",
                           "page 2: 2x2504 copies 1 mode 0xE4 data 15024 bytes"})
    EXPECT_NE(r.out.find(text), std::string::npos) << text << "\n" << r.out;

  CommandResult quiet = Inspect({"--quiet", dir.File("s.prn")});
  EXPECT_EQ(quiet.status, 0);
  EXPECT_EQ(LinesWith(quiet.out, "page ").size(), 2u) << quiet.out;
}

TEST(Inspect, ReportsBrokenFraming)
{
  TempDir dir;
  const std::string good = Stream(dir, {RgbPage(4, 2)});  // 24 data bytes, 119 in all
  ASSERT_EQ(good.size(), 119u);
  auto changed = [&](size_t at, char byte)
  {
    std::string s = good;
    s[at] = byte;
    return s;
  };
  struct Case
  {
    const char *name;
    std::string stream;
    const char *message;
  };
  const Case cases[] = {
      {"empty", "", "the stream holds no page"},
      {"inside the start blocks", good.substr(0, 50), "page 1: truncated: the stream ends 50 bytes into"},
      {"inside the data", good.substr(0, 90), "page 1: truncated: 24 data bytes"},
      {"inside the end blocks", good.substr(0, 110), "page 1: truncated"},
      {"second page cut short", good + good.substr(0, 70), "page 2: truncated"},
      {"trailing bytes", good + "xyz", "page 2: truncated"},
      {"TransCMD", changed(1, 0x1F), "page 1: TransCMD at byte 0"},
      {"copies 0", changed(27, 0), "page 1: CopiesDAT at byte 26"},
      {"mode byte", changed(36, 0x05), "page 1: PrntModeSltDAT at byte 35"},
      {"sizes disagree", changed(64, 3), "page 1: ModeSelectDAT at byte 62"},
      {"data length", changed(75, 25), "page 1: SendDataCMD at byte 72: the data length 25 is not 3 x 4 x 2"},
      {"cpybuf", changed(101, 0x24), "page 1: cpybuf at byte 101"},
      {"PrintCMD", changed(113, 0x0B), "page 1: PrintCMD at byte 112"},
  };
  for (const Case &c : cases)
  {
    SCOPED_TRACE(c.name);
    std::ofstream(dir.File("bad.prn"), std::ios::binary) << c.stream;
    CommandResult r = Inspect({dir.File("bad.prn")});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
  }
  EXPECT_EQ(Inspect({dir.File("missing.prn")}).status, 1);
  EXPECT_EQ(Inspect({}).status, 2);
  EXPECT_EQ(Inspect({"--mode", "x", dir.File("bad.prn")}).status, 2);
  EXPECT_EQ(Inspect({"--png", dir.File("missing"), dir.File("bad.prn")}).status, 2);
}

// The preview maps the planes back to the picture: uniform pages, which
// smear control turns into their curve values, come back close to their
// colour, and white comes back white.
TEST(Inspect, PreviewApproximatesThePicture)
{
  TempDir dir;
  auto colour = [](unsigned char r, unsigned char g, unsigned char b)
  { return [=](unsigned, unsigned, unsigned char *p) { p[0] = r, p[1] = g, p[2] = b; }; };
  std::filesystem::create_directory(dir.File("png"));
  for (const char *mode : {"0", "1"})
  {
    SCOPED_TRACE(mode);
    std::ofstream(dir.File("s.prn"), std::ios::binary) << Stream(dir,
        {RgbPage(40, 30, colour(255, 255, 255)), RgbPage(40, 30, colour(200, 128, 60)),
         RgbPage(40, 30, colour(20, 240, 100))}, mode);
    CommandResult r = Inspect({"--png", dir.File("png"), "--mode", mode, dir.File("s.prn")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("page 3: preview " + dir.File("png") + "/page-3.png"), std::string::npos) << r.out;
    const unsigned char want[3][3] = {{255, 255, 255}, {200, 128, 60}, {20, 240, 100}};
    for (int page = 0; page < 3; page++)
    {
      unsigned w = 0, h = 0;
      std::vector<unsigned char> rgb;
      std::string error;
      ASSERT_TRUE(ReadPng(dir.File("png/page-" + std::to_string(page + 1) + ".png"), &w, &h, &rgb, &error))
          << error;
      ASSERT_EQ(w, 40u);
      ASSERT_EQ(h, 30u);
      for (size_t i = 0; i < rgb.size(); i++)
        ASSERT_NEAR(rgb[i], want[page][i % 3], page == 0 ? 0 : 3) << "page " << page + 1 << " byte " << i;
    }
  }
}

// The inverse takes each printer value back to the input the curve gives
// it for; a flat curve (no smear table built in) keeps the values.
TEST(Inspect, InverseCurve)
{
  unsigned char curve[256], inverse[256];
  for (int x = 0; x < 256; x++)
    curve[x] = (unsigned char)(x < 100 ? 200 - x : x < 104 ? 100 : (255 - x) * 100 / 151);
  InverseCurve(curve, inverse);
  EXPECT_EQ(inverse[150], 50);
  EXPECT_EQ(inverse[100], 102) << "the middle of the flat run 100..104";
  EXPECT_EQ(inverse[250], 0) << "beyond the curve's top: its darkest input";
  EXPECT_EQ(inverse[0], 255);

  const unsigned char flat[256] = {};
  InverseCurve(flat, inverse);
  for (int v = 0; v < 256; v++)
    ASSERT_EQ(inverse[v], v);

  // Both built-in curves: a white page (all planes 0) previews white, and
  // every input the curve keeps apart comes back exactly.
  for (int mode : {0, 1})
  {
    unsigned char hotlut[kSmearLutBytes];
    GetSmearlut(hotlut, mode);
    for (int c = 0; c < 3; c++)
    {
      InverseCurve(hotlut + 256 * c, inverse);
      for (int x = 1; x < 255; x++)
      {
        const unsigned char *v = hotlut + 256 * c;
        if (v[x - 1] != v[x] && v[x] != v[x + 1])
        {
          EXPECT_EQ(inverse[v[x]], x) << "mode " << mode << " channel " << c;
        }
      }
    }
    const std::vector<unsigned char> planes(3 * 6, 0);
    EXPECT_EQ(PreviewPicture(planes.data(), 3, 2, hotlut), std::vector<unsigned char>(18, 255));
  }
}

TEST(Chart, DeterministicInEveryFormat)
{
  TempDir dir;
  for (const char *run : {"a", "b"})
  {
    std::string base = dir.File(run);
    CommandResult r = Chart({"--size", "300x200", "--pages", "2", "--png", base + ".png", "--pdf", base + ".pdf", "--raster",
                   base + ".ras"});
    ASSERT_EQ(r.status, 0) << r.err;
  }
  for (const char *ext : {".png", ".pdf", ".ras"})
    EXPECT_TRUE(ReadFile(dir.File(std::string("a") + ext)) == ReadFile(dir.File(std::string("b") + ext))) << ext;

  // The PNG and the raster's first page hold the same picture.
  unsigned w = 0, h = 0;
  std::vector<unsigned char> png;
  std::string error;
  ASSERT_TRUE(ReadPng(dir.File("a.png"), &w, &h, &png, &error)) << error;
  ASSERT_EQ(w, 300u);
  ASSERT_EQ(h, 200u);
  int fd = open(dir.File("a.ras").c_str(), O_RDONLY);
  cups_raster_t *ras = cupsRasterOpen(fd, CUPS_RASTER_READ);
  std::vector<std::vector<unsigned char>> pages;
  cups_page_header2_t header;
  while (cupsRasterReadHeader2(ras, &header))
  {
    EXPECT_EQ(header.cupsWidth, 300u);
    EXPECT_EQ(header.cupsHeight, 200u);
    EXPECT_EQ(header.HWResolution[0], 300u);
    std::vector<unsigned char> data(header.cupsBytesPerLine * (size_t)header.cupsHeight);
    for (unsigned y = 0; y < header.cupsHeight; y++)
      cupsRasterReadPixels(ras, &data[y * (size_t)header.cupsBytesPerLine], header.cupsBytesPerLine);
    pages.push_back(data);
  }
  cupsRasterClose(ras);
  close(fd);
  ASSERT_EQ(pages.size(), 2u);
  EXPECT_TRUE(pages[0] == png);
  EXPECT_TRUE(pages[0] != pages[1]) << "the pages carry their page marks";

  // The PDF's cross-reference table points at its objects.
  std::string pdf = ReadFile(dir.File("a.pdf"));
  ASSERT_EQ(pdf.compare(0, 5, "%PDF-"), 0);
  EXPECT_NE(pdf.find("/Type /Pages /Count 2"), std::string::npos);
  size_t xref = pdf.find("\nxref\n");
  ASSERT_NE(xref, std::string::npos);
  EXPECT_NE(pdf.find("startxref\n" + std::to_string(xref + 1) + "\n"), std::string::npos);
  unsigned objects = 0;
  sscanf(pdf.c_str() + xref + 6, "0 %u", &objects);
  ASSERT_EQ(objects, 1u + 2 + 3 * 2);
  const size_t entries = pdf.find('\n', xref + 6) + 1;  // 20 bytes each, object 0 first
  for (unsigned n = 1; n < objects; n++)
  {
    size_t off = strtoul(pdf.c_str() + entries + 20 * n, nullptr, 10);
    EXPECT_EQ(pdf.compare(off, std::to_string(n).size() + 6, std::to_string(n) + " 0 obj"), 0) << "object " << n;
  }

  EXPECT_EQ(Chart({"--size", "3x2", "--png", dir.File("c.png")}).status, 2);
  EXPECT_EQ(Chart({"--pages", "0", "--png", dir.File("c.png")}).status, 2);
  EXPECT_EQ(Chart({}).status, 2);
}

}  // namespace
