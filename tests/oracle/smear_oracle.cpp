// The straightforward smear control: one generator call per byte, every
// byte of a row worked out in turn, then the sideways smoothing.
#include "oracle/oracle.h"

#include "image/smear_control.h"
#include "page_buffers.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

int OracleGetSmearlut(unsigned char *hotlut, int iGammaMode)
{
  memset(hotlut, 0, kSmearLutBytes);
  const unsigned char *table = iGammaMode != 0 ? HVX_A4_Normal : HVX_A4_Normal_Soft;
  // The table is in plane order (blue, green, red); hotlut in the pixel's
  // byte order (red, green, blue).
  memcpy(hotlut + 512, table + 0, 256);
  memcpy(hotlut + 256, table + 256, 256);
  memcpy(hotlut + 0, table + 512, 256);
  return 1;
}

namespace {

// x >> 10 on a signed value: floor division by 1024 (-1 >> 10 is -1).
// Products are formed in 64 bits; every value of the stage stays far inside
// the 32-bit range, so the results are those of 32-bit arithmetic.
inline int32_t Shr10(int64_t x) { return (int32_t)(x >> 10); }

struct WorkingArrays
{
  int32_t *ShortHist = nullptr;
  int32_t *MiddleHist = nullptr;
  int32_t *LongHist = nullptr;
  int32_t *iStrongCnt = nullptr;
  int32_t *iRefData = nullptr;

  // Allocate n entries each (at least one, so that malloc(0) is never asked).
  bool Allocate(size_t n)
  {
    if (n == 0)
      n = 1;
    if (n > SIZE_MAX / sizeof(int32_t))
      return false;
    const size_t bytes = n * sizeof(int32_t);
    ShortHist = static_cast<int32_t *>(malloc(bytes));
    MiddleHist = static_cast<int32_t *>(malloc(bytes));
    LongHist = static_cast<int32_t *>(malloc(bytes));
    iStrongCnt = static_cast<int32_t *>(malloc(bytes));
    iRefData = static_cast<int32_t *>(malloc(bytes));
    return ShortHist && MiddleHist && LongHist && iStrongCnt && iRefData;
  }

  ~WorkingArrays()
  {
    free(ShortHist);
    free(MiddleHist);
    free(LongHist);
    free(iStrongCnt);
    free(iRefData);
  }
};

}  // namespace

int OracleSmearControl(unsigned char *pSrcBitmap, unsigned int biWidth, unsigned int biHeight,
                 unsigned char *lpToneCurve, unsigned char *pSendData)
{
  // 1. Every call, and so every page, starts the generator from the same state.
  uint32_t init[4] = {0x123, 0x234, 0x345, 0x456};
  OracleInitByArray(init, 4);

  // 2. The working arrays, one entry per byte position of a row (3 x biWidth
  // entries rather than a fixed 11292, so any page width fits).
  const size_t iLength = 3 * (size_t)biWidth;
  WorkingArrays w;
  if (!w.Allocate(iLength))
    return kStageNoMemory;
  int32_t *const ShortHist = w.ShortHist;
  int32_t *const MiddleHist = w.MiddleHist;
  int32_t *const LongHist = w.LongHist;
  int32_t *const iStrongCnt = w.iStrongCnt;
  int32_t *const iRefData = w.iRefData;

  // 3. Plane starts, by channel of the pixel byte (0 red, 1 green, 2 blue).
  const size_t planeSize = (size_t)biWidth * biHeight;
  const size_t planeStart[3] = {2 * planeSize, planeSize, 0};

  // 4. Row by row.
  for (unsigned int j = 0; j < biHeight; j++)
  {
    const int32_t LongWeight = j < 600 ? (int32_t)((73 * j) / 600) : 73;
    const unsigned char *row = pSrcBitmap + (size_t)j * iLength;
    const size_t rowOffset = (size_t)j * biWidth;

    for (size_t i = 0; i < iLength; i++)
    {
      const unsigned channel = (unsigned)(i % 3);
      const unsigned char *v = lpToneCurve + 256 * channel;
      const unsigned char iData = row[i];
      const size_t q = planeStart[channel] + rowOffset + i / 3;

      if (j == 0)
      {
        // The average of the position over the first 200 rows (or all of a
        // shorter page), row 0 included; the histories start at its curve
        // value.
        uint32_t sum = 0;
        unsigned int iCount = 0;
        for (unsigned int iLineCnt = 0; iLineCnt < 200 && iLineCnt < biHeight; iLineCnt++)
        {
          sum += pSrcBitmap[(size_t)iLineCnt * iLength + i];
          iCount++;
        }
        const int32_t MidData = (int32_t)v[sum / iCount] * 1024;
        ShortHist[i] = MiddleHist[i] = LongHist[i] = MidData;
        iStrongCnt[i] = 0;
        iRefData[i] = v[iData];
        pSendData[q] = v[iData];
        continue;
      }

      const int32_t iCompData = v[iData];
      const int32_t OrgData = iCompData * 1024;
      const int32_t LongSmear = OrgData + Shr10((int64_t)(OrgData - LongHist[i]) * LongWeight);
      const int32_t MiddleSmear = LongSmear + Shr10((int64_t)(LongSmear - MiddleHist[i]) * 115);

      int32_t ShortSmear;
      const int32_t diff = iRefData[i] - iCompData;
      if ((diff < 0 ? -diff : diff) >= 40 && iStrongCnt[i] <= 1)
      {
        iStrongCnt[i]++;
        ShortSmear = MiddleSmear + Shr10((int64_t)(MiddleSmear - ShortHist[i]) * 730);
      }
      else
      {
        iStrongCnt[i] = 0;
        iRefData[i] = iCompData;
        ShortSmear = MiddleSmear + Shr10((int64_t)(MiddleSmear - ShortHist[i]) * 280);
      }

      int32_t Temp = Shr10((int64_t)ShortSmear + (OracleGenrandInt32() & 0x3FF));
      pSendData[q] = ClampByte(Temp);

      LongHist[i] = LongSmear + Shr10((int64_t)LongHist[i] * 1022) - Shr10((int64_t)LongSmear * 1022);
      MiddleHist[i] = MiddleSmear + Shr10((int64_t)MiddleHist[i] * 1015) - Shr10((int64_t)MiddleSmear * 1015);
      ShortHist[i] = ShortSmear + Shr10((int64_t)ShortHist[i] * 800) - Shr10((int64_t)ShortSmear * 800);
    }

    // Sideways smoothing, in place from left to right; the first and the
    // last pixel's entries are left alone (nothing at all for width <= 2).
    for (size_t k = 3; k + 4 <= iLength; k++)
    {
      ShortHist[k] = Shr10(150 * (int64_t)ShortHist[k - 3] + 724 * (int64_t)ShortHist[k] + 150 * (int64_t)ShortHist[k + 3]);
      MiddleHist[k] = Shr10(510 * (int64_t)MiddleHist[k - 3] + 4 * (int64_t)MiddleHist[k] + 510 * (int64_t)MiddleHist[k + 3]);
      LongHist[k] = Shr10(510 * (int64_t)LongHist[k - 3] + 4 * (int64_t)LongHist[k] + 510 * (int64_t)LongHist[k + 3]);
    }
  }

  // 5. The working arrays go with w.
  return 0;
}
