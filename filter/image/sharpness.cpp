// Sharpening of the page picture: every channel value of the interior moves
// away from the mean of its 5 x 5 neighbourhood, by a weight that depends on
// the level and on whether the pixel's colour is a skin tone.
//
// Every result depends only on the input picture.  The rows are cut into
// bands worked on the stage threads; a band reads the rows next to it from
// copies taken before any band starts, and writes each of its own rows back
// once its last reader in the band is done, so only a few rows of scratch
// are needed instead of a copy of the page.
#include "sharpness.h"

#include "page_buffers.h"
#include "parallel.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

bool IsSkinTone(double YData, double Cb, double Cr)
{
  return 80 < YData && YData < 250 && -35 < Cb && Cb < -10 && 10 < Cr && Cr < 45;
}

namespace {

// The skin-tone box in exact integer arithmetic: the colour's luma and
// colour differences times 100000.
struct ExactColour
{
  long Y, Cb, Cr;
};

ExactColour Exact(int r, int g, int b)
{
  return {29891L * r + 58661L * g + 11448L * b, -16874L * r - 33126L * g + 50000L * b,
          50000L * r - 41869L * g - 8131L * b};
}

// The skin test of a pixel is decided by a table over cells of 8 x 8 x 8
// colours where it can be.  The double sums of the tables differ from the
// exact values by far less than 1e-5, so wherever the exact value is not
// on a bound of the box the double test agrees with the exact one.  The box
// is convex and its bounds are planes: a cell whose 8 corners are strictly
// inside is inside throughout, and a cell whose corners are all strictly
// beyond the same bound is outside throughout.  Other cells are decided
// pixel by pixel with the double sums.
enum : unsigned char
{
  kCellOutside = 0,
  kCellInside = 1,
  kCellMixed = 2,
};

struct SkinCells
{
  unsigned char cell[32 * 32 * 32];

  SkinCells()
  {
    for (int r = 0; r < 32; r++)
      for (int g = 0; g < 32; g++)
        for (int b = 0; b < 32; b++)
        {
          int inside = 0;
          // Per bound: how many corners are strictly beyond it.
          int beyond[6] = {};
          for (int c = 0; c < 8; c++)
          {
            const ExactColour e = Exact(8 * r + (c & 1 ? 7 : 0), 8 * g + (c & 2 ? 7 : 0), 8 * b + (c & 4 ? 7 : 0));
            const bool bound[6] = {e.Y < 8000000, e.Y > 25000000, e.Cb < -3500000,
                                   e.Cb > -1000000, e.Cr < 1000000, e.Cr > 4500000};
            for (int n = 0; n < 6; n++)
              beyond[n] += bound[n];
            inside += 8000000 < e.Y && e.Y < 25000000 && -3500000 < e.Cb && e.Cb < -1000000 &&
                      1000000 < e.Cr && e.Cr < 4500000;
          }
          unsigned char state = inside == 8 ? kCellInside : kCellMixed;
          for (int n = 0; n < 6; n++)
            if (beyond[n] == 8)
              state = kCellOutside;
          cell[(r << 10) | (g << 5) | b] = state;
        }
  }
};

const SkinCells &Cells()
{
  static const SkinCells cells;
  return cells;
}

// Result of a channel value own with neighbourhood mean m, for the two
// weights: Sharp[s][own][m], s = 1 for skin tones.  The same double steps as
// for each pixel, done once for every pair.
struct SharpTable
{
  unsigned char v[2][256][256];

