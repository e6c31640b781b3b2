// The filter's image stages against their straightforward versions
// (tests/oracle): identical bytes on seeded random pages and settings, for
// every vector version the processor has and several thread counts, and the
// whole filter, settings resolved from the job and the PPD, against the
// oracle pipeline.
#include "image/color_correction.h"
#include "image/direct_map.h"
#include "image/parallel.h"
#include "image/resize.h"
#include "image/sharpness.h"
#include "image/smear_control.h"
#include "image/vector_level.h"
#include "oracle/oracle.h"
#include "random/mt19937ar.h"
#include "rgb_raster_header.h"
#include "settings.h"
#include "support/fixtures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <random>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

// One thread, the machine's choice, and more bands than small pages have rows.
const int kThreadCounts[] = {1, 0, 3, 7};

// Restores the automatic thread count and every vector version at the end.
struct Restore
{
  ~Restore() { SetStageThreads(0), SetVectorLimit(kVectorAvx512); }
};

// Runs check(level) under every vector version this processor has.
template <class F> void EachLevel(F check)
{
  for (int level = 0; level <= ProcessorVectorLevel(); level++)
    SetVectorLimit(level), check(level);
  SetVectorLimit(kVectorAvx512);
}

struct Size
{
  int w, h;
};
using Sizes = std::vector<Size>;

// Tiny and odd pages, every row tail of 16-pixel vectors, widths around
// lane counts, rows longer than 32767 pixels, and photo-sized pages.
// With extra sizes at the end.
Sizes AllSizes(const Sizes &extra = {})
{
  Sizes sizes = {{1, 30}, {5, 5}, {6, 6}, {129, 3}, {3800, 4}, {3771, 9}, {211, 233}, {640, 480}};
  for (int w : {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 31, 32, 33, 63, 64, 65})
    sizes.push_back({w, 1 + (w * 7) % 13});
  sizes.insert(sizes.end(), extra.begin(), extra.end());
  return sizes;
}

TEST(Differential, ColourCorrectionAndDirectMap)
{
  Restore restore;
  std::mt19937 gen(8);
  uint32_t seed = 100;
  for (Size s : AllSizes())
    for (int round = 0; round < 3; round++)
    {
      // Settings as a job derives them, in round 2 far beyond the PPD's.
      auto pick = [&](int range) { return (int)(gen() % (2 * range + 1)) - range; };
      const int wide = round == 2 ? 400 : 60;
      const int b = pick(wide), g = pick(wide), r = pick(wide), contrast = 5 * pick(round == 2 ? 200 : 5);
      const int saturation = round == 1 ? -10 : pick(round == 2 ? 1000 : 10);
      Bytes table(kColorTableBytes, 0), oracleTable(kColorTableBytes, 0);
      BuildColorTable(table.data(), b, g, r, contrast, saturation);
      OracleBuildColorTable(oracleTable.data(), b, g, r, contrast, saturation);
      ASSERT_EQ(table, oracleTable) << b << " " << g << " " << r << " " << contrast << " " << saturation;
      for (int mode : {0, 1})
        for (int direct : {0, 1})
        {
          unsigned char dmap[kDmapTblBytes];
          InitDmapTbl(dmap, kDmapTblBytes, mode);
          const Bytes page = RandomPage(s.w, s.h, seed++);
          Bytes expected = page;
          for (int y = 0; y < s.h; y++)
            OracleColorCorrection(&expected[3 * (size_t)y * s.w], s.w, oracleTable.data(), direct, dmap);
          EachLevel([&](int level) {
            SCOPED_TRACE(testing::Message() << s.w << "x" << s.h << " mode " << mode << " direct " << direct
                                            << " level " << level);
            // As one long row (rows in a batch) and over the stage threads.
            Bytes got = page;
            ColorCorrection(got.data(), s.w * s.h, table.data(), direct, dmap);
            ASSERT_EQ(got, expected);
            for (int threads : kThreadCounts)
            {
              SetStageThreads(threads);
              got = page;
              ColorCorrectPage(got.data(), s.w, s.h, table.data(), direct, dmap);
              ASSERT_EQ(got, expected) << threads << " threads";
            }
          });
        }
    }
}

