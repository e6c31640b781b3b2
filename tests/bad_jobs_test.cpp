// A catalogue of bad jobs and faults of the world, through the real filter:
// each must end with a clear status line and exit status, and the printer
// must never get bytes it would misread.
#include "support/fixtures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <fstream>
#include <optional>
#include <random>
#include <tuple>
#include <sys/stat.h>
#include <unistd.h>

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
// Run under qemu-user, which neither applies RLIMIT_AS to the program nor
// reports the program's own peak memory (it keeps memory per guest thread).
#if defined(KELVO_EMULATED)
constexpr bool kEmulated = true;
#else
constexpr bool kEmulated = false;
#endif

// The stream holds exactly `pages` well-framed pages of the given sizes.
void ExpectPages(const std::string &out, const std::vector<std::pair<unsigned, unsigned>> &sizes)
{
  std::vector<PageBlocks> pages = SplitPages(out);
  ASSERT_EQ(pages.size(), sizes.size());
  for (size_t i = 0; i < sizes.size(); i++)
  {
    EXPECT_EQ(pages[i].width(), sizes[i].first & 0xFFFF);
    EXPECT_EQ(pages[i].height(), sizes[i].second & 0xFFFF);
    EXPECT_EQ(pages[i].data.size(), 3u * sizes[i].first * sizes[i].second);
    EXPECT_EQ(pages[i].end, EndBlocks());
  }
}

TEST(BadJobs, BrokenStreams)
{
  TempDir dir;
  std::string good = dir.File("good.ras"), junk = dir.File("junk.ras");
  WriteRaster(good, {RgbPage(7, 5), RgbPage(6, 4)}, CUPS_RASTER_WRITE_COMPRESSED);
  std::string bytes = ReadFile(good);

  // No input, a stream without pages, garbage and truncated sync words: no
  // pages, and nothing sent or logged of a page.
  for (std::string text : {std::string(), std::string("RaS3"), std::string("RaSx and then some text"),
                           std::string("Ra"), std::string(4096, '\xff')})
  {
    std::ofstream(junk, std::ios::binary) << text;
    FilterResult r = RunFilter({.file = junk});
    EXPECT_EQ(r.status, 1) << text;
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(LinesWith(r.err, "DEBUG: MediaClass").empty());
    EXPECT_EQ(LinesWith(r.err, "ERROR: No pages found!").size(), 1u) << text;
    if (text == "RaS3")
    {
      EXPECT_EQ(LinesWith(r.err, "ERROR:").size(), 1u) << "a stream of no pages is no error of libcups";
    }
  }

  // Trailing garbage after the last page: both pages print.
  std::string trailing = dir.File("trailing.ras");
  std::ofstream(trailing, std::ios::binary) << bytes << std::string(3000, 'x');
  FilterResult r = RunFilter({.file = trailing});
  EXPECT_EQ(r.status, 0);
  ExpectPages(r.out, {{7, 5}, {6, 4}});

  // A page that ends after a whole row (10 of 100) or in the middle of one
  // (2 of 8): the rest is white, which smear control maps to one value in
  // each plane, not leftover memory.
  for (auto [w, h, rows, cut] : {std::tuple{3u, 100u, 10u, 90 * 9}, {10u, 8u, 2u, 5 * 30 + 12}})
  {
    WriteRaster(good, {RgbPage(w, h, [](unsigned, unsigned, unsigned char *p) { p[0] = p[1] = p[2] = 10; })});
    std::ofstream(junk, std::ios::binary) << ReadFile(good).substr(0, ReadFile(good).size() - cut);
    r = RunFilter({.file = junk});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(LinesWith(r.err, "ERROR: Page 1: the raster data ended after " + std::to_string(rows) + " of " +
                                   std::to_string(h) + " rows").size(), 1u) << r.err;
    EXPECT_EQ(LinesWith(r.err, "INFO: CUPS v1.2.12 is ready to print.").size(), 1u);
    ExpectPages(r.out, {{w, h}});
    const std::vector<unsigned char> data = SplitPages(r.out).at(0).data;
    for (size_t p = 0; p < 3; p++)
      for (size_t i = rows * w; i < w * h; i++)
        ASSERT_EQ(data[p * w * h + i], data[p * w * h + w * h - 1]) << h << " rows: plane " << p << " byte " << i;
  }
}

