// Page framing: the copy count and mode byte rules, and through the real
// filter the start blocks, data length, end blocks, copy count, mode byte
// and size fields.
#include "command_stream.h"
#include "support/fixtures.h"

#include <gtest/gtest.h>

namespace {

TEST(CommandStream, CopyCountAndModeByteRules)
{
  for (auto [copies, count] : {std::pair{0u, 1}, {1u, 1}, {99u, 99}, {100u, 99}, {4294967295u, 99}})
    EXPECT_EQ(CopyCount(copies), count) << copies;
  // Cut mode, page height, mode byte: the print heights the printer
  // recognises change the byte of cut modes 0, 2 and 3.
  const struct
  {
    int cut;
    unsigned height;
    int mode;
  } modes[] = {{0, 1000, 0x04}, {1, 1000, 0xA4}, {2, 1000, 0x24}, {3, 1000, 0x44}, {4, 1000, 0x04},
               {-1, 1000, 0x04}, {0, 3616, 0xA4}, {0, 2504, 0xA4}, {0, 3104, 0xA4}, {0, 3704, 0xA4},
               {0, 1608, 0xA4}, {2, 2504, 0xA4}, {3, 2504, 0xE4}, {0, 2505, 0x04}};
  for (const auto &m : modes)
    EXPECT_EQ(ModeByte(m.cut, m.height), m.mode) << m.cut << " " << m.height;
}

TEST(CommandStream, EveryPageIsFramedExactly)
{
  TempDir dir;
  std::string ras = dir.File("job.ras"), ppd = dir.File("k.ppd");
  RasterPage first = RgbPage(1800, 8);
  first.header.NumCopies = 150;
  RasterPage second = RgbPage(5, 2504, [](unsigned x, unsigned y, unsigned char *p) {
    p[0] = (unsigned char)x;
    p[1] = (unsigned char)y;
    p[2] = 7;
  });
  second.header.NumCopies = 0;
  WriteRaster(ras, {first, second});
  WritePpd(ppd, {{"MultiChop", "3"}});

  FilterResult r = RunFilter({.file = ras, .ppd = ppd});
  ASSERT_EQ(r.status, 0) << r.err;
  ASSERT_EQ(r.out.size(), (1800u * 8 * 3 + 95) + (5u * 2504 * 3 + 95));
  std::vector<PageBlocks> pages = SplitPages(r.out);
  ASSERT_EQ(pages.size(), 2u);

  const std::vector<unsigned char> start1 = {
      0x1B, 0x1E, 0x00, 0x00, 0x00, 0x0C, 0x00,                          // TransCMD
      0x01, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,                              // TransDAT
      0x1B, 0xEE, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 99,                 // copies
      0x1B, 0xE1, 0x00, 0x00, 0x00, 0x0B, 0x00,                           // PrntModeSltCMD
      0x00, 0x44, 0x0C, 0x00, 0x00, 0x00, 0x00, 0x07, 0x08, 0x00, 0x08,   // PrntModeSltDAT
      0x1B, 0x15, 0x00, 0x00, 0x00, 0x0D, 0x00,                           // ModeSelectCMD
      0x00, 0x00, 0x00, 0x00, 0x67, 0x00, 0x00, 0x00, 0x00, 0x07, 0x08, 0x00, 0x08};
  EXPECT_EQ(pages[0].start, start1);
  const std::vector<unsigned char> send1 = {0x1B, 0xEA, 0, 0, 0, 0, 0x00, 0x00, 0xA8, 0xC0, 0x00};
  EXPECT_EQ(pages[0].sendCmd, send1);  // 1800 * 8 * 3 = 43200
  EXPECT_EQ(pages[0].end, EndBlocks());

  EXPECT_EQ(pages[1].start[0], 0x1B);
  EXPECT_EQ(pages[1].start[1], 0x1E);
  EXPECT_EQ(pages[1].copies(), 1u);
  EXPECT_EQ(pages[1].mode(), 0xE4);  // cut mode 3 with a recognised height
  EXPECT_EQ(pages[1].width(), 5u);
  EXPECT_EQ(pages[1].height(), 2504u);
  EXPECT_EQ(pages[1].end, EndBlocks());

  EXPECT_EQ(LinesWith(r.err, "PAGE: "), (std::vector<std::string>{"PAGE: 1 150", "PAGE: 2 0"}));
}

}  // namespace
