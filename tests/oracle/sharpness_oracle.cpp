// The straightforward sharpening: every interior pixel from a whole copy of
// the picture, its 5 x 5 mean summed anew.
#include "oracle/oracle.h"

#include "image/sharpness.h"

#include <cstring>
#include <vector>

int OraclePicytureSharpness(int biWidth, int biHeight, unsigned char *lpBits, int bSharpness)
{
  // Off at -4 and below, level 4 above 4; only pixels two or more away from
  // every edge change.
  if (bSharpness <= -4 || biWidth < 5 || biHeight < 5)
    return 0;
  const int k = bSharpness >= 4 ? 8 : bSharpness + 4;
  const size_t row = 3 * (size_t)biWidth;
  std::vector<unsigned char> out(lpBits, lpBits + row * biHeight);
  for (int y = 2; y <= biHeight - 3; y++)
    for (int x = 2; x <= biWidth - 3; x++)
    {
      const unsigned char *p = lpBits + y * row + 3 * x;
      const double Y = Y_Table[p[0]] + Y_Table[256 + p[1]] + Y_Table[512 + p[2]];
      const double Cb = Cb_Table[p[0]] + Cb_Table[256 + p[1]] + Cb_Table[512 + p[2]];
      const double Cr = Cr_Table[p[0]] + Cr_Table[256 + p[1]] + Cr_Table[512 + p[2]];
      const bool skin = 80 < Y && Y < 250 && -35 < Cb && Cb < -10 && 10 < Cr && Cr < 45;
      const double w = skin ? WeightFace[k] : WeightBack[k];
      for (int i = 0; i < 3; i++)
      {
        int sum = 0;
        for (int dy = -2; dy <= 2; dy++)
          for (int dx = -2; dx <= 2; dx++)
            sum += p[dy * (long)row + 3 * dx + i];
        const double sharp = (double)p[i] + (double)(p[i] - sum / 25) * w;
        out[y * row + 3 * x + i] = sharp < 0 ? 0 : sharp > 255 ? 255 : (unsigned char)(int)sharp;
      }
    }
  memcpy(lpBits, out.data(), out.size());
  return 0;
}
