// The straightforward sharpening: every interior pixel from a whole copy of
// the picture, its 5 x 5 mean summed anew.
#include "oracle/oracle.h"

#include "image/sharpness.h"
#include "page_buffers.h"

#include <cstddef>
#include <cstring>
#include <memory>
#include <new>

static bool OracleIsSkinTone(double YData, double Cb, double Cr)
{
  return 80 < YData && YData < 250 && -35 < Cb && Cb < -10 && 10 < Cr && Cr < 45;
}

int OraclePicytureSharpness(int biWidth, int biHeight, unsigned char *lpBits, int bSharpness)
{
  if (bSharpness <= -4)
    return 0;
  // The weights end at level 4; higher levels sharpen as level 4.
  const int k = bSharpness >= 4 ? 8 : bSharpness + 4;
  // Only pixels two or more away from every edge are sharpened; a picture
  // under 5 pixels in either direction has none.
  if (biWidth < 5 || biHeight < 5)
    return 0;

  const size_t rowBytes = 3 * (size_t)biWidth;
  const size_t pageBytes = rowBytes * biHeight;
  std::unique_ptr<unsigned char[]> scratch(new (std::nothrow) unsigned char[pageBytes]);
  if (!scratch)
    return kStageNoMemory;
  memcpy(scratch.get(), lpBits, pageBytes);

  for (int y = 2; y <= biHeight - 3; y++)
  {
    for (int x = 2; x <= biWidth - 3; x++)
    {
      const unsigned char *own = lpBits + (size_t)y * rowBytes + 3 * (size_t)x;
      const double YData = Y_Table[own[0]] + Y_Table[256 + own[1]] + Y_Table[512 + own[2]];
      const double Cb = Cb_Table[own[0]] + Cb_Table[256 + own[1]] + Cb_Table[512 + own[2]];
      const double Cr = Cr_Table[own[0]] + Cr_Table[256 + own[1]] + Cr_Table[512 + own[2]];
      const double w = OracleIsSkinTone(YData, Cb, Cr) ? WeightFace[k] : WeightBack[k];

      unsigned char *out = scratch.get() + (size_t)y * rowBytes + 3 * (size_t)x;
      for (int i = 0; i < 3; i++)
      {
        int sum = 0;
        for (int dy = -2; dy <= 2; dy++)
        {
          const unsigned char *p = own + (ptrdiff_t)dy * (ptrdiff_t)rowBytes + i;
          sum += p[-6] + p[-3] + p[0] + p[3] + p[6];
        }
        const int d = own[i] - sum / 25;
        const double sharp = (double)own[i] + (double)d * w;
        out[i] = sharp < 0 ? 0 : sharp > 255 ? 255 : (unsigned char)(int)sharp;
      }
    }
  }

  memcpy(lpBits, scratch.get(), pageBytes);
  return 0;
}
