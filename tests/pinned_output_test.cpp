// Pinned output: whole jobs through the built filter whose printer streams
// keep the SHA-256 digests recorded below, on every compiler, build flag,
// processor and vector level (KELVO_VECTOR_LEVEL), with the stage threads
// each names (KELVO_THREADS).  The other tests compare the stages with
// straightforward versions built alike, so a change that moves both the same
// way (fused multiply-adds, another rounding) passes them, not this one.
// The pages are made with integer arithmetic only.  When a change of the
// printed bytes is intended, re-record with
//   KELVO_RECORD_DIGESTS=1 build/tests/kelvo_tests --gtest_filter='PinnedOutput.*'
// which prints each job's digest for kJobs, and say in the commit message
// which jobs changed and why.
#include "image/vector_level.h"
#include "support/fixtures.h"

#include <cups/cups.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

struct PageShape
{
  int width, height;
  uint32_t seed;
};

// A small page whose odd width ends every vector loop in a partial step,
// and a 6 x 4 inch page, large enough for several bands per stage.
constexpr PageShape kSmall = {597, 401, 1};
constexpr PageShape kLarge = {1800, 1200, 2};

struct PinnedJob
{
  const char *name, *options;
  std::vector<PageShape> pages;
  const char *threads;  // KELVO_THREADS, or "" for the machine's cores
  const char *digest;   // SHA-256 of the whole printer stream
};

const PinnedJob kJobs[] = {
    {"default", "", {kSmall, kLarge}, "", "fcfb0300bfafdd734b674768c4f776344a2036e54288f7942820069e3c2940d9"},
    {"every-stage-enlarged",
     "DirectMap=true stpResize=10 stpSharpness=2 stpSaturation=3 stpContrast=2 stpBrightness=1 stpRed=-2 "
     "stpGreen=1 stpBlue=2 MultiChop=1",
     {kLarge}, "3", "8ee59f9c1d0e881af873d84ccb1f31413920d42236372953cc728ab5237c44a4"},
    {"enlarged-one-thread", "stpResize=7 stpSharpness=4 PrintMode=1", {kSmall}, "1", "ec1c36ff132184ac68430be3b5accbc6cdc244a172a0ec90738455494fd0d5d5"},
    {"reduced", "stpResize=-15 stpSharpness=1 stpContrast=-3", {kSmall, kLarge}, "3", "22fbe4771c6d360bf338f5e1866c13825dfedabbea87dea235b5029b5042de89"},
    {"sharpness-3", "stpSharpness=-3", {kSmall}, "1", "94b56357051d04705e2f8891200265ce50af260711b70bf1d60c7d8985279f53"},
    {"sharpness-2", "stpSharpness=-2", {kSmall}, "3", "e628c97c8b8045857613915df8dd2ce8d5482d8e64cdb7553c7e7e67868c3a10"},
    {"sharpness-1", "stpSharpness=-1", {kSmall}, "1", "ecb124381570f970802dd49c425ba039af23c6dedc60a19a8da06c85bf82b4ce"},
    {"sharpness+1", "stpSharpness=1", {kSmall}, "3", "1ed29968d2aa7fb1913540db1b01618d0516d89796780a045ab975d0b1c698ec"},
    {"sharpness+2", "stpSharpness=2", {kSmall}, "1", "92ee8d1108addff7c604e478b54dc23d9e8f5b530e145687f53d634f4526b2b6"},
    {"sharpness+3", "stpSharpness=3", {kSmall}, "3", "11d2cd789d200ccbbe9404c07999fd53ebbba593055e6b2c44db51a13ec90217"},
    {"sharpness+4", "stpSharpness=4 stpSaturation=-4", {kSmall}, "1", "19bf87cd23aaed74e75cece60698f80064fbb197b10a14c0a15c58861974b394"},
    {"directmap-soft", "DirectMap=true PrintMode=0", {kSmall}, "", "90cc2b151627f6e53036e76bd36226f2f07f3a442fb74a578677bca116402eef"},
    {"directmap-normal", "DirectMap=true PrintMode=1 stpBrightness=-2", {kSmall}, "", "4153ef7e600d2950518b8c68f1918dea23a7e74d5ab2e1f2c442f8854e6e33ae"},
    {"monochrome", "Monochrome=true PrintMode=1 stpSharpness=2", {kSmall}, "", "da6f44f69e452992f337dfc71b59991c296737992b0ae885118d613d3e5759b6"},
};

