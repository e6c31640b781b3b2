// Bad jobs and faults of the world through the real filter: each ends with
// a clear status line and exit status, and the printer never gets bytes it
// would misread.  Cancelling (SIGTERM) before, between and at the start of
// pages (inside a page: the tests through cupsd).
#include "support/fixtures.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <tuple>
#include <unistd.h>

namespace {

// The stream holds exactly these well-framed pages.
void ExpectPages(const std::string &out, const std::vector<std::pair<unsigned, unsigned>> &sizes)
{
  const std::vector<PageBlocks> pages = SplitPages(out);
  ASSERT_EQ(pages.size(), sizes.size());
  for (size_t i = 0; i < sizes.size(); i++)
  {
    EXPECT_EQ(std::pair(pages[i].width(), pages[i].height()), std::pair(sizes[i].first & 0xFFFF, sizes[i].second & 0xFFFF));
    EXPECT_EQ(pages[i].data.size(), 3u * sizes[i].first * sizes[i].second);
    EXPECT_EQ(pages[i].end, kEndBlocks);
  }
}

const std::string kReady = "INFO: CUPS v1.2.12 is ready to print.";

TEST(BadJobs, BrokenStreams)
{
  TempDir dir;
  const std::string good = dir.File("good.ras"), junk = dir.File("junk.ras");
  // No input, no pages, garbage, a truncated sync word: nothing sent.
  for (std::string text : {std::string(), std::string("RaS3"), std::string("Ra"), std::string(4096, '\xff')})
  {
    std::ofstream(junk, std::ios::binary) << text;
    const FilterResult r = RunFilter({.file = junk});
    EXPECT_EQ(r.status, 1) << text;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(LinesWith(r.err, "ERROR: No pages found!").size(), 1u) << text;
  }
  // Trailing garbage after the last page: both pages print.
  WriteRaster(good, {RgbPage(7, 5), RgbPage(6, 4)}, CUPS_RASTER_WRITE_COMPRESSED);
  std::ofstream(junk, std::ios::binary) << ReadFile(good) << std::string(3000, 'x');
  FilterResult r = RunFilter({.file = junk});
  EXPECT_EQ(r.status, 0);
  ExpectPages(r.out, {{7, 5}, {6, 4}});
  // A page that ends after a whole row (10 of 100) or inside one (2 of 8):
  // the rest is white, one value in each plane, not leftover memory.
  for (auto [w, h, rows, cut] : {std::tuple{3u, 100u, 10u, 90 * 9}, {10u, 8u, 2u, 5 * 30 + 12}})
  {
    WriteRaster(good, {RgbPage(w, h, [](unsigned, unsigned, unsigned char *p) { p[0] = p[1] = p[2] = 10; })});
    const std::string bytes = ReadFile(good);
    std::ofstream(junk, std::ios::binary) << bytes.substr(0, bytes.size() - cut);
    r = RunFilter({.file = junk});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(LinesWith(r.err, "ERROR: Page 1: the raster data ended after " + std::to_string(rows) + " of " +
                                   std::to_string(h) + " rows").size(), 1u) << r.err;
    EXPECT_EQ(LinesWith(r.err, kReady).size(), 1u);
    ExpectPages(r.out, {{w, h}});
    const std::vector<unsigned char> data = SplitPages(r.out).at(0).data;
    for (size_t p = 0; p < 3; p++)
      for (size_t i = rows * w; i < w * h; i++)
        ASSERT_EQ(data[p * w * h + i], data[p * w * h + w * h - 1]) << h << " rows: plane " << p << " byte " << i;
  }
}

TEST(BadJobs, ExtremeHeadersAndOptions)
{
  TempDir dir;
  const std::string ras = dir.File("job.ras"), ppd = dir.File("k.ppd");
  RasterPage wide = RgbPage(65535, 1), tall = RgbPage(1, 65535), dot = RgbPage(1, 1);
  wide.header.NumCopies = 0;
  tall.header.NumCopies = 4294967295u;
  WriteRaster(ras, {wide, tall, dot}, CUPS_RASTER_WRITE_COMPRESSED);
  FilterResult r = RunFilter({.file = ras});
  EXPECT_EQ(r.status, 0) << r.err;
  ExpectPages(r.out, {{65535, 1}, {1, 65535}, {1, 1}});
  EXPECT_EQ(LinesWith(r.err, "PAGE: "), (std::vector<std::string>{"PAGE: 1 0", "PAGE: 2 4294967295", "PAGE: 3 1"}));

  // Values far beyond the PPD's choices (clamped to +-1000), option texts
  // cupsParseOptions makes odd names and values of, and a very long string.
  WriteRaster(ras, {RgbPage(40, 30, [](unsigned x, unsigned y, unsigned char *p) {
                p[0] = (unsigned char)(x * 6), p[1] = (unsigned char)(y * 8), p[2] = (unsigned char)(x * y);
              })});
  WritePpd(ppd, {{"stpResize", "0"}, {"stpSharpness", "0"}});
  std::string longOptions;
  for (int i = 0; i < 5000; i++)
    longOptions += "opt" + std::to_string(i) + "=value" + std::to_string(i) + " ";
  for (const std::string &o : std::vector<std::string>{"stpResize=-1000", "stpResize=1000", "stpContrast=26",
                                                       "stpBrightness=-2147483649 DirectMap=true stpRed=1000", "=",
                                                       "stpResize=\"12\" 'stpSharpness=3", longOptions + "MultiChop=2"})
  {
    SCOPED_TRACE(o.substr(0, 40));
    r = RunFilter({.options = o, .file = ras, .ppd = ppd});
    EXPECT_EQ(r.status, 0) << r.err;
    ExpectPages(r.out, {{40, 30}});
  }
  EXPECT_EQ(SplitPages(r.out).at(0).mode(), 0x24);
}

// Without a PPD the filter reads no settings, not even the job's: a
// missing, unreadable or broken PPD is the same as none.
TEST(BadJobs, MissingAndBrokenPpds)
{
  TempDir dir;
  const std::string ras = dir.File("job.ras"), garbage = dir.File("garbage.ppd");
  WriteRaster(ras, {RgbPage(8, 8)});
  std::ofstream(garbage, std::ios::binary) << "*PPD-Adobe: \"4.3\n\x01\x02 *OpenUI *MultiChop: PickOne\n"
                                           << std::string(500, '\0');
  const FilterResult reference = RunFilter({.file = ras});
  for (const std::optional<std::string> &ppd :
       {std::optional<std::string>{}, {garbage}, {dir.path()}, {dir.File("missing.ppd")}})
  {
    SCOPED_TRACE(ppd.value_or("no PPD"));
    const FilterResult r = RunFilter({.options = "stpBrightness=20 MultiChop=1", .file = ras, .ppd = ppd});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, reference.out);
    EXPECT_EQ(LinesWith(r.err, "DEBUG: "), LinesWith(reference.err, "DEBUG: ")) << "only the page header is logged";
  }
}

