// Colour correction (not yet implemented: the page passes unchanged).
#include "color_correction.h"

void BuildColorTable(unsigned char *colortable, int bdat, int gdat, int rdat, int contrast,
                     int stp_saturation)
{
  (void)colortable; (void)bdat; (void)gdat; (void)rdat; (void)contrast; (void)stp_saturation;
}

void ColorCorrection(unsigned char *lpdt, int width, unsigned char *colortable, int bTableRet,
                     unsigned char *DmapTbl)
{
  (void)lpdt; (void)width; (void)colortable; (void)bTableRet; (void)DmapTbl;
}
