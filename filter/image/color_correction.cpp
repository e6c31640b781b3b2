// Colour correction: building the per-page colour table (tone curves for
// brightness, contrast and colour balance, and the saturation table) and
// passing each row of the page through it.  The versions built for AVX2
// and AVX-512 are in color_correction_avx2.cpp and
// color_correction_avx512.cpp.
#include "color_correction.h"

#include "color_correction_rows.h"
#include "direct_map.h"
#include "page_buffers.h"
#include "parallel.h"
#include "vector_level.h"

#include <cstdint>
#include <algorithm>
#include <cstring>


// clrsatable: 512 signed 16-bit entries in native byte order from byte 768.
// They are copied in and out so that the byte buffer needs no alignment.
static const int kClrSaTableOffset = 768;

static void PutSaturation(unsigned char *colortable, int index, int value)
{
  const int16_t v = (int16_t)value;
  memcpy(colortable + kClrSaTableOffset + 2 * index, &v, sizeof v);
}

static int GetSaturation(const unsigned char *colortable, int index)
{
  int16_t v;
  memcpy(&v, colortable + kClrSaTableOffset + 2 * index, sizeof v);
  return v;
}

void BuildColorTable(unsigned char *colortable, int bdat, int gdat, int rdat, int contrast,
                     int stp_saturation)
{
  const int h = contrast;
  for (int n = 0; n < 256; n++)
  {
    const int t = (n * stp_saturation) / 15;
    PutSaturation(colortable, 256 + n, t);
    PutSaturation(colortable, 256 - n, -t);

    // The straight line through (h, 0) and (128, 128); the divisor is never
    // zero because 128 is not a multiple of 5.
    const int temp = (128 * n - 128 * h) / (128 - h);
    colortable[n] = ClampByte(bdat + temp);
    colortable[256 + n] = ClampByte(gdat + temp);
    colortable[512 + n] = ClampByte(rdat + temp);
  }
}