  SharpTable(double wBack, double wFace)
  {
    for (int s = 0; s < 2; s++)
    {
      const double w = s ? wFace : wBack;
      for (int own = 0; own < 256; own++)
        for (int m = 0; m < 256; m++)
        {
          const int d = own - m;
          const double sharp = (double)own + (double)d * w;
          v[s][own][m] = sharp < 0 ? 0 : sharp > 255 ? 255 : (unsigned char)(int)sharp;
        }
    }
  }
};

// Scratch of one band: three rows of results waiting to be written back and
// the sums of the row being worked.
struct BandScratch
{
  std::vector<unsigned char> out;      // 3 rows
  std::vector<uint16_t> column;        // sums of 5 rows per byte
  std::vector<unsigned char> mean;     // 5 x 5 means per byte
  std::vector<unsigned char> skin;     // per pixel
};

// Sharpen rows y0..y1-1 (all within 2..height-3).  row(r) gives the input
// row r for r in y0-2..y1+1; the band's own rows are read from the page
// until they are written back.
void SharpenBand(int width, unsigned char *lpBits, int y0, int y1, const unsigned char *const *outside,
                 const SharpTable &table, BandScratch &s)
{
  const SkinCells &cells = Cells();
  const size_t rowBytes = 3 * (size_t)width;
  const size_t first = 6, end = rowBytes - 6;  // bytes of pixels 2..width-3
  auto input = [&](int r) -> const unsigned char * {
    if (r < y0)
      return outside[r - (y0 - 2)];
    if (r >= y1)
      return outside[2 + r - y1];
    return lpBits + (size_t)r * rowBytes;
  };

  for (int y = y0; y < y1; y++)
  {
    const unsigned char *r0 = input(y - 2), *r1 = input(y - 1), *r2 = input(y), *r3 = input(y + 1),
                        *r4 = input(y + 2);
    uint16_t *column = s.column.data();
    for (size_t i = 0; i < rowBytes; i++)
      column[i] = (uint16_t)(r0[i] + r1[i] + r2[i] + r3[i] + r4[i]);
    unsigned char *mean = s.mean.data();
    for (size_t i = first; i < end; i++)
    {
      // At most 25 * 255: 16 bits hold it, eight lanes to a vector.
      const uint16_t sum = (uint16_t)(column[i - 6] + column[i - 3] + column[i] + column[i + 3] + column[i + 6]);
      mean[i] = (unsigned char)(uint16_t)(sum / 25);
    }
    unsigned char *skin = s.skin.data();
    for (int x = 2; x <= width - 3; x++)
    {
      const unsigned char *own = r2 + 3 * (size_t)x;
      const unsigned char state = cells.cell[(own[0] >> 3) << 10 | (own[1] >> 3) << 5 | own[2] >> 3];
      if (state != kCellMixed)
      {
        skin[x] = state;
        continue;
      }
      const double YData = Y_Table[own[0]] + Y_Table[256 + own[1]] + Y_Table[512 + own[2]];
      const double Cb = Cb_Table[own[0]] + Cb_Table[256 + own[1]] + Cb_Table[512 + own[2]];
      const double Cr = Cr_Table[own[0]] + Cr_Table[256 + own[1]] + Cr_Table[512 + own[2]];
      // IsSkinTone without the branches (the colours of a photo make them
      // hard to predict).
      skin[x] = (80 < YData) & (YData < 250) & (-35 < Cb) & (Cb < -10) & (10 < Cr) & (Cr < 45);
    }
    unsigned char *out = s.out.data() + (size_t)((y - y0) % 3) * rowBytes;
    for (int x = 2; x <= width - 3; x++)
    {
      const auto &t = table.v[skin[x]];
      const size_t i = 3 * (size_t)x;
      out[i] = t[r2[i]][mean[i]];
      out[i + 1] = t[r2[i + 1]][mean[i + 1]];
      out[i + 2] = t[r2[i + 2]][mean[i + 2]];
    }
    // Row y - 2 has had its last reader in this band.
    if (y - 2 >= y0)
      memcpy(lpBits + (size_t)(y - 2) * rowBytes + first, s.out.data() + (size_t)((y - 2 - y0) % 3) * rowBytes + first,
             end - first);
  }
  for (int y = y1 - 2 > y0 ? y1 - 2 : y0; y < y1; y++)
    memcpy(lpBits + (size_t)y * rowBytes + first, s.out.data() + (size_t)((y - y0) % 3) * rowBytes + first,
           end - first);
}

}  // namespace

int PicytureSharpness(int biWidth, int biHeight, unsigned char *lpBits, int bSharpness)
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
  const int rows = biHeight - 4;  // rows 2..biHeight-3
  try
  {
    std::unique_ptr<SharpTable> table(new SharpTable(WeightBack[k], WeightFace[k]));
    Cells();  // built once, before the threads

    // Bands of the interior rows; each band's two rows above and two
    // below are copied first.
    const int bands = BandCount(rows, 32);
    std::vector<unsigned char> edges((size_t)bands * 4 * rowBytes);
    std::vector<BandScratch> scratch(bands);
    std::vector<const unsigned char *> outside((size_t)bands * 4);
    for (int b = 0; b < bands; b++)
    {
      const int y0 = 2 + BandStart(rows, bands, b), y1 = 2 + BandStart(rows, bands, b + 1);
      const int rowsOutside[4] = {y0 - 2, y0 - 1, y1, y1 + 1};
      for (int n = 0; n < 4; n++)
      {
        unsigned char *copy = edges.data() + (4 * (size_t)b + n) * rowBytes;
        memcpy(copy, lpBits + (size_t)rowsOutside[n] * rowBytes, rowBytes);
        outside[4 * (size_t)b + n] = copy;
      }
      scratch[b].out.resize(3 * rowBytes);
      scratch[b].column.resize(rowBytes);
      scratch[b].mean.resize(rowBytes);
      scratch[b].skin.resize(biWidth);
    }

    RunBands(bands, [&](int b) {
      SharpenBand(biWidth, lpBits, 2 + BandStart(rows, bands, b), 2 + BandStart(rows, bands, b + 1),
                  &outside[4 * (size_t)b], *table, scratch[b]);
    });
  }
  catch (const std::bad_alloc &)
  {
    return kStageNoMemory;
  }
  return 0;
}
