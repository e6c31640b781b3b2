// The tools around the filter: kelvo-inspect (decoding, framing checks,
// previews) and the test chart generator.
#include "image/smear_control.h"
#include "png_io.h"
#include "preview.h"
#include "support/fixtures.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace {

CommandResult Inspect(std::vector<std::string> args)
{
  args.insert(args.begin(), KELVO_INSPECT_PATH);
  return RunCommand(args);
}

// The filter's stream for the pages, with MultiChop 3 and the print mode,
// written to dir/s.prn.
std::string Stream(const TempDir &dir, const std::vector<RasterPage> &pages, const std::string &printMode = "0")
{
  WriteRaster(dir.File("job.ras"), pages);
  WritePpd(dir.File("p.ppd"), {{"MultiChop", "3"}, {"PrintMode", printMode}});
  const FilterResult r = RunFilter({.file = dir.File("job.ras"), .ppd = dir.File("p.ppd")});
  EXPECT_EQ(r.status, 0) << r.err;
  std::ofstream(dir.File("s.prn"), std::ios::binary) << r.out;
  return r.out;
}

TEST(Inspect, DecodesEveryBlock)
{
  TempDir dir;
  RasterPage first = RgbPage(5, 3);
  first.header.NumCopies = 2;
  Stream(dir, {first, RgbPage(2, 2504)});
  const CommandResult r = Inspect({dir.File("s.prn")});
  ASSERT_EQ(r.status, 0) << r.err;
  for (const char *text : {"page 1, bytes 0 to 139:", "copies 2", "mode byte 0x44 (0x04 with cut bits 0x40), width 5, height 3",
                           "45 data bytes: 3 planes of 5 x 3", "space flag 0x00", "page 1: 5x3 copies 2 mode 0x44 data 45 bytes",
                           "page 2, bytes 140 to ", "page 2: 2x2504 copies 1 mode 0xE4 data 15024 bytes"})
    EXPECT_NE(r.out.find(text), std::string::npos) << text << "\n" << r.out;
  EXPECT_EQ(LinesWith(Inspect({"--quiet", dir.File("s.prn")}).out, "page ").size(), 2u);
}

TEST(Inspect, ReportsBrokenFraming)
{
  TempDir dir;
  const std::string good = Stream(dir, {RgbPage(4, 2)});  // 24 data bytes, 119 in all
  ASSERT_EQ(good.size(), 119u);
  auto changed = [&](size_t at, char byte) {
    std::string s = good;
    s[at] = byte;
    return s;
  };
  for (const auto &[stream, message] : std::vector<std::pair<std::string, std::string>>{
           {"", "the stream holds no page"},
           {good.substr(0, 50), "page 1: truncated: the stream ends 50 bytes into"},
           {good.substr(0, 90), "page 1: truncated: 24 data bytes"},
           {good.substr(0, 110), "page 1: truncated"},
           {good + good.substr(0, 70), "page 2: truncated"},
           {good + "xyz", "page 2: truncated"},
           {changed(1, 0x1F), "page 1: TransCMD at byte 0"},
           {changed(27, 0), "page 1: CopiesDAT at byte 26"},
           {changed(36, 0x05), "page 1: PrntModeSltDAT at byte 35"},
           {changed(64, 3), "page 1: ModeSelectDAT at byte 62"},
           {changed(75, 25), "page 1: SendDataCMD at byte 72: the data length 25 is not 3 x 4 x 2"},
           {changed(101, 0x24), "page 1: cpybuf at byte 101"},
           {changed(107, 0x02), "page 1: cpybuf at byte 101: expected 1B 23 00 00 00 04 and a space flag"},
           {changed(113, 0x0B), "page 1: PrintCMD at byte 112"}})
  {
    std::ofstream(dir.File("bad.prn"), std::ios::binary) << stream;
    const CommandResult r = Inspect({dir.File("bad.prn")});
    EXPECT_EQ(r.status, 1) << message;
    EXPECT_NE(r.err.find(message), std::string::npos) << r.err;
  }
  EXPECT_EQ(Inspect({dir.File("missing.prn")}).status, 1);
  EXPECT_EQ(Inspect({}).status, 2);
  EXPECT_EQ(Inspect({"--mode", "x", dir.File("bad.prn")}).status, 2);
  EXPECT_EQ(Inspect({"--png", dir.File("missing"), dir.File("bad.prn")}).status, 2);
}

// Uniform pages, which smear control turns into their curve values, preview
// close to their colour, and white exactly white.
TEST(Inspect, PreviewApproximatesThePicture)
{
  TempDir dir;
  std::filesystem::create_directory(dir.File("png"));
  const unsigned char colours[3][3] = {{255, 255, 255}, {200, 128, 60}, {20, 240, 100}};
  std::vector<RasterPage> pages;
  for (const auto &c : colours)
    pages.push_back(RgbPage(40, 30, [&](unsigned, unsigned, unsigned char *p) { std::copy_n(c, 3, p); }));
  for (const char *mode : {"0", "1"})
  {
    Stream(dir, pages, mode);
    const CommandResult r = Inspect({"--png", dir.File("png"), "--mode", mode, dir.File("s.prn")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("page 3: preview " + dir.File("png") + "/page-3.png"), std::string::npos) << r.out;
    for (int page = 0; page < 3; page++)
    {
      unsigned w = 0, h = 0;
      std::vector<unsigned char> rgb;
      std::string error;
      ASSERT_TRUE(ReadPng(dir.File("png/page-" + std::to_string(page + 1) + ".png"), &w, &h, &rgb, &error)) << error;
      ASSERT_EQ(std::pair(w, h), std::pair(40u, 30u));
      for (size_t i = 0; i < rgb.size(); i++)
        ASSERT_NEAR(rgb[i], colours[page][i % 3], page == 0 ? 0 : 3) << "mode " << mode << " page " << page + 1;
    }
  }

  // The inverse of a curve: the middle of a flat run, the darkest input
  // beyond the curve's top.
  unsigned char curve[256], inverse[256];
  for (int x = 0; x < 256; x++)
    curve[x] = (unsigned char)(x < 100 ? 200 - x : x < 104 ? 100 : (255 - x) * 100 / 151);
  InverseCurve(curve, inverse);
  EXPECT_EQ(std::vector<int>({inverse[150], inverse[100], inverse[250], inverse[0]}), std::vector<int>({50, 102, 0, 255}));
  const unsigned char flat[256] = {};  // no curve built in: the values kept
  InverseCurve(flat, inverse);
  EXPECT_TRUE(inverse[0] == 0 && inverse[77] == 77 && inverse[255] == 255);
}

TEST(Chart, DeterministicInEveryFormat)
{
  TempDir dir;
  for (const char *run : {"a", "b"})
  {
    const std::string base = dir.File(run);
    const CommandResult r = RunCommand({KELVO_CHART_PATH, "--size", "300x200", "--pages", "2", "--png", base + ".png",
                                        "--pdf", base + ".pdf", "--raster", base + ".ras"});
    ASSERT_EQ(r.status, 0) << r.err;
  }
  for (const char *ext : {".png", ".pdf", ".ras"})
    EXPECT_TRUE(ReadFile(dir.File(std::string("a") + ext)) == ReadFile(dir.File(std::string("b") + ext))) << ext;

  const std::string png = dir.File("c.png");
  for (const std::vector<std::string> &bad : {std::vector<std::string>{KELVO_CHART_PATH, "--size", "3x2", "--png", png},
                                              {KELVO_CHART_PATH, "--pages", "0", "--png", png}, {KELVO_CHART_PATH}})
    EXPECT_EQ(RunCommand(bad).status, 2);
}

}  // namespace
