// Colour correction: building the per-page colour table (tone curves for
// brightness, contrast and colour balance, and the saturation table) and
// passing each row of the page through it.
#include "color_correction.h"

#include "direct_map.h"
#include "page_buffers.h"

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

void ColorCorrection(unsigned char *lpdt, int width, unsigned char *colortable, int bTableRet,
                     unsigned char *DmapTbl)
{
  for (int x = 0; x < width; x++, lpdt += 3)
  {
    const int rdat = lpdt[0], gdat = lpdt[1], bdat = lpdt[2];

    // Push each channel away from (or, for a negative saturation, toward)
    // the half-sum of the other two.  The index stays within 1..511.
    const int btmp = bdat + GetSaturation(colortable, 256 + bdat - ((gdat + rdat) >> 1));
    const int gtmp = gdat + GetSaturation(colortable, 256 + gdat - ((bdat + rdat) >> 1));
    const int rtmp = rdat + GetSaturation(colortable, 256 + rdat - ((bdat + gdat) >> 1));

    // The curves are stored blue, green, red.
    lpdt[2] = colortable[ClampByte(btmp)];
    lpdt[1] = colortable[256 + ClampByte(gtmp)];
    lpdt[0] = colortable[512 + ClampByte(rtmp)];

    if (bTableRet)
      Change3D(DmapTbl, &lpdt[0], &lpdt[1], &lpdt[2]);
  }
}

void ColorCorrectPage(unsigned char *page, int width, int height, unsigned char *colortable, int bTableRet,
                      unsigned char *DmapTbl)
{
  for (int y = 0; y < height; y++)
    ColorCorrection(page + (size_t)y * 3 * width, width, colortable, bTableRet, DmapTbl);
}
