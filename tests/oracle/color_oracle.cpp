// The straightforward colour correction and direct map: one pixel at a time
// through the colour table, then through the 3-D table.
#include "oracle/oracle.h"

#include "page_buffers.h"

#include <algorithm>
#include <cstring>

static void PutSat(unsigned char *colortable, int i, int value)
{
  const int16_t v = (int16_t)value;
  memcpy(colortable + 768 + 2 * i, &v, 2);
}

static int Sat(const unsigned char *colortable, int i)
{
  int16_t v;
  memcpy(&v, colortable + 768 + 2 * i, 2);
  return v;
}

void OracleBuildColorTable(unsigned char *colortable, int bdat, int gdat, int rdat, int contrast, int stp_saturation)
{
  for (int n = 0; n < 256; n++)
  {
    PutSat(colortable, 256 + n, n * stp_saturation / 15);
    PutSat(colortable, 256 - n, -(n * stp_saturation / 15));
    // The line through (h, 0) and (128, 128); 128 is no multiple of 5.
    const int temp = (128 * n - 128 * contrast) / (128 - contrast);
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
    const int r = lpdt[0], g = lpdt[1], b = lpdt[2];
    // Each channel pushed away from the half-sum of the other two; the
    // curves are stored blue, green, red.
    lpdt[2] = colortable[ClampByte(b + Sat(colortable, 256 + b - ((g + r) >> 1)))];
    lpdt[1] = colortable[256 + ClampByte(g + Sat(colortable, 256 + g - ((b + r) >> 1)))];
    lpdt[0] = colortable[512 + ClampByte(r + Sat(colortable, 256 + r - ((b + g) >> 1)))];
    if (bTableRet)
      OracleChange3D(DmapTbl, &lpdt[0], &lpdt[1], &lpdt[2]);
  }
}

int OracleChange3D(unsigned char *DmapTbl, unsigned char *Red, unsigned char *Green, unsigned char *Blue)
{
  // Grid index and weight along each axis; a fraction that is not 0 counts
  // one more, so that 32 * k + 31 lands on grid index k + 1.
  const int v[3] = {*Blue, *Green, *Red}, stride[3] = {3, 27, 243};
  int w[3], base = 0;
  for (int a = 0; a < 3; a++)
  {
    w[a] = (v[a] & 31) + ((v[a] & 31) != 0);
    base += (v[a] >> 5) * stride[a];
  }
  // The tetrahedron runs from C(0,0,0) to C(1,1,1) along the axis of the
  // largest weight, then the middle one.  Between tied axes the corner
  // passed has weight 0, so their order does not matter.
  int o[3] = {0, 1, 2};
  std::sort(o, o + 3, [&](int x, int y) { return w[x] > w[y]; });
  const unsigned char *c0 = DmapTbl + base, *c1 = c0 + stride[o[0]], *c2 = c1 + stride[o[1]], *c3 = c0 + 273;
  const int k0 = 32 - w[o[0]], k1 = w[o[0]] - w[o[1]], k2 = w[o[1]] - w[o[2]], k3 = w[o[2]];
  unsigned char *out[3] = {Red, Green, Blue};
  for (int c = 0; c < 3; c++)
    *out[c] = (unsigned char)((c0[c] * k0 + c1[c] * k1 + c2[c] * k2 + c3[c] * k3) >> 5);
  return 1;
}
