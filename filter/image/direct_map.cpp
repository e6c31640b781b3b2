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
}

// A row is mapped in runs of kRun pixels, in two passes.  The first works
// out every pixel's tetrahedron (its corners' entries and its weights) in
// the narrowest types that hold them, in loops without branches or
// look-ups, which the compiler vectorises; the second looks up the
// corners, which cannot vectorise without gathers, and weighs them.
//
// The tetrahedron of Change3D runs along the axis of the largest fraction,
// then the middle one: its inner corners are the largest axis, and all
// axes but the smallest.  Its weights are 32 - a, a - b, b - c and c for
// the fractions sorted a >= b >= c.  Where fractions tie, Change3D's choice
// among the tied axes only moves a corner whose weight is 0, so any choice
// gives its bytes; these are picked without branches.
namespace {

constexpr int kRun = 64;

struct Tetrahedra
{
  uint16_t c000[kRun], c1[kRun], c2[kRun];  // entries of three corners (C(1,1,1) is c000 + 91)
  uint8_t a[kRun], b[kRun], c[kRun];       // the fractions sorted, a >= b >= c
};

void FindTetrahedra(const unsigned char *__restrict red, const unsigned char *__restrict green,
                    const unsigned char *__restrict blue, int n, Tetrahedra &__restrict t)
{
  for (int i = 0; i < n; i++)
  {
    const uint8_t r = red[i], g = green[i], bl = blue[i];
    const uint8_t fr = r & 31, fg = g & 31, fb = bl & 31;
    const uint8_t wr = (uint8_t)(fr + (fr != 0)), wg = (uint8_t)(fg + (fg != 0)), wb = (uint8_t)(fb + (fb != 0));
    const uint8_t hi = wb > wg ? wb : wg, lo = wb < wg ? wb : wg;
    const uint8_t a = hi > wr ? hi : wr, c = lo < wr ? lo : wr;
    const uint8_t b = (uint8_t)(wb + wg + wr - a - c);
    const uint16_t base = (uint16_t)((r >> 5) * PackedDmapTbl::kStepR + (g >> 5) * PackedDmapTbl::kStepG + (bl >> 5));
    const uint16_t o1 = wb == a ? PackedDmapTbl::kStepB : wg == a ? PackedDmapTbl::kStepG : PackedDmapTbl::kStepR;
    const uint16_t s2 = wb == c ? PackedDmapTbl::kStepB : wg == c ? PackedDmapTbl::kStepG : PackedDmapTbl::kStepR;
    t.c000[i] = base;
    t.c1[i] = (uint16_t)(base + o1);
    t.c2[i] = (uint16_t)(base + PackedDmapTbl::kStepAll - s2);
    t.a[i] = a;
    t.b[i] = b;
    t.c[i] = c;
  }
}

// Pixels 0..n-1 (n at most kRun) of the planes into out, red first.
void MapRun(const PackedDmapTbl &packed, const unsigned char *red, const unsigned char *green,
            const unsigned char *blue, int n, unsigned char *out)
{
  Tetrahedra t;
  FindTetrahedra(red, green, blue, n, t);
  const uint64_t *v = packed.v;
  for (int i = 0; i < n; i++)
  {
    // The three channels at once: each 16-bit field sums at most 32 * 255,
    // so no field carries into the next.
    const uint64_t a = t.a[i], b = t.b[i], c = t.c[i];
    const uint64_t sum = v[t.c000[i]] * (32 - a) + v[t.c1[i]] * (a - b) + v[t.c2[i]] * (b - c) +
                         v[t.c000[i] + PackedDmapTbl::kStepAll] * c;
    out[3 * i] = (unsigned char)((sum & 0xFFFF) >> 5);
    out[3 * i + 1] = (unsigned char)((sum >> 16 & 0xFFFF) >> 5);
    out[3 * i + 2] = (unsigned char)((sum >> 32 & 0xFFFF) >> 5);
  }
}

}  // namespace

void Change3DPlanes(const PackedDmapTbl &packed, const unsigned char *red, const unsigned char *green,
                    const unsigned char *blue, int width, unsigned char *out)
{
  for (int x = 0; x < width; x += kRun)
    MapRun(packed, red + x, green + x, blue + x, width - x < kRun ? width - x : kRun, out + 3 * (size_t)x);
}

void Change3DRow(const PackedDmapTbl &packed, unsigned char *row, int width)
{
  // The channels apart first: x86-64's baseline SIMD (SSE2) has no byte
  // shuffle to take every third byte, so FindTetrahedra could not
  // vectorise there if it read the pixels (ARM's NEON loads them apart).
  unsigned char red[kRun], green[kRun], blue[kRun];
  for (int x = 0; x < width; x += kRun)
  {
    const int n = width - x < kRun ? width - x : kRun;
    unsigned char *pixels = row + 3 * (size_t)x;
    for (int i = 0; i < n; i++)
    {
      red[i] = pixels[3 * i];
      green[i] = pixels[3 * i + 1];
      blue[i] = pixels[3 * i + 2];
    }
    MapRun(packed, red, green, blue, n, pixels);
  }
}