TEST(BadJobs, ExtremeButValidHeaders)
{
  TempDir dir;
  std::string ras = dir.File("job.ras");
  RasterPage wide = RgbPage(65535, 1), tall = RgbPage(1, 65535), dot = RgbPage(1, 1);
  wide.header.NumCopies = 0;
  tall.header.NumCopies = 4294967295u;
  WriteRaster(ras, {wide, tall, dot}, CUPS_RASTER_WRITE_COMPRESSED);
  FilterResult r = RunFilter({.file = ras});
  EXPECT_EQ(r.status, 0) << r.err;
  ExpectPages(r.out, {{65535, 1}, {1, 65535}, {1, 1}});
  std::vector<PageBlocks> pages = SplitPages(r.out);
  ASSERT_EQ(pages.size(), 3u);
  EXPECT_EQ(pages[0].copies(), 1u);
  EXPECT_EQ(pages[1].copies(), 99u);
  EXPECT_EQ(LinesWith(r.err, "PAGE: "),
            (std::vector<std::string>{"PAGE: 1 0", "PAGE: 2 4294967295", "PAGE: 3 1"}));
}

TEST(BadJobs, OddOptionValues)
{
  TempDir dir;
  std::string ras = dir.File("job.ras"), ppd = dir.File("k.ppd");
  WriteRaster(ras, {RgbPage(40, 30, [](unsigned x, unsigned y, unsigned char *p) {
                 p[0] = (unsigned char)(x * 6);
                 p[1] = (unsigned char)(y * 8);
                 p[2] = (unsigned char)(x * y);
               })});
  WritePpd(ppd, {{"stpResize", "0"}, {"stpSharpness", "0"}});
  // Values far beyond the PPD's choices (clamped to +-1000), and option
  // texts cupsParseOptions makes odd names and values of.
  const char *options[] = {
      "stpResize=-1000", "stpResize=1000", "stpSharpness=99", "stpSharpness=-99", "stpContrast=26",
      "stpContrast=1000", "stpContrast=-1000", "stpSaturation=1000", "stpBrightness=-2147483649", "PrintMode=-1",
      "MultiChop=9", "DirectMap=TRUE", "Monochrome=true stpSaturation=-1000",
      "DirectMap=true stpRed=1000 stpBlue=-1000", "", "stpResize", "=", "stpResize=\"12\"", "'stpSharpness=3"};
  for (const char *o : options)
  {
    SCOPED_TRACE(o);
    FilterResult r = RunFilter({.options = o, .file = ras, .ppd = ppd});
    EXPECT_EQ(r.status, 0) << r.err;
    ExpectPages(r.out, {{40, 30}});
    FilterResult again = RunFilter({.options = o, .file = ras, .ppd = ppd});
    EXPECT_EQ(again.out, r.out);
  }
  // A very long option string.
  std::string longOptions;
  for (int i = 0; i < 5000; i++)
    longOptions += "opt" + std::to_string(i) + "=value" + std::to_string(i) + " ";
  longOptions += "MultiChop=2";
  FilterResult r = RunFilter({.options = longOptions, .file = ras, .ppd = ppd});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(LinesWith(r.err, "DEBUG: multi_chop(1)=2").size(), 1u);
  ExpectPages(r.out, {{40, 30}});
  EXPECT_EQ(SplitPages(r.out).at(0).mode(), 0x24);
}

