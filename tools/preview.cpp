// The picture a page of printer data stands for.
#include "preview.h"

#include <cstdlib>

void InverseCurve(const unsigned char *curve, unsigned char *inverse)
{
  unsigned lo = 255, hi = 0;
  for (int x = 0; x < 256; x++)
  {
    lo = curve[x] < lo ? curve[x] : lo;
    hi = curve[x] > hi ? curve[x] : hi;
  }
  for (int v = 0; v < 256; v++)
  {
    if (lo == hi)
    {
      inverse[v] = (unsigned char)v;
      continue;
    }
    int best = 256, sum = 0, count = 0;
    for (int x = 0; x < 256; x++)
    {
      int d = abs((int)curve[x] - v);
      if (d < best)
      {
        best = d;
        sum = x;
        count = 1;
      }
      else if (d == best)
      {
        sum += x;
        count++;
      }
    }
    inverse[v] = (unsigned char)((2 * sum + count) / (2 * count));
  }
}

std::vector<unsigned char> PreviewPicture(const unsigned char *planes, unsigned w, unsigned h,
                                          const unsigned char *hotlut)
{
  // Plane 0 carries blue, 1 green, 2 red; hotlut holds red, green, blue.
  unsigned char inverse[3][256];
  for (int c = 0; c < 3; c++)
    InverseCurve(hotlut + 256 * c, inverse[c]);
  const size_t plane = (size_t)w * h;
  std::vector<unsigned char> rgb(3 * plane);
  for (size_t i = 0; i < plane; i++)
  {
    rgb[3 * i] = inverse[0][planes[2 * plane + i]];
    rgb[3 * i + 1] = inverse[1][planes[plane + i]];
    rgb[3 * i + 2] = inverse[2][planes[i]];
  }
  return rgb;
}
