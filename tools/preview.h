// Previews of printer data: each plane mapped back through the inverse of
// the smear tone curve that made it.
#pragma once

#include <vector>

// For each printer value 0..255, the input value whose curve value is
// nearest to it (the middle of a run of equal candidates).  A curve without
// any rise or fall says nothing about the input, so then every printer
// value is kept as it is.
void InverseCurve(const unsigned char *curve, unsigned char *inverse);

// The RGB picture (3 bytes a pixel, rows without padding) of the three
// planes of a w x h page, with hotlut the 768-byte curve of its print mode
// (red, green, blue).
std::vector<unsigned char> PreviewPicture(const unsigned char *planes, unsigned w, unsigned h,
                                          const unsigned char *hotlut);
