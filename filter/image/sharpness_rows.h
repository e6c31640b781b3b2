// The byte loops of sharpening, shared by the portable version
// (sharpness.cpp) and the versions built for AVX2 and AVX-512
// (sharpness_avx2.cpp, sharpness_avx512.cpp), which compile the same loops
// with wider vectors.  Everything here has internal linkage, so that no
// copy built for one processor is ever called from another's code.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace sharpen {

// The skin test of a colour by cells of 8 x 8 x 8 colours: inside, outside,
// or mixed (the colour itself decides).  See SkinCells in sharpness.cpp.
enum : unsigned char
{
  kCellOutside = 0,
  kCellInside = 1,
  kCellMixed = 2,
};

// One row of a band: pixels 2..width-3 of the middle row r[2] into out.
struct RowArgs
{
  const unsigned char *r[5];  // input rows y-2..y+2
  size_t rowBytes;
  int width;
  // The cells by (r >> 3) << 10 | (g >> 3) << 5 | b >> 3, with three bytes
  // of padding after them, and the luma and colour difference tables.
  const unsigned char *cells;
  const double *Y, *Cb, *Cr;
  unsigned char *skin;  // per byte: 1 for a pixel of skin tone
  // The results by skin, own value and mean, or, with fixed, the weights
  // in fixed point by skin for d >= 0 (up) and d < 0 (down): see
  // SharpTable in sharpness.cpp.
  const unsigned char (*table)[256][256];
  bool fixed;
  int16_t kUp[2], kDown[2];
  uint16_t *column;     // rowBytes: sums of the five rows
  unsigned char *mean;  // rowBytes: 5 x 5 means
  unsigned char *out;
};

// The skin test of a pixel of a mixed cell, in double arithmetic as
// IsSkinTone, without its branches (the colours of a photo make them hard to
// predict).
static inline __attribute__((always_inline)) unsigned char MixedSkin(const RowArgs &a, const unsigned char *own)
{
  const double YData = a.Y[own[0]] + a.Y[256 + own[1]] + a.Y[512 + own[2]];
  const double Cb = a.Cb[own[0]] + a.Cb[256 + own[1]] + a.Cb[512 + own[2]];
  const double Cr = a.Cr[own[0]] + a.Cr[256 + own[1]] + a.Cr[512 + own[2]];
  return (80 < YData) & (YData < 250) & (-35 < Cb) & (Cb < -10) & (10 < Cr) & (Cr < 45);
}

// Skin or not, for every byte of pixels x0..x1-1.
static inline __attribute__((always_inline)) void SkinRun(const RowArgs &a, int x0, int x1)
{
  for (int x = x0; x < x1; x++)
  {
    const unsigned char *own = a.r[2] + 3 * (size_t)x;
    unsigned char state = a.cells[(own[0] >> 3) << 10 | (own[1] >> 3) << 5 | own[2] >> 3];
    if (state == kCellMixed)
      state = MixedSkin(a, own);
    // The three bytes by one store of four; the fourth is the next pixel's
    // first, written again in its turn (and, after pixel width - 3, a
    // byte of pixel width - 2, never read).
    const uint32_t spread = state * 0x01010101U;
    memcpy(a.skin + 3 * (size_t)x, &spread, sizeof spread);
  }
}

// The 5 x 5 means and the sharpened bytes, once skin holds the row's skin
// tests.
static inline __attribute__((always_inline)) void BytesBody(const RowArgs &a)
{
  const size_t first = 6, end = a.rowBytes - 6;  // bytes of pixels 2..width-3
  const unsigned char *__restrict r0 = a.r[0], *__restrict r1 = a.r[1], *__restrict r2 = a.r[2],
                                  *__restrict r3 = a.r[3], *__restrict r4 = a.r[4];
  uint16_t *__restrict column = a.column;
  for (size_t i = 0; i < a.rowBytes; i++)
    column[i] = (uint16_t)(r0[i] + r1[i] + r2[i] + r3[i] + r4[i]);
  unsigned char *__restrict mean = a.mean;
  for (size_t i = first; i < end; i++)
  {
    // At most 25 * 255: 16 bits hold it.
    const uint16_t sum = (uint16_t)(column[i - 6] + column[i - 3] + column[i] + column[i + 3] + column[i + 6]);
    mean[i] = (unsigned char)(uint16_t)(sum / 25);
  }
  const unsigned char *__restrict skin = a.skin;
  unsigned char *__restrict out = a.out;
  if (a.fixed)
  {
    // Byte by byte in 16-bit lanes.
    const int16_t up0 = a.kUp[0], up1 = a.kUp[1], down0 = a.kDown[0], down1 = a.kDown[1];
    for (size_t i = first; i < end; i++)
    {
      const int16_t own = r2[i], d8 = (int16_t)(8 * (own - mean[i]));
      const int16_t k = skin[i] ? (d8 < 0 ? down1 : up1) : (d8 < 0 ? down0 : up0);
      const int16_t v = (int16_t)(own + (int16_t)((d8 * k) >> 16));
      out[i] = (unsigned char)(v < 0 ? 0 : v > 255 ? 255 : v);
    }
    return;
  }
  for (size_t i = first; i < end; i++)
    out[i] = a.table[skin[i]][r2[i]][mean[i]];
}

// The versions for each vector level: the skin tests, then the bytes.
void RowPortable(const RowArgs &a);
#if defined(__x86_64__) && defined(__GNUC__)
#define KELVO_SHARPEN_X86 1
void RowAvx2(const RowArgs &a);
void RowAvx512(const RowArgs &a);
#endif

}  // namespace sharpen
