// Direct-map colour table: loading the print mode's built-in table and
// mapping a pixel through it by tetrahedral interpolation.
#include "direct_map.h"

#include <cstdint>
#include <cstring>

int InitDmapTbl(unsigned char *DmapTbl, long dwReadSize, int iGammaMode)
{
  const unsigned char *src = iGammaMode == 0 ? HVX_DmapTbl_A4_Soft : HVX_DmapTbl_A4_Normal;
  // Never read beyond the built-in table, whatever size is asked for.
  if (dwReadSize > kDmapTblBytes)
    dwReadSize = kDmapTblBytes;
  if (dwReadSize > 0)
    memcpy(DmapTbl, src, (size_t)dwReadSize);
  return 1;
}

// Byte offsets of the cell corners from C(0,0,0): blue steps 3, green 27,
// red 243.
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

int Change3D(unsigned char *DmapTbl, unsigned char *Red, unsigned char *Green, unsigned char *Blue)
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

void PackDmapTbl(const unsigned char *DmapTbl, PackedDmapTbl *packed)
{
  for (int n = 0; n < 729; n++)
  {
    packed->v[n] = (uint64_t)DmapTbl[3 * n] | (uint64_t)DmapTbl[3 * n + 1] << 16 | (uint64_t)DmapTbl[3 * n + 2] << 32;
    packed->rgb[n] = (uint32_t)DmapTbl[3 * n] | (uint32_t)DmapTbl[3 * n + 1] << 8 | (uint32_t)DmapTbl[3 * n + 2] << 16;
  }
  for (int v = 0; v < 256; v++)
  {
    const int w = (v & 31) + ((v & 31) != 0);
    packed->axis[0][v] = (uint32_t)((v >> 5) * PackedDmapTbl::kStepR) << 8 | (uint32_t)w;
    packed->axis[1][v] = (uint32_t)((v >> 5) * PackedDmapTbl::kStepG) << 8 | (uint32_t)w;
    packed->axis[2][v] = (uint32_t)((v >> 5) * PackedDmapTbl::kStepB) << 8 | (uint32_t)w;
  }
}

void Change3DRow(const PackedDmapTbl &packed, unsigned char *row, int width)
{
  for (int x = 0; x < width; x++, row += 3)
    Change3DPacked(packed, row);
}
