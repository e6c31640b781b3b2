// Colour correction: the per-page colour table (three tone curves and the
// saturation table) and its application to a row of pixels.
#pragma once

// Size of the colour table: blue, green and red curves of 256 bytes each,
// then clrsatable, 512 signed 16-bit entries in native byte order.
constexpr int kColorTableBytes = 1792;

// Fill the zero-filled colour table from the job's derived values (the
// channel offsets and contrast = h = 5 * stp_contrast) and the saturation in
// force (-10 when Monochrome is on).  Entry 0 of clrsatable keeps its fill.
void BuildColorTable(unsigned char *colortable, int bdat, int gdat, int rdat, int contrast,
                     int stp_saturation);

// Correct width pixels (3 bytes each, red first) at lpdt in place; when
// bTableRet is non-zero each pixel then goes through the direct-map table.
// A width of 0 or less changes nothing.
void ColorCorrection(unsigned char *lpdt, int width, unsigned char *colortable, int bTableRet,
                     unsigned char *DmapTbl);

// True when the table changes no pixel: straight curves and no saturation.
bool IsNeutralColorTable(const unsigned char *colortable);

// Correct a whole page of width x height pixels in place, as ColorCorrection
// row by row, with the rows spread over the stage threads.
void ColorCorrectPage(unsigned char *page, int width, int height, unsigned char *colortable, int bTableRet,
                      unsigned char *DmapTbl);
