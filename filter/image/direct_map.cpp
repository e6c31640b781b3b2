// Direct-map colour table (not yet implemented: pixels pass unchanged).
#include "direct_map.h"

int InitDmapTbl(unsigned char *DmapTbl, long dwReadSize, int iGammaMode)
{
  (void)DmapTbl; (void)dwReadSize; (void)iGammaMode;
  return 1;
}

int Change3D(unsigned char *DmapTbl, unsigned char *Red, unsigned char *Green, unsigned char *Blue)
{
  (void)DmapTbl; (void)Red; (void)Green; (void)Blue;
  return 1;
}
