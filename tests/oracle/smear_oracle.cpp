// The straightforward smear control: one generator call per byte, every
// byte of a row worked out in turn, then the sideways smoothing.
#include "oracle/oracle.h"

#include "image/smear_control.h"
#include "page_buffers.h"

#include <cstring>
#include <vector>

int OracleGetSmearlut(unsigned char *hotlut, int iGammaMode)
{
  // The table is in plane order (blue, green, red), hotlut in pixel order.
  const unsigned char *table = iGammaMode != 0 ? HVX_A4_Normal : HVX_A4_Normal_Soft;
  for (int c = 0; c < 3; c++)
    memcpy(hotlut + 256 * c, table + 256 * (2 - c), 256);
  return 1;
}

// x >> 10 on a signed value, rounding toward minus infinity; products are
// formed in 64 bits but every value stays far inside 32 bits.
static int32_t Shr10(int64_t x) { return (int32_t)(x >> 10); }

int OracleSmearControl(unsigned char *pSrcBitmap, unsigned int biWidth, unsigned int biHeight,
                       unsigned char *lpToneCurve, unsigned char *pSendData)
{
  const uint32_t init[4] = {0x123, 0x234, 0x345, 0x456};
  OracleInitByArray(init, 4);
  const size_t n = 3 * (size_t)biWidth, plane = (size_t)biWidth * biHeight;
  std::vector<int32_t> Short(n), Middle(n), Long(n), Strong(n), Ref(n);
  for (unsigned j = 0; j < biHeight; j++)
  {
    const int32_t LongWeight = j < 600 ? (int32_t)(73 * j / 600) : 73;
    for (size_t i = 0; i < n; i++)
    {
      const unsigned char *v = lpToneCurve + 256 * (i % 3);
      const int32_t iCompData = v[pSrcBitmap[j * n + i]];
      // Channel c (red 0) goes to plane 2 - c.
      unsigned char &out = pSendData[(2 - i % 3) * plane + j * (size_t)biWidth + i / 3];
      if (j == 0)
      {
        // The histories start at the curve value of the mean of the first
        // 200 rows.
        uint32_t sum = 0, count = 0;
        for (; count < 200 && count < biHeight; count++)
          sum += pSrcBitmap[count * n + i];
        Short[i] = Middle[i] = Long[i] = v[sum / count] * 1024;
        Strong[i] = 0;
        Ref[i] = out = (unsigned char)iCompData;
        continue;
      }
      const int32_t Org = iCompData * 1024;
      const int32_t LongSmear = Org + Shr10((int64_t)(Org - Long[i]) * LongWeight);
      const int32_t MiddleSmear = LongSmear + Shr10((int64_t)(LongSmear - Middle[i]) * 115);
      const int32_t diff = Ref[i] - iCompData;
      int weight = 280;
      if ((diff < 0 ? -diff : diff) >= 40 && Strong[i] <= 1)
        Strong[i]++, weight = 730;
      else
        Strong[i] = 0, Ref[i] = iCompData;
      const int32_t ShortSmear = MiddleSmear + Shr10((int64_t)(MiddleSmear - Short[i]) * weight);
      out = ClampByte(Shr10((int64_t)ShortSmear + (OracleGenrandInt32() & 0x3FF)));
      Long[i] = LongSmear + Shr10((int64_t)Long[i] * 1022) - Shr10((int64_t)LongSmear * 1022);
      Middle[i] = MiddleSmear + Shr10((int64_t)Middle[i] * 1015) - Shr10((int64_t)MiddleSmear * 1015);
      Short[i] = ShortSmear + Shr10((int64_t)Short[i] * 800) - Shr10((int64_t)ShortSmear * 800);
    }
    // Sideways smoothing in place, left to right; the first and the last
    // pixel keep theirs.
    for (size_t k = 3; k + 4 <= n; k++)
    {
      Short[k] = Shr10(150 * (int64_t)Short[k - 3] + 724 * (int64_t)Short[k] + 150 * (int64_t)Short[k + 3]);
      Middle[k] = Shr10(510 * (int64_t)Middle[k - 3] + 4 * (int64_t)Middle[k] + 510 * (int64_t)Middle[k + 3]);
      Long[k] = Shr10(510 * (int64_t)Long[k - 3] + 4 * (int64_t)Long[k] + 510 * (int64_t)Long[k + 3]);
    }
  }
  return 0;
}