// Output that cannot be written, full, closed or a pipe whose reader has
// gone: the job fails at the first page with an error, not by a signal.
TEST(BadJobs, OutputThatCannotBeWritten)
{
  TempDir dir;
  const std::string ras = dir.File("job.ras");
  WriteRaster(ras, {RgbPage(30, 30), RgbPage(30, 30)});
  int fds[2];
  ASSERT_EQ(pipe2(fds, O_CLOEXEC), 0);
  close(fds[0]);
  for (const FilterInvocation &inv : {FilterInvocation{.file = ras, .stdoutPath = "/dev/full"},
                                      FilterInvocation{.stdinPath = ras, .closeStdout = true},
                                      FilterInvocation{.file = ras, .stdoutFd = fds[1]}})
  {
    const FilterResult r = RunFilter(inv);
    EXPECT_EQ(r.signal, 0);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(LinesWith(r.err, "ERROR: Unable to send page 1 to the printer").size(), 1u) << r.err;
    EXPECT_TRUE(LinesWith(r.err, kReady).empty());
    EXPECT_TRUE(LinesWith(r.err, "PAGE: 2").empty());
  }
  close(fds[1]);
}

TEST(BadJobs, MemoryTooSmall)
{
#if defined(__SANITIZE_ADDRESS__) || defined(KELVO_EMULATED)
  GTEST_SKIP() << "AddressSanitizer and qemu-user do not mix with address-space limits";
#endif
  TempDir dir;
  const std::string ras = dir.File("job.ras"), big = dir.File("big.ras"), ppd = dir.File("k.ppd");
  // Enough for a small page, not for two 48 MB buffers: nothing of page 2.
  WriteRaster(ras, {RgbPage(100, 100), RgbPage(4000, 4000)}, CUPS_RASTER_WRITE_COMPRESSED);
  FilterResult r = RunFilter({.file = ras, .memoryLimit = 80L << 20});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(LinesWith(r.err, "ERROR: Page 2: not enough memory").size(), 1u) << r.err;
  ExpectPages(r.out, {{100, 100}});
  // Enough for the page buffers, not for the reduction's result (0.81 of
  // the page): the page the printer has begun is closed.
  WriteRaster(big, {RgbPage(4000, 4000)}, CUPS_RASTER_WRITE_COMPRESSED);
  WritePpd(ppd, {{"stpResize", "-10"}});
  r = RunFilter({.file = big, .ppd = ppd, .memoryLimit = 130L << 20});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(LinesWith(r.err, "ERROR: Page 1: not enough memory to process the page.").size(), 1u) << r.err;
  ASSERT_EQ(r.out.size(), 66u + 18);
  EXPECT_EQ(r.out.substr(66), kEndBlocks);
}

