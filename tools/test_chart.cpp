// Drawing the test chart.  Everything is computed from the pixel position
// alone, so the same size and page always give the same bytes.
#include "test_chart.h"

#include <algorithm>
#include <cmath>

namespace {

struct Rgb
{
  int r, g, b;
};

unsigned char Clamp(int v) { return (unsigned char)std::clamp(v, 0, 255); }

void Put(std::vector<unsigned char> &img, unsigned w, unsigned x, unsigned y, Rgb c)
{
  unsigned char *p = &img[3 * ((size_t)y * w + x)];
  p[0] = Clamp(c.r);
  p[1] = Clamp(c.g);
  p[2] = Clamp(c.b);
}

// Black at t = 0, the colour at t = 1/2, white at t = 1.
Rgb Ramp(Rgb c, double t)
{
  if (t < 0.5)
    return {(int)(c.r * 2 * t), (int)(c.g * 2 * t), (int)(c.b * 2 * t)};
  double u = 2 * t - 1;
  return {(int)(c.r + (255 - c.r) * u), (int)(c.g + (255 - c.g) * u), (int)(c.b + (255 - c.b) * u)};
}

const Rgb kRampColours[] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {0, 255, 255}, {255, 0, 255}, {255, 255, 0}};

const Rgb kSkinTones[] = {{255, 224, 196}, {241, 194, 167}, {233, 185, 149}, {224, 172, 140},
                          {198, 134, 103}, {161, 102, 72},  {120, 72, 50},   {87, 53, 40}};

const Rgb kSaturated[] = {{255, 0, 0},   {0, 255, 0},   {0, 0, 255}, {0, 255, 255},
                          {255, 0, 255}, {255, 255, 0}, {0, 0, 0},   {255, 128, 0}};

Rgb LinesAndDetail(unsigned x, unsigned y, unsigned w, unsigned top, unsigned bandHeight)
{
  const unsigned cell = w / 8;
  const unsigned col = std::min(x / cell, 7u);
  const unsigned lx = x - col * cell, ly = y - top;
  auto onOff = [](unsigned pos, unsigned width) { return (pos / width) % 2 == 0 ? 0 : 255; };
  switch (col)
  {
    case 0: case 1: case 2:  // vertical line pairs, 1, 2 and 3 pixels wide
    {
      int v = onOff(lx, col + 1);
      return {v, v, v};
    }
    case 3: case 4:  // horizontal line pairs, 1 and 2 pixels high
    {
      int v = onOff(ly, col - 2);
      return {v, v, v};
    }
    case 5:  // diagonal coloured lines
      return ((lx + ly) / 2) % 3 == 0 ? Rgb{200, 0, 40} : Rgb{255, 255, 255};
    case 6:  // zone plate: rings that get finer towards the edge
    {
      double dx = (double)lx - cell / 2.0, dy = (double)ly - bandHeight / 2.0;
      double r2 = dx * dx + dy * dy;
      int v = (int)(127.5 + 127.5 * std::cos(r2 * 3.14159265358979 / (2.0 * cell)));
      return {v, v, v};
    }
    default:  // a star of 36 spokes
    {
      double dx = (double)lx - cell / 2.0, dy = (double)ly - bandHeight / 2.0;
      double a = std::atan2(dy, dx);
      int spoke = (int)std::floor((a + 3.14159265358979) * 36 / (2 * 3.14159265358979));
      return spoke % 2 == 0 ? Rgb{0, 0, 0} : Rgb{255, 255, 255};
    }
  }
}

Rgb Scene(unsigned x, unsigned y, unsigned w, unsigned top, unsigned bandHeight, unsigned page)
{
  const unsigned third = w / 3;
  const unsigned ly = y - top;
  if (x < third)
    return {255, 255, 255};
  if (x < 2 * third)
  {
    double fx = (double)(x - third) / third, fy = (double)ly / bandHeight;
    return {(int)(255 - 120 * fy), (int)(120 + 90 * fy + 20 * std::sin(6.28318530717959 * fx)),
            (int)(90 + 160 * fy)};
  }
  // Page marks: small black squares along the top of the last third.
  const unsigned mark = std::max(bandHeight / 8, 2u);
  unsigned mx = x - 2 * third;
  if (ly >= mark / 2 && ly < mark / 2 + mark && mx % (2 * mark) >= mark / 2 &&
      mx % (2 * mark) < mark / 2 + mark && mx / (2 * mark) < page)
    return {0, 0, 0};
  if (ly < 2 * mark)
    return {255, 255, 255};
  unsigned square = std::max(bandHeight / 10, 1u);
  return ((mx / square + ly / square) % 2) ? Rgb{40, 60, 160} : Rgb{250, 240, 220};
}

}  // namespace

ChartBands ChartLayout(unsigned h)
{
  ChartBands b;
  b.white = 0;
  b.ramps = h / 5;
  unsigned rest = h - b.ramps;
  b.greys = b.ramps + rest * 2 / 10;
  b.patches = b.ramps + rest * 4 / 10;
  b.lines = b.ramps + rest * 6 / 10;
  b.scene = b.ramps + rest * 8 / 10;
  b.end = h;
  return b;
}

std::vector<unsigned char> DrawChart(unsigned w, unsigned h, unsigned page)
{
  std::vector<unsigned char> img(3 * (size_t)w * h, 255);
  const ChartBands b = ChartLayout(h);
  for (unsigned y = b.ramps; y < b.end; y++)
  {
    for (unsigned x = 0; x < w; x++)
    {
      Rgb c{255, 255, 255};
      double fx = w > 1 ? (double)x / (w - 1) : 0.0;
      if (y < b.greys)
      {
        unsigned n = std::min((y - b.ramps) * 6 / (b.greys - b.ramps), 5u);
        c = Ramp(kRampColours[n], fx);
      }
      else if (y < b.patches)
      {
        int v = y < (b.greys + b.patches) / 2 ? (int)std::min(x * 16 / w, 15u) * 17 : (int)(fx * 255 + 0.5);
        c = {v, v, v};
      }
      else if (y < b.lines)
      {
        unsigned n = std::min(x * 16 / w, 15u);
        c = n < 8 ? kSkinTones[n] : kSaturated[n - 8];
      }
      else if (y < b.scene)
        c = LinesAndDetail(x, y, w, b.lines, b.scene - b.lines);
      else
        c = Scene(x, y, w, b.scene, b.end - b.scene, page);
      Put(img, w, x, y, c);
    }
  }
  return img;
}
