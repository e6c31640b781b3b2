// Per-stage benchmarks on the photo-like 1800 x 2504 page: every heavy
// stage of the filter next to its straightforward version (tests/oracle).
// Names are Stage/filter and Stage/oracle; run_stage_bench.sh prints the
// ratios.  KELVO_VECTOR_LEVEL and KELVO_THREADS choose the filter's stage
// versions and threads as they do for the filter.
#include "image/color_correction.h"
#include "image/direct_map.h"
#include "image/parallel.h"
#include "image/resize.h"
#include "image/sharpness.h"
#include "image/smear_control.h"
#include "image/vector_level.h"
#include "oracle/oracle.h"
#include "photo_page.h"
#include "random/mt19937ar.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <string>
#include <vector>

#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace {

using Bytes = std::vector<unsigned char>;

const Bytes &Photo()
{
  static const Bytes page = PhotoPage(kBenchWidth, kBenchHeight);
  return page;
}

// Runs op on a fresh copy of the photo for every iteration; the copy is not
// timed.
template <class Op> void OnPage(benchmark::State &state, Op op)
{
  Bytes work(Photo().size());
  for (auto _ : state)
  {
    state.PauseTiming();
    memcpy(work.data(), Photo().data(), work.size());
    state.ResumeTiming();
    op(work.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed((int64_t)state.iterations() * (int64_t)Photo().size());
}

constexpr int W = kBenchWidth, H = kBenchHeight;

struct Tables
{
  unsigned char colortable[kColorTableBytes] = {};
  unsigned char dmap[kDmapTblBytes] = {};
  // Identity curves (the default job) or saturation 3 and contrast 2.
  explicit Tables(bool neutral)
  {
    if (neutral)
      BuildColorTable(colortable, 0, 0, 0, 0, 0);
    else
      BuildColorTable(colortable, 0, 0, 0, 10, 3);
    InitDmapTbl(dmap, kDmapTblBytes, 1);
  }
};

void ColourDefault_filter(benchmark::State &s)
{
  Tables t(true);
  OnPage(s, [&](unsigned char *p) { ColorCorrectPage(p, W, H, t.colortable, 0, t.dmap); });
}
void ColourDefault_oracle(benchmark::State &s)
{
  Tables t(true);
  OnPage(s, [&](unsigned char *p) {
    for (int y = 0; y < H; y++)
      OracleColorCorrection(p + 3 * (size_t)y * W, W, t.colortable, 0, t.dmap);
  });
}
void Colour_filter(benchmark::State &s)
{
  Tables t(false);
  OnPage(s, [&](unsigned char *p) { ColorCorrectPage(p, W, H, t.colortable, 0, t.dmap); });
}
void Colour_oracle(benchmark::State &s)
{
  Tables t(false);
  OnPage(s, [&](unsigned char *p) {
    for (int y = 0; y < H; y++)
      OracleColorCorrection(p + 3 * (size_t)y * W, W, t.colortable, 0, t.dmap);
  });
}
void DirectMap_filter(benchmark::State &s)
{
  Tables t(false);
  OnPage(s, [&](unsigned char *p) { ColorCorrectPage(p, W, H, t.colortable, 1, t.dmap); });
}
void DirectMap_oracle(benchmark::State &s)
{
  Tables t(false);
  OnPage(s, [&](unsigned char *p) {
    for (int y = 0; y < H; y++)
      OracleColorCorrection(p + 3 * (size_t)y * W, W, t.colortable, 1, t.dmap);
  });
}
// The direct map alone: a neutral colour table, so the filter runs only
// the direct map, and the oracle maps one pixel after another.
void DirectMapOnly_filter(benchmark::State &s)
{
  Tables t(true);
  OnPage(s, [&](unsigned char *p) { ColorCorrectPage(p, W, H, t.colortable, 1, t.dmap); });
}
void DirectMapOnly_oracle(benchmark::State &s)
{
  Tables t(true);
  OnPage(s, [&](unsigned char *p) {
    const size_t bytes = 3 * (size_t)W * H;
    for (size_t n = 0; n < bytes; n += 3)
      OracleChange3D(t.dmap, p + n, p + n + 1, p + n + 2);
  });
}
void ResizeUp_filter(benchmark::State &s) { OnPage(s, [](unsigned char *p) { ResizePicture(p, W, H, 10, 10); }); }
void ResizeUp_oracle(benchmark::State &s) { OnPage(s, [](unsigned char *p) { OracleResizePicture(p, W, H, 10, 10); }); }
void ResizeDown_filter(benchmark::State &s)
{
  OnPage(s, [](unsigned char *p) { ResizePictureAverage(p, W, H, -10, -10); });
}
void ResizeDown_oracle(benchmark::State &s)
{
  OnPage(s, [](unsigned char *p) { OracleResizePictureAverage(p, W, H, -10, -10); });
}
void Sharpen_filter(benchmark::State &s)
{
  const int level = (int)s.range(0);
  OnPage(s, [level](unsigned char *p) { PicytureSharpness(W, H, p, level); });
}
void Sharpen_oracle(benchmark::State &s)
{
  const int level = (int)s.range(0);
  OnPage(s, [level](unsigned char *p) { OraclePicytureSharpness(W, H, p, level); });
}
void Smear_filter(benchmark::State &s)
{
  unsigned char lut[kSmearLutBytes];
  GetSmearlut(lut, 1);
  Bytes out(Photo().size());
  OnPage(s, [&](unsigned char *p) { SmearControl(p, W, H, lut, out.data()); });
}
void Smear_oracle(benchmark::State &s)
{
  unsigned char lut[kSmearLutBytes];
  OracleGetSmearlut(lut, 1);
  Bytes out(Photo().size());
  OnPage(s, [&](unsigned char *p) { OracleSmearControl(p, W, H, lut, out.data()); });
}
// The numbers one page's smear control draws.
void Generator_filter(benchmark::State &s)
{
  const uint32_t key[4] = {0x123, 0x234, 0x345, 0x456};
  std::vector<uint32_t> block(3 * (size_t)W);
  for (auto _ : s)
  {
    init_by_array(key, 4);
    for (int y = 1; y < H; y++)
      genrand_block(block.data(), block.size());
    benchmark::DoNotOptimize(block.data());
  }
}
void Generator_oracle(benchmark::State &s)
{
  const uint32_t key[4] = {0x123, 0x234, 0x345, 0x456};
  std::vector<uint32_t> block(3 * (size_t)W);
  for (auto _ : s)
  {
    OracleInitByArray(key, 4);
    for (int y = 1; y < H; y++)
      for (uint32_t &v : block)
        v = OracleGenrandInt32();
    benchmark::DoNotOptimize(block.data());
  }
}

#define STAGE(name) BENCHMARK(name)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(0.5)
STAGE(ColourDefault_filter);
STAGE(ColourDefault_oracle);
STAGE(Colour_filter);
STAGE(Colour_oracle);
STAGE(DirectMap_filter);
STAGE(DirectMap_oracle);
STAGE(DirectMapOnly_filter);
STAGE(DirectMapOnly_oracle);
STAGE(ResizeUp_filter);
STAGE(ResizeUp_oracle);
STAGE(ResizeDown_filter);
STAGE(ResizeDown_oracle);
STAGE(Sharpen_filter)->Arg(0)->Arg(2);
STAGE(Sharpen_oracle)->Arg(0)->Arg(2);
STAGE(Smear_filter);
STAGE(Smear_oracle);
STAGE(Generator_filter);
STAGE(Generator_oracle);

}  // namespace

// The filter keeps freed page-sized blocks on its heap (KeepPageMemory in
// page.cpp), so a stage's whole-page scratch comes from memory already
// mapped; run the stages, the filter's and the oracle's alike, the same way
// rather than paying fresh page faults on every iteration.
int main(int argc, char **argv)
{
#ifdef __GLIBC__
  mallopt(M_MMAP_THRESHOLD, 32 << 20);
  mallopt(M_TRIM_THRESHOLD, 256 << 20);
#endif
  benchmark::AddCustomContext("vector_level", VectorLevelName(StageVectorLevel()));
  benchmark::AddCustomContext("processor_level", VectorLevelName(ProcessorVectorLevel()));
  benchmark::AddCustomContext("stage_threads", std::to_string(StageThreads()));
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv))
    return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
