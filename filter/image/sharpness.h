// Sharpening: a 5 x 5 unsharp mask with a gentler weight for skin tones.
#pragma once

#include <array>
#include <memory>

// Sharpening weights by level + 4 (index 0 is level -4: off), for skin
// tones and for everything else.
extern const double WeightFace[9];
extern const double WeightBack[9];

// Luma and colour differences by channel: entries 0..255 give v times the
// red coefficient, 256..511 the green one, 512..767 the blue one.  Each
// entry is the double nearest to the exact decimal product.
extern const std::array<double, 768> Y_Table;
extern const std::array<double, 768> Cb_Table;
extern const std::array<double, 768> Cr_Table;

// True when the colour lies strictly inside the skin-tone box.
bool IsSkinTone(double YData, double Cb, double Cr);

// Sharpen the picture in place at level bSharpness (-4 and below: off;
// above 4: as 4).  Returns 0, or kStageNoMemory when the scratch picture
// cannot be had.
int PicytureSharpness(int biWidth, int biHeight, unsigned char *lpBits, int bSharpness);

// Sharpening of a picture whose rows arrive in order (the page loop
// sharpens while it reads): the same bytes as PicytureSharpness, on one
// thread, with a few rows of scratch.
class SharpenInOrder
{
public:
  SharpenInOrder();
  ~SharpenInOrder();

  // Returns 0, or kStageNoMemory when the scratch cannot be had.
  int Start(int biWidth, int biHeight, unsigned char *lpBits, int bSharpness);

  // Input rows 0..available-1 are in the picture (never fewer than the
  // last call gave): sharpens what they allow.  Returns how many rows from
  // the top are final.
  int Advance(int available);

private:
  struct State;
  std::unique_ptr<State> state_;
  int height_ = 0;
};
