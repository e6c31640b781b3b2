// Sharpening of the page picture: every channel value of the interior moves
// away from the mean of its 5 x 5 neighbourhood, by a weight that depends on
// the level and on whether the pixel's colour is a skin tone.
//
// Every result depends only on the input picture.  The rows are cut into
// bands worked on the stage threads; a band reads the rows next to it from
// copies taken before any band starts, and writes each of its own rows back
// once its last reader in the band is done, so only a few rows of scratch
// are needed instead of a copy of the page.  The byte loops are in
// sharpness_rows.h, built for AVX2 and AVX-512 in sharpness_avx2.cpp and
// sharpness_avx512.cpp.
#include "sharpness.h"

#include "page_buffers.h"
#include "parallel.h"
#include "sharpness_rows.h"
#include "vector_level.h"

#include <cmath>
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

namespace sharpen {

// The portable version of the byte loops: SSE2 on x86-64, NEON on ARM.
void RowPortable(const RowArgs &a)
{
  SkinRun(a, 2, a.width - 2);
  BytesBody(a);
}

}  // namespace sharpen

namespace {

using sharpen::kCellInside;
using sharpen::kCellMixed;
using sharpen::kCellOutside;

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
struct SkinCells
{
  unsigned char cell[32 * 32 * 32 + 3] = {};  // padding for 32-bit loads

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
//
// Where it gives every entry of the table, the same in 16-bit fixed point,
// which vectorises: own + floor(d * w) clamped, with floor(d * w) as
// (8 * d * k) >> 16, k = 8192 * w rounded up for d >= 0 and down for d < 0
// (own + d * w truncates as own + floor(d * w) wherever it is not below 0,
// and the rounding of k keeps the products that are whole numbers whole).
// The weights are decimals of two places, so a product that is not whole
// is at least 0.04 from the next whole number and the error of k, under
// 255 / 8192, does not move it across; the table is checked all the same.
struct SharpTable
{
  unsigned char v[2][256][256];
  bool fixed = true;
  int16_t kUp[2], kDown[2];  // by s

  SharpTable(double wBack, double wFace)
  {
    for (int s = 0; s < 2; s++)
    {
      const double w = s ? wFace : wBack;
      const double k = 8192 * w;
      fixed = fixed && k >= 0 && k < 32767;
      kUp[s] = fixed ? (int16_t)std::ceil(k) : 0;
      kDown[s] = fixed ? (int16_t)std::floor(k) : 0;
      for (int own = 0; own < 256; own++)
        for (int m = 0; m < 256; m++)
        {
          const int d = own - m;
          const double sharp = (double)own + (double)d * w;
          v[s][own][m] = sharp < 0 ? 0 : sharp > 255 ? 255 : (unsigned char)(int)sharp;
          fixed = fixed && v[s][own][m] == Fixed(own, m, d < 0 ? kDown[s] : kUp[s]);
        }
    }
  }

  static unsigned char Fixed(int own, int m, int16_t k)
  {
    const int16_t d8 = (int16_t)(8 * (own - m));
    const int v = own + ((d8 * k) >> 16);
    return (unsigned char)(v < 0 ? 0 : v > 255 ? 255 : v);
  }
};

typedef void (*RowFunction)(const sharpen::RowArgs &);

// The widest version of the byte loops the processor offers within the
// vector limit; all give the same bytes.
RowFunction ChooseRow()
{
#ifdef KELVO_SHARPEN_X86
  if (StageVectorLevel() >= kVectorAvx512)
    return sharpen::RowAvx512;
  if (StageVectorLevel() >= kVectorAvx2)
    return sharpen::RowAvx2;
#endif
  return sharpen::RowPortable;
}

// One band of rows y0..y1-1 (all within 2..height-3), worked top down.
// The rows next to the band, y0-2, y0-1, y1 and y1+1, are read from
// outside[0..3]; the band's own rows from the page until they are written
// back, each once its last reader in the band is done (two rows late).
class Band
{
public:
  // Returns false when the scratch cannot be had.
  bool Init(int width, unsigned char *lpBits, int y0, int y1, const unsigned char *const *outside,
            const SharpTable *table)
  {
    width_ = width, lpBits_ = lpBits, y0_ = y0, y1_ = y1, y_ = y0, table_ = table;
    for (int n = 0; n < 4; n++)
      outside_[n] = outside[n];
    rowBytes_ = 3 * (size_t)width;
    try
    {
      out_.resize(3 * rowBytes_);
      column_.resize(rowBytes_);
      mean_.resize(rowBytes_);
      skin_.resize(rowBytes_ + 16);  // room for the vector stores past the row
    }
    catch (const std::bad_alloc &)
    {
      return false;
    }
    return true;
  }

  // Sharpens the rows that input rows 0..available-1 allow.  Returns the
  // first row of the band not yet written back.
  int Run(int available)
  {
    for (; y_ < y1_ && y_ + 2 < available; y_++)
    {
      SharpenRow(y_);
      // Row y - 2 has had its last reader in this band.
      if (y_ - 2 >= y0_)
        WriteBack(y_ - 2);
    }
    if (y_ == y1_ && !flushed_)
    {
      for (int y = y1_ - 2 > y0_ ? y1_ - 2 : y0_; y < y1_; y++)
        WriteBack(y);
      flushed_ = true;
    }
    return flushed_ ? y1_ : y_ - 2 > y0_ ? y_ - 2 : y0_;
  }

private:
  const unsigned char *Input(int r) const
  {
    if (r < y0_)
      return outside_[r - (y0_ - 2)];
    if (r >= y1_)
      return outside_[2 + r - y1_];
    return lpBits_ + (size_t)r * rowBytes_;
  }

