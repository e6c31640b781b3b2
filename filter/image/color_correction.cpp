// Colour correction: building the per-page colour table (tone curves for
// brightness, contrast and colour balance, and the saturation table) and
// passing each row of the page through it.
#include "color_correction.h"

#include "direct_map.h"
#include "page_buffers.h"
#include "parallel.h"

#include <cstdint>
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

// The colour table's curves and saturation of one pixel after another,
// then the row through the direct map when dmap is given.
void CorrectRow(unsigned char *lpdt, int width, const unsigned char *colortable, const PackedDmapTbl *dmap)
{
  // The saturation table as ints, for the loop below.
  int16_t sat[512];
  memcpy(sat, colortable + kClrSaTableOffset, sizeof sat);
  const unsigned char *curveB = colortable, *curveG = colortable + 256, *curveR = colortable + 512;
  unsigned char *p = lpdt;
  for (int x = 0; x < width; x++, p += 3)
  {
    const int rdat = p[0], gdat = p[1], bdat = p[2];

    // Push each channel away from (or, for a negative saturation, toward)
    // the half-sum of the other two.  The index stays within 1..511.
    const int btmp = bdat + sat[256 + bdat - ((gdat + rdat) >> 1)];
    const int gtmp = gdat + sat[256 + gdat - ((bdat + rdat) >> 1)];
    const int rtmp = rdat + sat[256 + rdat - ((bdat + gdat) >> 1)];

    // The curves are stored blue, green, red.
    p[2] = curveB[ClampByte(btmp)];
    p[1] = curveG[ClampByte(gtmp)];
    p[0] = curveR[ClampByte(rtmp)];
  }
  if (dmap)
    Change3DRow(*dmap, lpdt, width);
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
  if (!bTableRet)
  {
    CorrectRow(lpdt, width, colortable, nullptr);
    return;
  }
  PackedDmapTbl packed;
  PackDmapTbl(DmapTbl, &packed);
  CorrectRow(lpdt, width, colortable, &packed);
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
  const size_t rowBytes = 3 * (size_t)width;
  ParallelRows(height, 16, [&](int begin, int end) {
    for (int y = begin; y < end; y++)
    {
      unsigned char *row = page + (size_t)y * rowBytes;
      if (neutral)
        Change3DRow(packed, row, width);
      else
        CorrectRow(row, width, colortable, bTableRet ? &packed : nullptr);
    }
  });
}
