// Resizing (not yet implemented: the picture is left as it is).
#include "resize.h"

int ResizePicture(unsigned char *pSrcBitmap, int biWidth, int biHeight, int iMagnificationX,
                  int iMagnificationY)
{
  (void)pSrcBitmap; (void)biWidth; (void)biHeight; (void)iMagnificationX; (void)iMagnificationY;
  return 0;
}

int ResizePictureAverage(unsigned char *pSrcBitmap, int biWidth, int biHeight, int iMagnificationX,
                         int iMagnificationY)
{
  (void)pSrcBitmap; (void)biWidth; (void)biHeight; (void)iMagnificationX; (void)iMagnificationY;
  return 0;
}

long long CalcLCM(long long a, long long b)
{
  (void)a; (void)b;
  return 0;
}

int min(int x, int y) { return x <= y ? x : y; }
int max(int x, int y) { return x >= y ? x : y; }