TEST(Differential, ResizeUpAndDown)
{
  Restore restore;
  std::mt19937 gen(9);
  uint32_t seed = 200;
  auto resize = [](bool oracle, Bytes &p, Size s, int m) {
    if (m >= 0)
      return oracle ? OracleResizePicture(p.data(), s.w, s.h, m, m) : ResizePicture(p.data(), s.w, s.h, m, m);
    return oracle ? OracleResizePictureAverage(p.data(), s.w, s.h, m, m) : ResizePictureAverage(p.data(), s.w, s.h, m, m);
  };
  for (Size s : AllSizes({{1800 / 4, 2504 / 4}}))
    for (int m : {(int)(gen() % 300) + 1, 10, 1, 300, -(int)(gen() % 99) - 1, -10, -50, -100, -150})
    {
      const Bytes page = RandomPage(s.w, s.h, seed++);
      Bytes expected = page;
      ASSERT_EQ(resize(true, expected, s, m), 0);
      EachLevel([&](int level) {
        for (int threads : kThreadCounts)
        {
          SetStageThreads(threads);
          Bytes got = page;
          ASSERT_EQ(resize(false, got, s, m), 0);
          ASSERT_EQ(got, expected) << s.w << "x" << s.h << " by " << m << " threads " << threads << " level " << level;
        }
      });
    }
}

TEST(Differential, Sharpness)
{
  Restore restore;
  std::mt19937 gen(12);
  uint32_t seed = 300;
  for (Size s : AllSizes({{1800 / 3, 2504 / 3}}))
    for (int level = -5; level <= 5; level++)
    {
      if (s.w * s.h > 200000 && level % 3 != 0)
        continue;
      const Bytes page = RandomPage(s.w, s.h, seed++);
      Bytes expected = page;
      ASSERT_EQ(OraclePicytureSharpness(s.w, s.h, expected.data(), level), 0);
      for (int threads : kThreadCounts)
      {
        SetStageThreads(threads);
        Bytes got = page;
        ASSERT_EQ(PicytureSharpness(s.w, s.h, got.data(), level), 0);
        ASSERT_EQ(got, expected) << s.w << "x" << s.h << " level " << level << " threads " << threads;
      }
      if (level % 4 != 0 && level != 3)
        continue;
      // As the rows arrive, a few at a time, rows not yet read holding junk:
      // no row is called final before it is.
      Bytes got(page.size(), 0xA5);
      SharpenInOrder sharpen;
      ASSERT_EQ(sharpen.Start(s.w, s.h, got.data(), level), 0);
      const size_t row = 3 * (size_t)s.w;
      for (int available = 0, final = 0; available < s.h;)
      {
        const int more = std::min(s.h - available, 1 + (int)(gen() % 4));
        memcpy(&got[available * row], &page[available * row], more * row);
        available += more;
        const int now = sharpen.Advance(available);
        ASSERT_TRUE(now >= final && now <= available && (available < s.h || now == s.h)) << now;
        ASSERT_TRUE(std::equal(got.begin(), got.begin() + now * row, expected.begin()))
            << s.w << "x" << s.h << " level " << level << ": " << now << " rows final of " << available;
        final = now;
      }
      EXPECT_EQ(got, expected) << s.w << "x" << s.h << " level " << level << " in order";
    }

  // Colours whose exact luma or colour difference lies on a bound of the
  // skin-tone box, where only the double sums decide, and their neighbours.
  std::vector<std::array<int, 3>> onBound;
  for (long r = 0; r < 256; r++)
    for (long g = 0; g < 256; g++)
      for (long b = 0; b < 256; b++)
      {
        const long Y = 29891 * r + 58661 * g + 11448 * b, Cb = -16874 * r - 33126 * g + 50000 * b,
                   Cr = 50000 * r - 41869 * g - 8131 * b;
        if (Y == 8000000 || Y == 25000000 || Cb == -3500000 || Cb == -1000000 || Cr == 1000000 || Cr == 4500000)
          onBound.push_back({(int)r, (int)g, (int)b});
      }
  Bytes page(3 * 61 * 47);
  for (size_t p = 0; p < page.size(); p += 3)
  {
    const std::array<int, 3> &c = onBound[gen() % onBound.size()];
    for (int i = 0; i < 3; i++)
      page[p + i] = (unsigned char)std::clamp(c[i] + (gen() % 4 == 0 ? (int)(gen() % 3) - 1 : 0), 0, 255);
  }
  for (int level : {-3, 0, 4})
  {
    Bytes expected = page, got = page;
    OraclePicytureSharpness(61, 47, expected.data(), level);
    PicytureSharpness(61, 47, got.data(), level);
    EXPECT_EQ(got, expected) << "skin-tone bounds, level " << level;
  }
}

