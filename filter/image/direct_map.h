// Direct-map colour table: a 9 x 9 x 9 grid of output colours over the RGB
// cube, applied by tetrahedral interpolation.
#pragma once

// 9 x 9 x 9 entries of (red, green, blue); red is the slowest axis.
constexpr long kDmapTblBytes = 2187;

extern const unsigned char HVX_DmapTbl_A4_Normal[kDmapTblBytes];
extern const unsigned char HVX_DmapTbl_A4_Soft[kDmapTblBytes];

// Copy dwReadSize bytes of the built-in table of the print mode (0 soft,
// anything else normal) into DmapTbl.  Returns 1.
int InitDmapTbl(unsigned char *DmapTbl, long dwReadSize, int iGammaMode);

// Map one pixel in place through the loaded table.  Returns 1.
int Change3D(unsigned char *DmapTbl, unsigned char *Red, unsigned char *Green, unsigned char *Blue);
