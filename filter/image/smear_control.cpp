// Smear control (not yet implemented: the page is split into its planes,
// plane 0 from blue, 1 from green, 2 from red).
#include "smear_control.h"

#include <cstddef>
#include <cstring>

int GetSmearlut(unsigned char *hotlut, int iGammaMode)
{
  (void)iGammaMode;
  memset(hotlut, 0, kSmearLutBytes);
  return 1;
}

int SmearControl(unsigned char *pSrcBitmap, unsigned int biWidth, unsigned int biHeight,
                 unsigned char *lpToneCurve, unsigned char *pSendData)
{
  (void)lpToneCurve;
  size_t plane = (size_t)biWidth * biHeight;
  for (size_t p = 0; p < plane; p++)
  {
    pSendData[p] = pSrcBitmap[3 * p + 2];
    pSendData[plane + p] = pSrcBitmap[3 * p + 1];
    pSendData[2 * plane + p] = pSrcBitmap[3 * p];
  }
  return 0;
}
