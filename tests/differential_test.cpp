// The filter's image stages against their straightforward versions
// (tests/oracle): identical bytes on many seeded random pages and settings,
// with one thread and with several bands, and the whole filter against the
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
#include "settings.h"
#include "support/fixtures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

// Thread counts every stage is compared under: one, the machine's choice,
// and more bands than most pages have rows to spare.
const int kThreadCounts[] = {1, 0, 3, 7};

// Restores the automatic thread count when a test ends.
struct ThreadsGuard
{
  ~ThreadsGuard()
  {
    SetStageThreads(0);
    SetVectorLimit(kVectorAvx512);
  }
};

// A page mixing the things the stages react to: noise, smooth gradients,
// flat areas, hard edges, skin tones and the extremes 0 and 255.
Bytes RandomPage(int w, int h, uint32_t seed)
{
  std::mt19937 gen(seed);
  Bytes p(3 * (size_t)w * h);
  const int kind = (int)(gen() % 4);
  const int r0 = (int)(gen() % 256), g0 = (int)(gen() % 256), b0 = (int)(gen() % 256);
  for (int y = 0; y < h; y++)
    for (int x = 0; x < w; x++)
    {
      unsigned char *px = &p[3 * ((size_t)y * w + x)];
      const uint32_t n = gen();
      int r, g, b;
      if (kind == 0 || n % 7 == 0)
        r = n & 255, g = (n >> 8) & 255, b = (n >> 16) & 255;
      else if (kind == 1)
        r = (r0 + 3 * x) % 256, g = (g0 + 2 * y) % 256, b = (b0 + x + y) % 256;
      else if (kind == 2)
        r = (x / 3 + y / 2) % 2 ? 255 : 0, g = r, b = (n % 3) ? r : 255 - r;
      else
        r = 200 + (int)(n % 40), g = 150 + (int)((n >> 8) % 30), b = 120 + (int)((n >> 16) % 30);  // skin
      px[0] = (unsigned char)r;
      px[1] = (unsigned char)g;
      px[2] = (unsigned char)b;
    }
  return p;
}

// Page sizes: tiny and odd, widths around vector lane counts, one wider
// than 3764 pixels and a few photo-sized pages.
struct Size
{
  int w, h;
};

std::vector<Size> Sizes()
{
  std::vector<Size> sizes;
  for (int w : {1, 2, 3, 4, 5, 6, 7, 8, 9, 15, 16, 17, 31, 32, 33, 63, 64, 65})
    sizes.push_back({w, 1 + (w * 7) % 13});
  sizes.insert(sizes.end(), {{1, 30}, {5, 5}, {6, 6}, {129, 3}, {3800, 4}, {3771, 9}, {211, 233}, {640, 480}});
  return sizes;
}