TEST(Differential, SmearControlAndTheGenerator)
{
  Restore restore;
  uint32_t seed = 400;
  for (Size s : AllSizes({{3, 250}, {40, 700}, {1800 / 4, 2504 / 4}}))
    for (int mode : {0, 1})
    {
      Bytes lut(kSmearLutBytes), oracleLut(kSmearLutBytes);
      GetSmearlut(lut.data(), mode);
      OracleGetSmearlut(oracleLut.data(), mode);
      ASSERT_EQ(lut, oracleLut);
      const Bytes page = RandomPage(s.w, s.h, seed++);
      Bytes expected(page.size());
      ASSERT_EQ(OracleSmearControl(Bytes(page).data(), s.w, s.h, oracleLut.data(), expected.data()), 0);
      const uint32_t next = OracleGenrandInt32();
      EachLevel([&](int level) {
        Bytes got(page.size());
        ASSERT_EQ(SmearControl(Bytes(page).data(), s.w, s.h, lut.data(), got.data()), 0);
        ASSERT_EQ(got, expected) << s.w << "x" << s.h << " mode " << mode << " level " << level;
        // One number drawn for every byte after the first row.
        ASSERT_EQ(genrand_int32(), next) << s.w << "x" << s.h;
      });
    }

  // Blocks of any length continue the sequence of single draws, across the
  // regenerations of the state, and from its last word (after 622 and one).
  EachLevel([](int level) {
    const uint32_t key[4] = {7, 8, 9, 10};
    init_by_array(key, 4);
    OracleInitByArray(key, 4);
    std::vector<uint32_t> block(2000);
    for (size_t n : {622, 2, 5, 623, 624, 625, 1, 2000, 1247, 3})
    {
      genrand_block(block.data(), n);
      for (size_t i = 0; i < n; i++)
        ASSERT_EQ(block[i], OracleGenrandInt32()) << "block of " << n << ", word " << i << ", level " << level;
      ASSERT_EQ(genrand_int32(), OracleGenrandInt32());
    }
  });
}

// With no room for a thread's stack the stages work every band on the
// calling thread and give the same bytes (colour correction's row bands are
// the reduction's).
TEST(Differential, StagesWithoutThreadsToStart)
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__) || defined(KELVO_EMULATED)
  GTEST_SKIP() << "the sanitizers and qemu-user do not mix with address-space limits";
