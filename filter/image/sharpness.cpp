// Sharpening (not yet implemented: the picture is left as it is).
#include "sharpness.h"

int PicytureSharpness(int biWidth, int biHeight, unsigned char *lpBits, int bSharpness)
{
  (void)biWidth; (void)biHeight; (void)lpBits; (void)bSharpness;
  return 0;
}