// Without a PPD the filter reads no settings at all, not even the job's:
// a missing, unreadable or broken PPD is the same as none.
TEST(BadJobs, MissingAndBrokenPpds)
{
  TempDir dir;
  std::string ras = dir.File("job.ras");
  WriteRaster(ras, {RgbPage(8, 8)});
  FilterResult reference = RunFilter({.options = "", .file = ras});
  std::string empty = dir.File("empty.ppd"), garbage = dir.File("garbage.ppd");
  std::ofstream(empty) << "";
  std::ofstream(garbage, std::ios::binary) << "*PPD-Adobe: \"4.3\n\x01\x02 *OpenUI *MultiChop: PickOne\n" << std::string(500, '\0');
  for (const std::optional<std::string> &ppd : {std::optional<std::string>{}, {empty}, {garbage}, {dir.path()},
                                                {dir.File("missing.ppd")}})
  {
    SCOPED_TRACE(ppd.value_or("no PPD"));
    FilterResult r = RunFilter({.options = "stpBrightness=20 MultiChop=1", .file = ras, .ppd = ppd});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, reference.out);
    EXPECT_EQ(LinesWith(r.err, "DEBUG: "), LinesWith(reference.err, "DEBUG: ")) << "only the page header is logged";
    EXPECT_EQ(SplitPages(r.out).at(0).mode(), 0x04);
  }
}

// Output that cannot be written, full or closed: the job fails at the
// first page.
TEST(BadJobs, OutputThatCannotBeWritten)
{
  TempDir dir;
  std::string ras = dir.File("job.ras");
  WriteRaster(ras, {RgbPage(30, 30), RgbPage(30, 30)});
  for (const FilterInvocation &inv : {FilterInvocation{.file = ras, .stdoutPath = "/dev/full"},
                                      FilterInvocation{.stdinPath = ras, .closeStdout = true}})
  {
    FilterResult r = RunFilter(inv);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(LinesWith(r.err, "ERROR: Unable to send page 1 to the printer").size(), 1u) << r.err;
    EXPECT_TRUE(LinesWith(r.err, "INFO: CUPS v1.2.12 is ready to print.").empty());
    EXPECT_TRUE(LinesWith(r.err, "PAGE: 2").empty());
  }
}

TEST(BadJobs, MemoryTooSmallForThePage)
{
  if (kSanitized)
    GTEST_SKIP() << "address-space limits do not mix with AddressSanitizer";
  if (kEmulated)
    GTEST_SKIP() << "qemu-user does not apply address-space limits";
  TempDir dir;
  std::string ras = dir.File("job.ras");
  WriteRaster(ras, {RgbPage(100, 100), RgbPage(4000, 4000)}, CUPS_RASTER_WRITE_COMPRESSED);
  // Enough for the process and a small page, not for two 48 MB buffers.
  FilterResult r = RunFilter({.file = ras, .memoryLimit = 80L << 20});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(LinesWith(r.err, "ERROR: Page 2: not enough memory").size(), 1u) << r.err;
  ExpectPages(r.out, {{100, 100}});
  EXPECT_TRUE(LinesWith(r.err, "PAGE: 2").empty());

  // Enough for the page buffers but not for the reduction's result
  // picture (0.81 of the page): the page the printer has begun is closed,
  // and the job fails.
  std::string big = dir.File("big.ras"), ppd = dir.File("k.ppd");
  WriteRaster(big, {RgbPage(4000, 4000)}, CUPS_RASTER_WRITE_COMPRESSED);
  WritePpd(ppd, {{"stpResize", "-10"}});
  r = RunFilter({.file = big, .ppd = ppd, .memoryLimit = 130L << 20});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(LinesWith(r.err, "ERROR: Page 1: not enough memory to process the page.").size(), 1u) << r.err;
  ASSERT_EQ(r.out.size(), 66u + 18);
  EXPECT_EQ(r.out.substr(66), std::string(EndBlocks().begin(), EndBlocks().end()));
}

