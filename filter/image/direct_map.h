// Direct-map colour table: a 9 x 9 x 9 grid of output colours over the RGB
// cube, applied by tetrahedral interpolation.
#pragma once

#include <cstdint>

// 9 x 9 x 9 entries of (red, green, blue); red is the slowest axis.
constexpr long kDmapTblBytes = 2187;

extern const unsigned char HVX_DmapTbl_A4_Normal[kDmapTblBytes];
extern const unsigned char HVX_DmapTbl_A4_Soft[kDmapTblBytes];

// Copy dwReadSize bytes of the built-in table of the print mode (0 soft,
// anything else normal) into DmapTbl.  Returns 1.
int InitDmapTbl(unsigned char *DmapTbl, long dwReadSize, int iGammaMode);

// Map one pixel in place through the loaded table.  Returns 1.
int Change3D(unsigned char *DmapTbl, unsigned char *Red, unsigned char *Green, unsigned char *Blue);

// The loaded table with each entry's three bytes in 16-bit fields of one
// word, for mapping whole rows, and per channel value its grid step
// (bits 8 up, in entries) and its weight (bits 0..7) along each axis.
struct PackedDmapTbl
{
  static constexpr int kStepB = 1, kStepG = 9, kStepR = 81, kStepAll = 91;
  uint64_t v[729];
  uint32_t axis[3][256];  // red, green, blue
  // The entries again as red | green << 8 | blue << 16, for the vector
  // code's 32-bit gathers.
  uint32_t rgb[729];
};

void PackDmapTbl(const unsigned char *DmapTbl, PackedDmapTbl *packed);

// Map one pixel (red, green, blue) in place, as Change3D does.
inline void Change3DPacked(const PackedDmapTbl &t, unsigned char *pixel)
{
  const uint32_t ar = t.axis[0][pixel[0]], ag = t.axis[1][pixel[1]], ab = t.axis[2][pixel[2]];
  const int wr = (int)(ar & 0xFF), wg = (int)(ag & 0xFF), wb = (int)(ab & 0xFF);
  // The tetrahedron of Change3D runs along the axis of the largest
  // fraction, then the middle one: its inner corners are the largest axis,
  // and all axes but the smallest.  Its weights are 32 - a, a - b, b - c
  // and c for the fractions sorted a >= b >= c.  Where fractions tie,
  // Change3D's choice among the tied axes only moves a corner whose weight
  // is 0, so any choice gives its bytes; these are picked without branches.
  const int a = wb > wg ? (wb > wr ? wb : wr) : (wg > wr ? wg : wr);
  const int c = wb < wg ? (wb < wr ? wb : wr) : (wg < wr ? wg : wr);
  const int b = wb + wg + wr - a - c;
  const int o1 = wb == a ? t.kStepB : wg == a ? t.kStepG : t.kStepR;
  const int o2 = t.kStepAll - (wb == c ? t.kStepB : wg == c ? t.kStepG : t.kStepR);
  const uint64_t *c000 = t.v + ((ar >> 8) + (ag >> 8) + (ab >> 8));
  // The three channels at once: each 16-bit field sums at most 32 * 255,
  // so no field carries into the next.
  const uint64_t sum = c000[0] * (uint64_t)(32 - a) + c000[o1] * (uint64_t)(a - b) + c000[o2] * (uint64_t)(b - c) +
                       c000[t.kStepAll] * (uint64_t)c;
  pixel[0] = (unsigned char)((sum & 0xFFFF) >> 5);
  pixel[1] = (unsigned char)((sum >> 16 & 0xFFFF) >> 5);
  pixel[2] = (unsigned char)((sum >> 32 & 0xFFFF) >> 5);
}

// Map width pixels (3 bytes each, red first) in place, as Change3D does
// each of them.
void Change3DRow(const PackedDmapTbl &packed, unsigned char *row, int width);