// The SHA-256 of a printer stream, as lower-case hex.
std::string Sha256Hex(const std::string &bytes)
{
  unsigned char hash[32];
  char hex[65];
  if (cupsHashData("sha2-256", bytes.data(), bytes.size(), hash, sizeof(hash)) != sizeof(hash))
    return "cupsHashData failed";
  return cupsHashString(hash, sizeof(hash), hex, sizeof(hex));
}

uint32_t Hash(uint32_t x, uint32_t y, uint32_t seed)
{
  uint32_t h = x * 0x9E3779B1u ^ (y + 0x7F4A7C15u + seed * 0x632BE5ABu) * 0x85EBCA77u;
  h ^= h >> 15;
  h *= 0xC2B2AE3Du;
  h ^= h >> 13;
  return h;
}

// A photo-like page: a sunset sky with a wave, two shaded skin-tone faces,
// grass-like texture, saturated patches with hard edges, a band of
// one-pixel lines, and a little noise everywhere.  Positions are in
// thousandths of the page.
RasterPage PhotoLikePage(const PageShape &shape)
{
  const int w = shape.width, h = shape.height;
  static const int kPatch[6][3] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 0}, {0, 255, 255}, {255, 0, 255}};
  return RgbPage((unsigned)w, (unsigned)h, [&](unsigned x, unsigned y, unsigned char *rgb) {
    const int fx = (int)x * 1000 / w, fy = (int)y * 1000 / h;
    const int noise = (int)(Hash(x, y, shape.seed) % 17) - 8;
    int wave = (fx * 9 + (int)shape.seed * 100) % 1000;
    wave = wave < 500 ? wave : 1000 - wave;
    int r = 250 - 90 * fy / 1000, g = 115 + 80 * fy / 1000 + wave / 10, b = 70 + 170 * fy / 1000;
    for (int f = 0; f < 2; f++)
    {
      const int dx = fx - (300 + 400 * f), dy = fy - (350 + 100 * f);
      const int d2 = dx * dx + dy * dy * 6 / 10;
      if (d2 < 20000)
      {
        const int shade = 1000 - 8 * d2 / 1000;
        r = 225 * shade / 1000 + 20, g = 170 * shade / 1000 + 10, b = 140 * shade / 1000 + 5;
      }
    }
    if (fy > 700)
    {
      const int blade = (int)(Hash(x / 2, y / 7, shape.seed) % 90);
      r = 30 + blade / 2, g = 90 + blade, b = 20 + blade / 3;
    }
    if (fy > 550 && fy < 680)
    {
      const int *c = kPatch[fx * 6 / 1000 % 6];
      r = c[0], g = c[1], b = c[2];
    }
    if (fx > 900 && fy < 500)
      r = g = b = (x + y / 3) % 3 == 0 ? 0 : 255;
    rgb[0] = (unsigned char)std::clamp(r + noise, 0, 255);
    rgb[1] = (unsigned char)std::clamp(g + noise, 0, 255);
    rgb[2] = (unsigned char)std::clamp(b + noise, 0, 255);
  });
}

TEST(PinnedOutput, JobsKeepTheirDigests)
{
  TempDir dir;
  std::map<uint32_t, RasterPage> pages;
  for (const PageShape &shape : {kSmall, kLarge})
    pages.emplace(shape.seed, PhotoLikePage(shape));

  const bool record = getenv("KELVO_RECORD_DIGESTS") != nullptr;
  for (const PinnedJob &job : kJobs)
  {
    const std::string ras = dir.File(std::string(job.name) + ".ras");
    std::vector<RasterPage> input;
    for (const PageShape &shape : job.pages)
      input.push_back(pages.at(shape.seed));
    WriteRaster(ras, input);
    for (int level = kVectorPortable; level <= ProcessorVectorLevel(); level++)
    {
      SCOPED_TRACE(std::string(job.name) + " at vector level " + std::to_string(level));
      const FilterResult r =
          RunFilter({.options = job.options, .file = ras, .ppd = KELVO_PPD_PATH,
                     .env = {std::string("KELVO_VECTOR_LEVEL=") + VectorLevelName(level),
                             std::string("KELVO_THREADS=") + job.threads}});
      ASSERT_EQ(r.status, 0) << r.err;
      EXPECT_EQ(LinesWith(r.err, "ERROR:"), std::vector<std::string>{});
      ASSERT_EQ(SplitPages(r.out).size(), job.pages.size());
      const std::string digest = Sha256Hex(r.out);
      EXPECT_EQ(digest, job.digest) << "the printed bytes of " << job.name << " changed";
      if (record && level == kVectorPortable)
        printf("    {\"%s\", \"%s\"},\n", job.name, digest.c_str());
    }
  }
}

}  // namespace