TEST(Differential, ColourCorrectionAndDirectMap)
{
  ThreadsGuard guard;
  // The portable code and every faster version this processor has.
  const int best = ProcessorVectorLevel();
  std::mt19937 gen(8);
  uint32_t seed = 100;
  for (Size s : Sizes())
    for (int round = 0; round < 3; round++)
    {
      // Settings as the job derives them, now and then far beyond the PPD's.
      const int wide = round == 2 ? 400 : 60;
      auto pick = [&](int range) { return (int)(gen() % (2 * range + 1)) - range; };
      const int bdat = pick(wide), gdat = pick(wide), rdat = pick(wide);
      const int contrast = 5 * pick(round == 2 ? 200 : 5);
      const int saturation = round == 1 ? -10 : pick(round == 2 ? 1000 : 10);
      Bytes table(kColorTableBytes, 0), oracleTable(kColorTableBytes, 0);
      BuildColorTable(table.data(), bdat, gdat, rdat, contrast, saturation);
      OracleBuildColorTable(oracleTable.data(), bdat, gdat, rdat, contrast, saturation);
      ASSERT_EQ(table, oracleTable) << bdat << " " << gdat << " " << rdat << " " << contrast << " " << saturation;

      for (int mode : {0, 1})
        for (int direct : {0, 1})
        {
          unsigned char dmap[kDmapTblBytes];
          InitDmapTbl(dmap, kDmapTblBytes, mode);
          const Bytes page = RandomPage(s.w, s.h, seed++);
          Bytes expected = page;
          for (int y = 0; y < s.h; y++)
            OracleColorCorrection(&expected[3 * (size_t)y * s.w], s.w, oracleTable.data(), direct, dmap);
          // The portable code and every faster version this processor has.
          for (int version = 0; version <= best; version++)
          {
            SetVectorLimit(version);
            Bytes row = page;
            ColorCorrection(row.data(), s.w * s.h, table.data(), direct, dmap);
            ASSERT_EQ(row, expected) << s.w << "x" << s.h << " one long row, version " << version;
            // Row by row, as the filter corrects rows while it reads them.
            row = page;
            for (int y = 0; y < s.h; y++)
              ColorCorrection(&row[3 * (size_t)y * s.w], s.w, table.data(), direct, dmap);
            ASSERT_EQ(row, expected) << s.w << "x" << s.h << " row by row, version " << version;
            for (int threads : kThreadCounts)
            {
              SetStageThreads(threads);
              Bytes got = page;
              ColorCorrectPage(got.data(), s.w, s.h, table.data(), direct, dmap);
              ASSERT_EQ(got, expected) << s.w << "x" << s.h << " mode " << mode << " direct " << direct
                                       << " threads " << threads << " version " << version;
            }
          }
        }
    }
  SetVectorLimit(kVectorAvx512);

  // The direct map alone (a neutral colour table): every colour of a coarse
  // cube and its neighbours, so that all tetrahedra and ties are met, in
  // rows of every length modulo 16.
  {
    Bytes neutral(kColorTableBytes, 0), oracleNeutral(kColorTableBytes, 0);
    BuildColorTable(neutral.data(), 0, 0, 0, 0, 0);
    OracleBuildColorTable(oracleNeutral.data(), 0, 0, 0, 0, 0);
    Bytes colours;
    for (int r = 0; r < 256; r += 15)
      for (int g = 0; g < 256; g += 15)
        for (int b = 0; b < 256; b += 15)
          for (int d : {0, 1, 31, 32, 33})
          {
            colours.push_back((unsigned char)std::min(255, r + d));
            colours.push_back((unsigned char)g);
            colours.push_back((unsigned char)std::min(255, b + (d & 1)));
          }
    for (int mode : {0, 1})
    {
      unsigned char dmap[kDmapTblBytes];
      InitDmapTbl(dmap, kDmapTblBytes, mode);
      for (int w : {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 21, 22, 23, 31, 32, 33, 37, 38, 3771})
      {
        const int h = (int)(colours.size() / 3 / w) < 40 ? (int)(colours.size() / 3 / w) : 40;
        const Bytes page(colours.begin(), colours.begin() + 3 * (size_t)w * h);
        Bytes expected = page;
        for (size_t n = 0; n < expected.size(); n += 3)
          OracleChange3D(dmap, &expected[n], &expected[n + 1], &expected[n + 2]);
        for (int version = 0; version <= best; version++)
        {
          SetVectorLimit(version);
          for (int threads : {1, 3})
          {
            SetStageThreads(threads);
            Bytes got = page;
            ColorCorrectPage(got.data(), w, h, neutral.data(), 1, dmap);
            ASSERT_EQ(got, expected) << "width " << w << " mode " << mode << " version " << version;
          }
        }
      }
    }
    SetVectorLimit(kVectorAvx512);
  }
  // The neutral table leaves a page as it is.
  Bytes neutral(kColorTableBytes, 0);
  BuildColorTable(neutral.data(), 0, 0, 0, 0, 0);
  const Bytes page = RandomPage(77, 5, 1);
  Bytes got = page;
  ColorCorrectPage(got.data(), 77, 5, neutral.data(), 0, nullptr);
  EXPECT_EQ(got, page);
}

TEST(Differential, ResizeUpAndDown)
{
  ThreadsGuard guard;
  std::mt19937 gen(9);
  uint32_t seed = 200;
  std::vector<Size> sizes = Sizes();
  sizes.push_back({1800 / 4, 2504 / 4});
  for (Size s : sizes)
    for (int m : {(int)(gen() % 300) + 1, 10, 1, 300, -(int)(gen() % 99) - 1, -10, -50, -100, -150})
    {
      const Bytes page = RandomPage(s.w, s.h, seed++);
      Bytes expected = page;
      const int expectedStatus = m > 0 ? OracleResizePicture(expected.data(), s.w, s.h, m, m)
                                       : OracleResizePictureAverage(expected.data(), s.w, s.h, m, m);
      // The portable code and every faster version this processor has.
      for (int level = 0; level <= ProcessorVectorLevel(); level++)
      {
        SetVectorLimit(level);
        for (int threads : kThreadCounts)
        {
          SetStageThreads(threads);
          Bytes got = page;
          const int status = m > 0 ? ResizePicture(got.data(), s.w, s.h, m, m)
                                   : ResizePictureAverage(got.data(), s.w, s.h, m, m);
          ASSERT_EQ(status, expectedStatus);
          ASSERT_EQ(got, expected) << s.w << "x" << s.h << " by " << m << " threads " << threads << " level "
                                   << level;
        }
      }
    }
  // Different percentages across and down.
  const Bytes page = RandomPage(97, 61, 5);
  for (auto [mx, my] : {std::pair{25, 0}, {0, 40}, {7, 300}, {-30, 0}, {0, -70}, {-99, -1}})
    for (int level = 0; level <= ProcessorVectorLevel(); level++)
    {
      SetVectorLimit(level);
      Bytes expected = page, got = page;
      if (mx >= 0 && my >= 0)
      {
        OracleResizePicture(expected.data(), 97, 61, mx, my);
        ResizePicture(got.data(), 97, 61, mx, my);
      }
      else
      {
        OracleResizePictureAverage(expected.data(), 97, 61, mx, my);
        ResizePictureAverage(got.data(), 97, 61, mx, my);
      }
      EXPECT_EQ(got, expected) << mx << " " << my << " level " << level;
    }
}

