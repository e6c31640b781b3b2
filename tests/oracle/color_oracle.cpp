// The straightforward colour correction and direct map: one pixel at a time
// through the colour table, then through the 3-D table.
#include "oracle/oracle.h"

#include "page_buffers.h"

#include <cstdint>
#include <cstring>

namespace {

const int kClrSaTableOffset = 768;

void PutSaturation(unsigned char *colortable, int index, int value)
{
  const int16_t v = (int16_t)value;
  memcpy(colortable + kClrSaTableOffset + 2 * index, &v, sizeof v);
}

int GetSaturation(const unsigned char *colortable, int index)
{
  int16_t v;
  memcpy(&v, colortable + kClrSaTableOffset + 2 * index, sizeof v);
  return v;
}

}  // namespace

void OracleBuildColorTable(unsigned char *colortable, int bdat, int gdat, int rdat, int contrast,
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

void OracleColorCorrection(unsigned char *lpdt, int width, unsigned char *colortable, int bTableRet,
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
      OracleChange3D(DmapTbl, &lpdt[0], &lpdt[1], &lpdt[2]);
  }
}

// Byte offsets of the cell corners from C(0,0,0): blue steps 3, green 27,
// red 243.
namespace {

enum
{
  kC001 = 3,
  kC010 = 27,
  kC011 = 30,
  kC100 = 243,
  kC101 = 246,
  kC110 = 270,
  kC111 = 273,
};

}  // namespace

int OracleChange3D(unsigned char *DmapTbl, unsigned char *Red, unsigned char *Green, unsigned char *Blue)
{
  const int R = *Red, G = *Green, B = *Blue;

  const int i1 = B >> 5, i2 = G >> 5, i3 = R >> 5;
  // A fraction that is not 0 counts one more, so that 32 * k + 31 lands
  // with the full weight 32 on grid index k + 1 (and 255 on index 8).
  int w1 = B & 31, w2 = G & 31, w3 = R & 31;
  if (w1 != 0)
    w1++;
  if (w2 != 0)
    w2++;
  if (w3 != 0)
    w3++;

  const unsigned char *c000 = DmapTbl + i3 * 243 + i2 * 27 + i1 * 3;

  // The tetrahedron runs from C(0,0,0) to C(1,1,1) along the axis of the
  // largest fraction, then the middle one, then the smallest.  o1 and o2 are
  // the offsets of its two inner corners; k0..k3 weigh C(0,0,0), the inner
  // corners and C(1,1,1), and always add up to 32.
  int o1, o2, k0, k1, k2, k3;
  if (w1 >= w2 && w2 >= w3)
  {  // case 1: blue, green, red
    o1 = kC001; o2 = kC011;
    k0 = 32 - w1; k1 = w1 - w2; k2 = w2 - w3; k3 = w3;
  }
  else if (w1 >= w3 && w2 < w3)
  {  // case 2: blue, red, green
    o1 = kC001; o2 = kC101;
    k0 = 32 - w1; k1 = w1 - w3; k2 = w3 - w2; k3 = w2;
  }
  else if (w1 < w3 && w1 >= w2)
  {  // case 3: red, blue, green
    o1 = kC100; o2 = kC101;
    k0 = 32 - w3; k1 = w3 - w1; k2 = w1 - w2; k3 = w2;
  }
  else if (w2 > w3 && w1 > w3)
  {  // case 6: green, blue, red
    o1 = kC010; o2 = kC011;
    k0 = 32 - w2; k1 = w2 - w1; k2 = w1 - w3; k3 = w3;
  }
  else if (w2 > w3)
  {  // case 5: green, red, blue
    o1 = kC010; o2 = kC110;
    k0 = 32 - w2; k1 = w2 - w3; k2 = w3 - w1; k3 = w1;
  }
  else
  {  // case 4: red, green, blue
    o1 = kC100; o2 = kC110;
    k0 = 32 - w3; k1 = w3 - w2; k2 = w2 - w1; k3 = w1;
  }

  const unsigned char *c1 = c000 + o1, *c2 = c000 + o2, *c111 = c000 + kC111;
  const int dt1 = c000[0] * k0 + c1[0] * k1 + c2[0] * k2 + c111[0] * k3;
  const int dt2 = c000[1] * k0 + c1[1] * k1 + c2[1] * k2 + c111[1] * k3;
  const int dt3 = c000[2] * k0 + c1[2] * k1 + c2[2] * k2 + c111[2] * k3;

  *Red = (unsigned char)(dt1 >> 5);
  *Green = (unsigned char)(dt2 >> 5);
  *Blue = (unsigned char)(dt3 >> 5);
  return 1;
}