#endif
  Restore restore;
  SetStageThreads(4);
  const int w = 301, h = 203;
  const Bytes page = RandomPage(w, h, 700);
  Bytes sharp = page, up = page, down = page;
  OraclePicytureSharpness(w, h, sharp.data(), 2);
  OracleResizePicture(up.data(), w, h, 25, 25);
  OracleResizePictureAverage(down.data(), w, h, -25, -25);
  Bytes a = page, b = page, c = page;  // allocated before the limit
  const pid_t pid = fork();
  if (pid == 0)
  {
    // Room for the stages' scratch, none for an 8 MB thread stack.
    long pages = 0;
    FILE *f = fopen("/proc/self/statm", "r");
    if (f == nullptr || fscanf(f, "%ld", &pages) != 1)
      _exit(3);
    const rlim_t limit = (rlim_t)pages * (rlim_t)sysconf(_SC_PAGESIZE) + (2 << 20);
    const struct rlimit rl = {limit, limit};
    setrlimit(RLIMIT_AS, &rl);
    const bool ok = !PicytureSharpness(w, h, a.data(), 2) && a == sharp && !ResizePicture(b.data(), w, h, 25, 25) &&
                    b == up && !ResizePictureAverage(c.data(), w, h, -25, -25) && c == down;
    // Unless the C library still holds the stacks of ended threads.
    std::thread t;
    const bool started = StartThread(t, [] {});
    if (started)
      t.join();
    _exit(!ok ? 1 : started ? 2 : 0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  if (WIFEXITED(status) && WEXITSTATUS(status) == 2)
    GTEST_SKIP() << "thread stacks cached from earlier tests let a thread start";
  EXPECT_EQ(status, 0);
}

// The printer data of the oracle stages for a page under the settings.
Bytes OraclePage(Bytes pic, int w, int h, PrintSettings s)
{
  const DerivedValues d = DeriveValues(s);
  Bytes table(kColorTableBytes, 0), lut(kSmearLutBytes), out(pic.size());
  OracleBuildColorTable(table.data(), d.bdat, d.gdat, d.rdat, d.contrast, s.monochrome ? -10 : s.stp_saturation);
  unsigned char dmap[kDmapTblBytes];
  InitDmapTbl(dmap, kDmapTblBytes, s.print_mode);
  for (int y = 0; y < h; y++)
    OracleColorCorrection(&pic[3 * (size_t)y * w], w, table.data(), s.directmap, dmap);
  if (s.stp_resize > 0)
    OracleResizePicture(pic.data(), w, h, s.stp_resize, s.stp_resize);
  else if (s.stp_resize < 0)
    OracleResizePictureAverage(pic.data(), w, h, s.stp_resize, s.stp_resize);
  OraclePicytureSharpness(w, h, pic.data(), s.stp_sharpness);
  OracleGetSmearlut(lut.data(), s.print_mode);
  OracleSmearControl(pic.data(), w, h, lut.data(), out.data());
  return out;
}

// The whole filter gives the oracle pipeline's bytes on every page, with one
// thread and with two: each setting, from the job's options over the PPD's
// defaults over 0, reaches its stage.
TEST(Differential, WholeJobMatchesTheOraclePipeline)
{
  TempDir dir;
  const std::vector<Size> sizes = {{301, 207}, {5, 9}, {1, 1}, {640, 33}};
  std::vector<RasterPage> pages;
  for (size_t i = 0; i < sizes.size(); i++)
    pages.push_back(RasterPage{RgbRasterHeader(sizes[i].w, sizes[i].h), RandomPage(sizes[i].w, sizes[i].h, 500 + (uint32_t)i)});
  const std::string ras = dir.File("job.ras"), ppd = dir.File("k.ppd");
  WriteRaster(ras, pages, CUPS_RASTER_WRITE_COMPRESSED);
  const struct
  {
    std::optional<std::map<std::string, std::string>> ppd;  // none: every setting 0
    std::string options;
    PrintSettings settings;
  } jobs[] = {
      {{}, "stpResize=25 DirectMap=true", {}},
      {{{{"DirectMap", "true"}, {"stpResize", "10"}, {"stpSharpness", "2"}, {"stpSaturation", "3"},
         {"stpContrast", "2"}, {"stpBrightness", "-1"}, {"stpRed", "2"}, {"PrintMode", "1"}}},
       "stpGreen=-2 stpBlue=1",
       {.stp_brightness = -1, .stp_contrast = 2, .stp_saturation = 3, .stp_resize = 10, .stp_sharpness = 2,
        .stp_red = 2, .stp_green = -2, .stp_blue = 1, .print_mode = 1, .directmap = 1}},
      {{{{"stpResize", "-35"}, {"stpSharpness", "2"}, {"Monochrome", "true"}}},
       "stpSharpness=-4",
       {.stp_resize = -35, .stp_sharpness = -4, .monochrome = 1}},
      {{{{"stpSharpness", "1"}, {"stpSaturation", "-4"}}}, "DirectMap=true stpSharpness=1000",
       {.stp_saturation = -4, .stp_sharpness = 1000, .directmap = 1}},
      // The colour table alone, every tone and colour setting 0: read in
      // order and with the whole page for a resize.
      {{{{"DirectMap", "true"}, {"PrintMode", "0"}}}, "", {.directmap = 1}},
      {{{{"DirectMap", "true"}}}, "stpResize=-10 PrintMode=1", {.stp_resize = -10, .print_mode = 1, .directmap = 1}},
  };
  for (const auto &job : jobs)
  {
    if (job.ppd)
      WritePpd(ppd, *job.ppd);
    // One thread at the portable level, two at AVX2 and at the widest
    // level the processor has.
    for (const auto &[threads, level] : {std::pair{"1", "portable"}, {"2", "avx2"}, {"2", "avx512"}})
    {
      SCOPED_TRACE(testing::Message() << "options \"" << job.options << "\", " << (job.ppd ? "a" : "no")
                                      << " PPD, " << threads << " threads");
      const FilterResult r =
          RunFilter({.options = job.options, .file = ras, .ppd = job.ppd ? std::optional(ppd) : std::nullopt,
                     .env = {std::string("KELVO_THREADS=") + threads, std::string("KELVO_VECTOR_LEVEL=") + level}});
      ASSERT_EQ(r.status, 0) << r.err;
      const std::vector<PageBlocks> out = SplitPages(r.out);
      ASSERT_EQ(out.size(), pages.size());
      for (size_t i = 0; i < pages.size(); i++)
        EXPECT_EQ(out[i].data, OraclePage(pages[i].data, sizes[i].w, sizes[i].h, job.settings))
            << "page " << i + 1 << " at " << level;
    }
  }
}

}  // namespace