TEST(Differential, SharpnessAtEveryLevel)
{
  ThreadsGuard guard;
  uint32_t seed = 300;
  std::vector<Size> sizes = Sizes();
  sizes.push_back({1800 / 3, 2504 / 3});
  for (Size s : sizes)
    for (int level = -5; level <= 5; level++)
    {
      if (s.w * s.h > 200000 && level % 3 != 0)
        continue;  // the large page at a few levels only
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
    }
}

// Sharpening as the rows arrive, a few at a time: the same bytes, and no
// row is called final before it is.
TEST(Differential, SharpnessInOrderAsRowsArrive)
{
  std::mt19937 gen(12);
  uint32_t seed = 600;
  for (Size s : Sizes())
    for (int level : {-4, 0, 3})
    {
      const Bytes page = RandomPage(s.w, s.h, seed++);
      Bytes expected = page;
      OraclePicytureSharpness(s.w, s.h, expected.data(), level);
      // Rows beyond those made available hold junk, as a page being read
      // holds whatever its buffer held.
      Bytes got(page.size(), 0xA5);
      SharpenInOrder sharpen;
      ASSERT_EQ(sharpen.Start(s.w, s.h, got.data(), level), 0);
      const size_t rowBytes = 3 * (size_t)s.w;
      int available = 0, final = 0;
      while (available < s.h)
      {
        const int more = std::min(s.h - available, 1 + (int)(gen() % 4));
        memcpy(&got[available * rowBytes], &page[available * rowBytes], more * rowBytes);
        available += more;
        const int now = sharpen.Advance(available);
        ASSERT_GE(now, final);
        ASSERT_LE(now, available);
        ASSERT_TRUE(std::equal(got.begin(), got.begin() + now * rowBytes, expected.begin()))
            << s.w << "x" << s.h << " level " << level << ": " << now << " rows final of " << available;
        final = now;
      }
      EXPECT_EQ(final, s.h);
      EXPECT_EQ(got, expected) << s.w << "x" << s.h << " level " << level;
    }
}

// Colours whose exact luma or colour difference lies on a bound of the
// skin-tone box, where only the double sums decide, and colours next to them.
TEST(Differential, SharpnessOnTheSkinToneBounds)
{
  std::vector<std::array<int, 3>> onBound;
  for (int r = 0; r < 256; r++)
    for (int g = 0; g < 256; g++)
      for (int b = 0; b < 256; b++)
      {
        const long Y = 29891L * r + 58661L * g + 11448L * b, Cb = -16874L * r - 33126L * g + 50000L * b,
                   Cr = 50000L * r - 41869L * g - 8131L * b;
        if (Y == 8000000 || Y == 25000000 || Cb == -3500000 || Cb == -1000000 || Cr == 1000000 || Cr == 4500000)
          onBound.push_back({r, g, b});
      }
  ASSERT_GT(onBound.size(), 10u);
  std::mt19937 gen(11);
  const int w = 61, h = 47;
  Bytes page(3 * w * h);
  for (size_t p = 0; p < page.size(); p += 3)
  {
    const std::array<int, 3> &c = onBound[gen() % onBound.size()];
    for (int i = 0; i < 3; i++)
      page[p + i] = (unsigned char)std::clamp(c[i] + (gen() % 4 == 0 ? (int)(gen() % 3) - 1 : 0), 0, 255);
  }
  for (int level : {-3, 0, 4})
  {
    Bytes expected = page, got = page;
    OraclePicytureSharpness(w, h, expected.data(), level);
    PicytureSharpness(w, h, got.data(), level);
    EXPECT_EQ(got, expected) << "level " << level;
  }
}

