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
// word, for mapping whole rows: entry (r, g, b) of the grid is
// v[r * kStepR + g * kStepG + b * kStepB].
struct PackedDmapTbl
{
  static constexpr int kStepB = 1, kStepG = 9, kStepR = 81, kStepAll = 91;
  uint64_t v[729];
  // The entries again as red | green << 8 | blue << 16, for the vector
  // code's 32-bit gathers.
  uint32_t rgb[729];
};

void PackDmapTbl(const unsigned char *DmapTbl, PackedDmapTbl *packed);

// Map width pixels (3 bytes each, red first) in place, as Change3D does
// each of them.
void Change3DRow(const PackedDmapTbl &packed, unsigned char *row, int width);

// The same for width pixels given as three planes of bytes, into out (3
// bytes a pixel, red first).
void Change3DPlanes(const PackedDmapTbl &packed, const unsigned char *red, const unsigned char *green,
                    const unsigned char *blue, int width, unsigned char *out);