// SIGTERM at random moments of a three-page job fed through a pipe: the
// output is always the pages so far, then the cancelled page's bytes so far
// and exactly its end blocks, or the whole job when the signal fell between
// pages; before the first page the signal keeps its default action.
TEST(BadJobs, SigtermAtRandomMoments)
{
  TempDir dir;
  std::vector<RasterPage> job = {RgbPage(120, 90), RgbPage(100, 70), RgbPage(120, 90)};
  std::string ras = dir.File("job.ras");
  WriteRaster(ras, job);
  const std::string reference = RunFilter({.file = ras}).out;
  const std::vector<unsigned char> bytes = RasterBytes(job);
  const std::string end(EndBlocks().begin(), EndBlocks().end());
  std::vector<size_t> boundaries = {0};
  for (const PageBlocks &p : SplitPages(reference))
    boundaries.push_back(boundaries.back() + 77 + p.data.size() + 18);

  std::mt19937 random(20261206);
  int cancelled = 0, killed = 0, completed = 0;
  for (int trial = 0; trial < 100; trial++)
  {
    TempDir runDir;
    RunningFilter run = StartFilter({}, runDir.path());
    size_t pos = 0;
    int delayUs = (int)(random() % 30000);
    bool signalled = false;
    // Feed the job in small pieces; signal once after the chosen delay.
    auto begin = std::chrono::steady_clock::now();
    while (pos < bytes.size())
    {
      size_t n = std::min<size_t>(4096, bytes.size() - pos);
      if (!WriteFd(run.stdinFd, bytes.data() + pos, n))
        break;
      pos += n;
      usleep(200);
      if (!signalled && std::chrono::steady_clock::now() - begin > std::chrono::microseconds(delayUs))
      {
        kill(run.pid, SIGTERM);
        signalled = true;
      }
    }
    if (!signalled)
      kill(run.pid, SIGTERM);
    FilterResult r = WaitFilter(run);
    SCOPED_TRACE("trial " + std::to_string(trial));
    if (r.signal == SIGTERM)
    {
      killed++;
      EXPECT_EQ(r.out, "");
      continue;
    }
    ASSERT_EQ(r.status, 0) << r.err;
    if (r.out == reference)
    {
      completed++;
      continue;
    }
    cancelled++;
    ASSERT_GE(r.out.size(), 18u);
    EXPECT_EQ(r.out.substr(r.out.size() - 18), end);
    std::string sent = r.out.substr(0, r.out.size() - 18);
    EXPECT_EQ(reference.compare(0, sent.size(), sent), 0) << "not a prefix of the job";
    // The cancel fell inside a page: after its start blocks, before its end.
    size_t pageStart = *(std::upper_bound(boundaries.begin(), boundaries.end(), sent.size()) - 1);
    EXPECT_GE(sent.size() - pageStart, 66u);
    EXPECT_LE(sent.size() - pageStart, 66u + 11 + 3 * 120 * 90);
  }
  RecordProperty("outcomes", std::to_string(cancelled) + " cancelled, " + std::to_string(killed) + " killed, " + std::to_string(completed) + " completed");
  EXPECT_GT(cancelled, 0) << killed << " killed, " << completed << " completed";
}

TEST(BadJobs, PeakMemoryDoesNotGrowWithPages)
{
  if (kSanitized)
    GTEST_SKIP() << "AddressSanitizer holds freed memory back on purpose";
  if (kEmulated)
    GTEST_SKIP() << "under qemu-user the peak memory is the emulator's, not the filter's";
  TempDir dir;
  std::string five = dir.File("five.ras"), fifty = dir.File("fifty.ras");
  RasterPage page = RgbPage(400, 300);
  WriteRaster(five, std::vector<RasterPage>(5, page), CUPS_RASTER_WRITE_COMPRESSED);
  WriteRaster(fifty, std::vector<RasterPage>(50, page), CUPS_RASTER_WRITE_COMPRESSED);
  FilterResult a = RunFilter({.options = "stpResize=10 stpSharpness=2", .file = five});
  FilterResult b = RunFilter({.options = "stpResize=10 stpSharpness=2", .file = fifty});
  ASSERT_EQ(a.status, 0);
  ASSERT_EQ(b.status, 0);
  EXPECT_EQ(SplitPages(b.out).size(), 50u);
  EXPECT_LT(b.maxRssKb, a.maxRssKb + 1024) << a.maxRssKb << " kB for 5 pages";
}

}  // namespace