TEST(Differential, SmearControlAndTheGenerator)
{
  ThreadsGuard guard;
  uint32_t seed = 400;
  std::vector<Size> sizes = Sizes();
  sizes.insert(sizes.end(), {{3, 250}, {40, 700}, {1800 / 4, 2504 / 4}});
  for (Size s : sizes)
    for (int mode : {0, 1})
    {
      Bytes lut(kSmearLutBytes), oracleLut(kSmearLutBytes);
      GetSmearlut(lut.data(), mode);
      OracleGetSmearlut(oracleLut.data(), mode);
      ASSERT_EQ(lut, oracleLut);
      const Bytes page = RandomPage(s.w, s.h, seed++);
      Bytes expected(page.size());
      ASSERT_EQ(OracleSmearControl(Bytes(page).data(), s.w, s.h, oracleLut.data(), expected.data()), 0);
      // The portable code and every faster version this processor has.
      for (int level = 0; level <= ProcessorVectorLevel(); level++)
      {
        SetVectorLimit(level);
        Bytes got(page.size());
        ASSERT_EQ(SmearControl(Bytes(page).data(), s.w, s.h, lut.data(), got.data()), 0);
        ASSERT_EQ(got, expected) << s.w << "x" << s.h << " mode " << mode << " level " << level;
      }
      SetVectorLimit(kVectorAvx512);
      // The generator is left where one number per byte after the first
      // row leaves it.
      ASSERT_EQ(genrand_int32(), OracleGenrandInt32()) << s.w << "x" << s.h;
    }

  // Blocks of any length continue the same sequence as single draws, across
  // the regenerations of the state.
  const uint32_t key[4] = {7, 8, 9, 10};
  init_by_array(key, 4);
  OracleInitByArray(key, 4);
  std::vector<uint32_t> block(2000);
  for (size_t n : {1, 5, 623, 624, 625, 1, 2000, 1247, 3})
  {
    genrand_block(block.data(), n);
    for (size_t i = 0; i < n; i++)
      ASSERT_EQ(block[i], OracleGenrandInt32()) << "block of " << n << ", word " << i;
    ASSERT_EQ(genrand_int32(), OracleGenrandInt32());
  }
}

// Under an address-space limit that leaves no room for a thread's stack,
// the stages work every band on the calling thread and give the same bytes.
TEST(Differential, StagesWithoutThreadsToStart)
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "address-space limits do not mix with the sanitizers";
#endif
#if defined(KELVO_EMULATED)
  GTEST_SKIP() << "qemu-user does not apply address-space limits";
#endif
  ThreadsGuard guard;
  SetStageThreads(4);
  const int w = 301, h = 203;
  const Bytes page = RandomPage(w, h, 700);
  Bytes sharp = page, up = page, down = page, colour = page;
  OraclePicytureSharpness(w, h, sharp.data(), 2);
  OracleResizePicture(up.data(), w, h, 25, 25);
  OracleResizePictureAverage(down.data(), w, h, -25, -25);
  Bytes table(kColorTableBytes, 0);
  BuildColorTable(table.data(), 3, -2, 1, 10, 4);
  unsigned char dmap[kDmapTblBytes];
  InitDmapTbl(dmap, kDmapTblBytes, 1);
  for (int y = 0; y < h; y++)
    OracleColorCorrection(&colour[3 * (size_t)y * w], w, table.data(), 1, dmap);
  // Every buffer the stages write is there before the limit.
  Bytes a = page, b = page, c = page, d = page;

  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0)
  {
    // Room for the stages' scratch (a few pictures of this size), none for
    // a thread stack (8 MB).
    long pages = 0;
    FILE *f = fopen("/proc/self/statm", "r");
    if (f == nullptr || fscanf(f, "%ld", &pages) != 1)
      _exit(3);
    fclose(f);
    const rlim_t limit = (rlim_t)pages * (rlim_t)sysconf(_SC_PAGESIZE) + (2 << 20);
    const struct rlimit rl = {limit, limit};
    if (setrlimit(RLIMIT_AS, &rl) != 0)
      _exit(3);
    int ok = PicytureSharpness(w, h, a.data(), 2) == 0 && a == sharp;
    ok &= ResizePicture(b.data(), w, h, 25, 25) == 0 && b == up;
    ok &= ResizePictureAverage(c.data(), w, h, -25, -25) == 0 && c == down;
    ColorCorrectPage(d.data(), w, h, table.data(), 1, dmap);
    ok &= d == colour;
    // Threads really could not be had, unless the C library still holds
    // stacks of threads that earlier tests in this process ended.
    std::thread t;
    const bool started = StartThread(t, [] {});
    if (started)
      t.join();
    _exit(!ok ? 1 : started ? 2 : 0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status)) << status;
  if (WEXITSTATUS(status) == 2)
    GTEST_SKIP() << "thread stacks cached from earlier tests let a thread start";
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