namespace {

using colour::RowJob;

// The colour table's curves and saturation of pixel after pixel, into
// put(x, red, green, blue).  With kWide the curves of job.wide, which
// clamp, are looked up directly.
template <bool kWide, class Put> inline void CorrectPixels(const RowJob &job, const unsigned char *pixels, int n, Put put)
{
  const int32_t *sat = job.sat;
  const unsigned char *colortable = job.colortable;
  const unsigned char *curveB = colortable, *curveG = colortable + 256, *curveR = colortable + 512;
  const unsigned char *wideB = job.wide[0] + 256, *wideG = job.wide[1] + 256, *wideR = job.wide[2] + 256;
  const unsigned char *p = pixels;
  for (int x = 0; x < n; x++, p += 3)
  {
    const int rdat = p[0], gdat = p[1], bdat = p[2];

    // Push each channel away from (or, for a negative saturation, toward)
    // the half-sum of the other two.  The index stays within 1..511.
    const int btmp = bdat + sat[256 + bdat - ((gdat + rdat) >> 1)];
    const int gtmp = gdat + sat[256 + gdat - ((bdat + rdat) >> 1)];
    const int rtmp = rdat + sat[256 + rdat - ((bdat + gdat) >> 1)];

    // The curves are stored blue, green, red.
    if constexpr (kWide)
      put(x, wideR[rtmp], wideG[gtmp], wideB[btmp]);
    else
      put(x, curveR[ClampByte(rtmp)], curveG[ClampByte(gtmp)], curveB[ClampByte(btmp)]);
  }
}

// Colour correction of a row in place, then the direct map when job.dmap
// is given: runs of pixels are corrected into planes, the form the direct
// map takes them in.
template <bool kWide> void CorrectRow(const RowJob &job, unsigned char *lpdt, int width)
{
  if (!job.dmap)
  {
    CorrectPixels<kWide>(job, lpdt, width, [lpdt](int x, unsigned char r, unsigned char g, unsigned char b) {
      lpdt[3 * x] = r, lpdt[3 * x + 1] = g, lpdt[3 * x + 2] = b;
    });
    return;
  }
  constexpr int kRun = 256;
  unsigned char red[kRun], green[kRun], blue[kRun];
  for (int x = 0; x < width; x += kRun)
  {
    const int n = width - x < kRun ? width - x : kRun;
    unsigned char *pixels = lpdt + 3 * (size_t)x;
    CorrectPixels<kWide>(job, pixels, n, [&](int i, unsigned char r, unsigned char g, unsigned char b) {
      red[i] = r, green[i] = g, blue[i] = b;
    });
    Change3DPlanes(*job.dmap, red, green, blue, n, pixels);
  }
}

void PrepareRowJob(RowJob &job, const unsigned char *colortable, const PackedDmapTbl *dmap)
{
  job.colortable = colortable;
  job.dmap = dmap;
  job.hasWide = false;
  if (colortable)
  {
    int16_t sat[512];
    memcpy(sat, colortable + kClrSaTableOffset, sizeof sat);
    job.hasWide = true;
    for (int n = 0; n < 512; n++)
    {
      job.sat[n] = sat[n];
      job.hasWide = job.hasWide && sat[n] >= -256 && sat[n] <= 256;
    }
    for (int c = 0; c < 3; c++)
    {
      for (int n = 0; n < 256; n++)
        job.curve[c][n] = colortable[256 * c + n];
      for (int v = -256; v < 512; v++)
        job.wide[c][256 + v] = colortable[256 * c + ClampByte(v)];
    }
  }
}

void RowPortable(const RowJob &job, unsigned char *row, int width)
{
  if (job.colortable && job.hasWide)
    CorrectRow<true>(job, row, width);
  else if (job.colortable)
    CorrectRow<false>(job, row, width);
  else if (job.dmap)
    Change3DRow(*job.dmap, row, width);
}

typedef void (*RowFunction)(const RowJob &, unsigned char *, int);

RowFunction ChooseRow()
{
  // The portable version, AVX2 or AVX-512; all give the same bytes.
  const int version = StageVectorLevel();
#ifdef KELVO_COLOR_X86
  if (version >= kVectorAvx512)
    return colour::RowAvx512;
  if (version >= kVectorAvx2)
    return colour::RowAvx2;
#endif
  (void)version;
  return RowPortable;
}

}  // namespace

bool IsNeutralColorTable(const unsigned char *colortable)
{
  for (int n = 0; n < 256; n++)
    if (colortable[n] != n || colortable[256 + n] != n || colortable[512 + n] != n)
      return false;
  for (int n = 1; n < 512; n++)
    if (GetSaturation(colortable, n) != 0)
      return false;
  return true;
}

void ColorCorrection(unsigned char *lpdt, int width, unsigned char *colortable, int bTableRet,
                     unsigned char *DmapTbl)
{
  if (width <= 0)
    return;
  PackedDmapTbl packed;
  if (bTableRet)
    PackDmapTbl(DmapTbl, &packed);
  RowJob job;
  PrepareRowJob(job, colortable, bTableRet ? &packed : nullptr);
  ChooseRow()(job, lpdt, width);
}

void ColorCorrectPage(unsigned char *page, int width, int height, unsigned char *colortable, int bTableRet,
                      unsigned char *DmapTbl)
{
  if (width <= 0 || height <= 0)
    return;
  const bool neutral = IsNeutralColorTable(colortable);
  if (neutral && !bTableRet)
    return;
  PackedDmapTbl packed;
  if (bTableRet)
    PackDmapTbl(DmapTbl, &packed);
  RowJob job;
  PrepareRowJob(job, neutral ? nullptr : colortable, bTableRet ? &packed : nullptr);
  const RowFunction rowFunction = ChooseRow();
  const size_t rowBytes = 3 * (size_t)width;
  ParallelRows(height, 16, [&](int begin, int end) {
    for (int y = begin; y < end; y++)
      rowFunction(job, page + (size_t)y * rowBytes, width);
  });
}