  void WriteBack(int y)
  {
    memcpy(lpBits_ + (size_t)y * rowBytes_ + 6, out_.data() + (size_t)((y - y0_) % 3) * rowBytes_ + 6,
           rowBytes_ - 12);
  }

  // Pixels 2..width-3 of row y into the row's slot of out_.
  void SharpenRow(int y)
  {
    const SkinCells &cells = Cells();
    const unsigned char *r0 = Input(y - 2), *r1 = Input(y - 1), *r2 = Input(y), *r3 = Input(y + 1),
                        *r4 = Input(y + 2);
    const SharpTable &t = *table_;
    sharpen::RowArgs args = {{r0, r1, r2, r3, r4}, rowBytes_, width_, cells.cell, Y_Table.data(), Cb_Table.data(),
                             Cr_Table.data(), skin_.data(), t.v, t.fixed, {t.kUp[0], t.kUp[1]},
                             {t.kDown[0], t.kDown[1]}, column_.data(), mean_.data(),
                             out_.data() + (size_t)((y - y0_) % 3) * rowBytes_};
    row_(args);
  }

  int width_ = 0, y0_ = 0, y1_ = 0, y_ = 0;
  bool flushed_ = false;
  size_t rowBytes_ = 0;
  unsigned char *lpBits_ = nullptr;
  const unsigned char *outside_[4] = {};
  const SharpTable *table_ = nullptr;
  RowFunction row_ = ChooseRow();
  std::vector<unsigned char> out_;      // 3 rows
  std::vector<uint16_t> column_;        // sums of 5 rows per byte
  std::vector<unsigned char> mean_;     // 5 x 5 means per byte
  std::vector<unsigned char> skin_;     // per byte
};

// The weight index of a level, or -1 when the level or the picture leaves
// the picture alone.
int LevelIndex(int biWidth, int biHeight, int bSharpness)
{
  if (bSharpness <= -4)
    return -1;
  // Only pixels two or more away from every edge are sharpened; a picture
  // under 5 pixels in either direction has none.
  if (biWidth < 5 || biHeight < 5)
    return -1;
  // The weights end at level 4; higher levels sharpen as level 4.
  return bSharpness >= 4 ? 8 : bSharpness + 4;
}

}  // namespace

int PicytureSharpness(int biWidth, int biHeight, unsigned char *lpBits, int bSharpness)
{
  const int k = LevelIndex(biWidth, biHeight, bSharpness);
  if (k < 0)
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
    std::vector<Band> work(bands);
    for (int b = 0; b < bands; b++)
    {
      const int y0 = 2 + BandStart(rows, bands, b), y1 = 2 + BandStart(rows, bands, b + 1);
      const int rowsOutside[4] = {y0 - 2, y0 - 1, y1, y1 + 1};
      const unsigned char *outside[4];
      for (int n = 0; n < 4; n++)
      {
        unsigned char *copy = edges.data() + (4 * (size_t)b + n) * rowBytes;
        memcpy(copy, lpBits + (size_t)rowsOutside[n] * rowBytes, rowBytes);
        outside[n] = copy;
      }
      if (!work[b].Init(biWidth, lpBits, y0, y1, outside, table.get()))
        return kStageNoMemory;
    }
    RunBands(bands, [&](int b) { work[b].Run(biHeight); });
  }
  catch (const std::bad_alloc &)
  {
    return kStageNoMemory;
  }
  return 0;
}

struct SharpenInOrder::State
{
  SharpTable table;
  Band band;
  State(double wBack, double wFace) : table(wBack, wFace) {}
};

SharpenInOrder::SharpenInOrder() = default;
SharpenInOrder::~SharpenInOrder() = default;

int SharpenInOrder::Start(int biWidth, int biHeight, unsigned char *lpBits, int bSharpness)
{
  height_ = biHeight;
  const int k = LevelIndex(biWidth, biHeight, bSharpness);
  if (k < 0)
    return 0;
  state_.reset(new (std::nothrow) State(WeightBack[k], WeightFace[k]));
  if (!state_)
    return kStageNoMemory;
  Cells();
  // One band of all the interior rows: the rows above and below it are
  // the frame, which sharpening never changes, read from the page.
  const size_t rowBytes = 3 * (size_t)biWidth;
  const unsigned char *outside[4] = {lpBits, lpBits + rowBytes, lpBits + (size_t)(biHeight - 2) * rowBytes,
                                     lpBits + (size_t)(biHeight - 1) * rowBytes};
  if (!state_->band.Init(biWidth, lpBits, 2, biHeight - 2, outside, &state_->table))
  {
    state_.reset();
    return kStageNoMemory;
  }
  return 0;
}

int SharpenInOrder::Advance(int available)
{
  if (!state_)
    return available;
  // Rows before the first row the band has not written back are final
  // (rows 0 and 1 as soon as they are there), and the last two rows once
  // the band is done.
  const int next = state_->band.Run(available);
  if (next == height_ - 2)
    return available;
  return next < available ? next : available;
}