// The printer data the oracle stages give for a page under the settings.
Bytes OraclePage(Bytes pic, int w, int h, PrintSettings s)
{
  const DerivedValues d = DeriveValues(s);
  if (s.monochrome)
    s.stp_saturation = -10;
  Bytes table(kColorTableBytes, 0);
  OracleBuildColorTable(table.data(), d.bdat, d.gdat, d.rdat, d.contrast, s.stp_saturation);
  unsigned char dmap[kDmapTblBytes];
  InitDmapTbl(dmap, kDmapTblBytes, s.print_mode);
  for (int y = 0; y < h; y++)
    OracleColorCorrection(&pic[3 * (size_t)y * w], w, table.data(), s.directmap, dmap);
  if (s.stp_resize > 0)
    OracleResizePicture(pic.data(), w, h, s.stp_resize, s.stp_resize);
  else if (s.stp_resize < 0)
    OracleResizePictureAverage(pic.data(), w, h, s.stp_resize, s.stp_resize);
  OraclePicytureSharpness(w, h, pic.data(), s.stp_sharpness);
  Bytes lut(kSmearLutBytes), out(pic.size());
  OracleGetSmearlut(lut.data(), s.print_mode);
  OracleSmearControl(pic.data(), w, h, lut.data(), out.data());
  return out;
}

// The whole filter, with default settings and with every stage on, gives the
// oracle pipeline's bytes on every page, with one thread and with several.
TEST(Differential, WholeJobMatchesTheOraclePipeline)
{
  TempDir dir;
  const std::vector<Size> sizes = {{301, 207}, {5, 9}, {1, 1}, {640, 33}};
  std::vector<RasterPage> pages;
  for (size_t i = 0; i < sizes.size(); i++)
    pages.push_back(RgbPageFrom(sizes[i].w, sizes[i].h, RandomPage(sizes[i].w, sizes[i].h, 500 + (uint32_t)i)));
  const std::string ras = dir.File("job.ras"), ppd = dir.File("k.ppd");
  WriteRaster(ras, pages, CUPS_RASTER_WRITE_COMPRESSED);

  PrintSettings every;
  every.directmap = 1, every.stp_resize = 10, every.stp_sharpness = 2, every.stp_saturation = 3,
  every.stp_contrast = 2, every.stp_brightness = -1, every.stp_red = 2, every.print_mode = 1;
  PrintSettings reduced;
  reduced.stp_resize = -35, reduced.stp_sharpness = -4, reduced.monochrome = 1;
  PrintSettings mapped;  // colour work without a resize: corrected as the rows arrive
  mapped.directmap = 1, mapped.stp_saturation = -4, mapped.stp_sharpness = 1;
  struct Job
  {
    std::map<std::string, std::string> ppd;
    PrintSettings settings;
  } jobs[] = {
      {{}, PrintSettings{}},
      {{{"DirectMap", "true"}, {"stpResize", "10"}, {"stpSharpness", "2"}, {"stpSaturation", "3"},
        {"stpContrast", "2"}, {"stpBrightness", "-1"}, {"stpRed", "2"}, {"PrintMode", "1"}},
       every},
      {{{"stpResize", "-35"}, {"stpSharpness", "-4"}, {"Monochrome", "true"}}, reduced},
      {{{"DirectMap", "true"}, {"stpSaturation", "-4"}, {"stpSharpness", "1"}}, mapped},
  };
  for (const Job &job : jobs)
  {
    WritePpd(ppd, job.ppd);
    for (const char *threads : {"1", "2"})
    {
      setenv("KELVO_THREADS", threads, 1);
      FilterResult r = RunFilter({.file = ras, .ppd = ppd});
      unsetenv("KELVO_THREADS");
      ASSERT_EQ(r.status, 0) << r.err;
      std::vector<PageBlocks> out = SplitPages(r.out);
      ASSERT_EQ(out.size(), pages.size());
      for (size_t i = 0; i < pages.size(); i++)
        EXPECT_EQ(out[i].data, OraclePage(pages[i].data, sizes[i].w, sizes[i].h, job.settings))
            << "page " << i + 1 << ", " << threads << " threads, resize " << job.settings.stp_resize;
    }
  }
}

}  // namespace