// Between pages SIGTERM is ignored; before the first page it keeps its
// default action.
TEST(Cancel, BetweenPagesAndBeforeTheFirst)
{
  TempDir dir, dir2;
  WriteRaster(dir2.File("1.ras"), {RgbPage(20, 10)});
  WriteRaster(dir2.File("2.ras"), {RgbPage(20, 10), RgbPage(20, 10)});
  const std::string page1 = ReadFile(dir2.File("1.ras")), job = ReadFile(dir2.File("2.ras"));
  RunningFilter run = StartFilter({}, dir.path());
  ASSERT_EQ(write(run.stdinFd, job.data(), page1.size()), (ssize_t)page1.size());  // not yet the second header
  for (int i = 0; i < 500 && ReadFile(run.errPath).find("Transfer completion") == std::string::npos; i++)
    usleep(10000);
  usleep(50000);
  kill(run.pid, SIGTERM);
  usleep(50000);
  ASSERT_EQ(write(run.stdinFd, job.data() + page1.size(), job.size() - page1.size()), (ssize_t)(job.size() - page1.size()));
  FilterResult r = WaitFilter(run);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(SplitPages(r.out).size(), 2u);

  run = StartFilter({}, dir2.path());
  usleep(100000);
  kill(run.pid, SIGTERM);
  r = WaitFilter(run);
  EXPECT_EQ(r.signal, SIGTERM);
  EXPECT_EQ(r.out, "");
}

// SIGTERM while the start blocks wait for room in the pipe to the printer:
// the cancel waits until they are out, then closes the page.
TEST(Cancel, WhileTheStartBlocksWaitForThePrinter)
{
  TempDir dir;
  const std::string ras = dir.File("job.ras");
  WriteRaster(ras, {RgbPage(30, 20)});
  int fds[2];
  ASSERT_EQ(pipe2(fds, O_CLOEXEC | O_NONBLOCK), 0);
  const int size = fcntl(fds[1], F_SETPIPE_SZ, 4096);
  ASSERT_GT(size, 0);
  const std::string fill(size, 'Z');
  ASSERT_EQ(write(fds[1], fill.data(), fill.size()), size);
  ASSERT_LT(write(fds[1], "Z", 1), 0) << "the pipe is full";
  fcntl(fds[1], F_SETFL, 0);  // the filter writes blocking
  RunningFilter run = StartFilter({.file = ras, .stdoutFd = fds[1]}, dir.path());
  close(fds[1]);
  // Wait until the filter sleeps in the kernel's pipe write (its wait
  // channel names it, under an emulator too, whose syscall numbers differ).
  bool blocked = false;
  for (int i = 0; i < 1000 && !blocked; i++)
  {
    usleep(5000);
    blocked = ReadFile("/proc/" + std::to_string(run.pid) + "/wchan").find("pipe_write") != std::string::npos &&
              LinesWith(ReadFile(run.errPath), "PAGE: 1").size() == 1;
  }
  ASSERT_TRUE(blocked) << ReadFile(run.errPath);
  kill(run.pid, SIGTERM);
  usleep(50000);
  std::string out;
  char buf[8192];
  fcntl(fds[0], F_SETFL, 0);
  for (ssize_t n; (n = read(fds[0], buf, sizeof(buf))) > 0;)
    out.append(buf, (size_t)n);
  close(fds[0]);
  const FilterResult r = WaitFilter(run);
  EXPECT_EQ(r.status, 0) << r.err;
  ASSERT_EQ(out.substr(0, size), fill);
  ASSERT_EQ(out.size(), size + 66u + 18) << "start and end blocks, never end blocks alone";
  EXPECT_EQ(out.compare(size, 7, "\x1B\x1E\x00\x00\x00\x0C\x00", 7), 0);
  EXPECT_EQ(out.substr(size + 66), kEndBlocks);
}

}  // namespace
