// Page framing: the copy count and mode byte rules, and every block of the
// real filter's pages.
#include "command_stream.h"
#include "support/fixtures.h"

#include <gtest/gtest.h>

#include <tuple>

namespace {

TEST(CommandStream, CopyCountAndModeByteRules)
{
  for (auto [copies, count] : {std::pair{0u, 1}, {1u, 1}, {99u, 99}, {100u, 99}, {4294967295u, 99}})
    EXPECT_EQ(CopyCount(copies), count) << copies;
  // The print heights the printer recognises set the cut bits 0xA0.
  for (auto [cut, height, mode] : {std::tuple{0, 1000u, 0x04}, {1, 1000u, 0xA4}, {2, 1000u, 0x24}, {3, 1000u, 0x44},
                                   {4, 1000u, 0x04}, {-1, 1000u, 0x04}, {0, 3616u, 0xA4}, {0, 2504u, 0xA4},
                                   {0, 3104u, 0xA4}, {0, 3704u, 0xA4}, {0, 1608u, 0xA4}, {2, 2504u, 0xA4},
                                   {3, 2504u, 0xE4}, {0, 2505u, 0x04}})
    EXPECT_EQ(ModeByte(cut, height), mode) << cut << " " << height;
}

TEST(CommandStream, EveryPageIsFramedExactly)
{
  TempDir dir;
  RasterPage first = RgbPage(1800, 8), second = RgbPage(5, 2504);
  first.header.NumCopies = 150;
  second.header.NumCopies = 0;
  WriteRaster(dir.File("job.ras"), {first, second});
  WritePpd(dir.File("k.ppd"), {{"MultiChop", "3"}});
  const FilterResult r = RunFilter({.file = dir.File("job.ras"), .ppd = dir.File("k.ppd")});
  ASSERT_EQ(r.status, 0) << r.err;
  ASSERT_EQ(r.out.size(), (1800u * 8 * 3 + 95) + (5u * 2504 * 3 + 95));
  const std::vector<PageBlocks> pages = SplitPages(r.out);
  ASSERT_EQ(pages.size(), 2u);
  const std::vector<unsigned char> start = {
      0x1B, 0x1E, 0x00, 0x00, 0x00, 0x0C, 0x00,                          // TransCMD
      0x01, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,                              // TransDAT
      0x1B, 0xEE, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 99,                 // copies
      0x1B, 0xE1, 0x00, 0x00, 0x00, 0x0B, 0x00,                           // PrntModeSltCMD
      0x00, 0x44, 0x0C, 0x00, 0x00, 0x00, 0x00, 0x07, 0x08, 0x00, 0x08,   // PrntModeSltDAT
      0x1B, 0x15, 0x00, 0x00, 0x00, 0x0D, 0x00,                           // ModeSelectCMD
      0x00, 0x00, 0x00, 0x00, 0x67, 0x00, 0x00, 0x00, 0x00, 0x07, 0x08, 0x00, 0x08};
  EXPECT_EQ(pages[0].start, start);
  EXPECT_EQ(pages[0].sendCmd, std::vector<unsigned char>({0x1B, 0xEA, 0, 0, 0, 0, 0x00, 0x00, 0xA8, 0xC0, 0x00}));
  // Copies 0 sent as 1; cut mode 3 with a recognised height.
  EXPECT_EQ(std::tuple(pages[1].copies(), pages[1].mode(), pages[1].width(), pages[1].height(), pages[1].end),
            std::tuple(1u, 0xE4u, 5u, 2504u, kEndBlocks));
  EXPECT_EQ(LinesWith(r.err, "PAGE: "), (std::vector<std::string>{"PAGE: 1 150", "PAGE: 2 0"}));
}

}  // namespace
