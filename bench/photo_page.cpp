// The benchmark page: see photo_page.h.
#include "photo_page.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace {

// A small integer hash for deterministic texture.
uint32_t Hash(uint32_t x, uint32_t y)
{
  uint32_t h = x * 0x9E3779B1u ^ (y + 0x7F4A7C15u) * 0x85EBCA77u;
  h ^= h >> 15;
  h *= 0xC2B2AE3Du;
  h ^= h >> 13;
  return h;
}

}  // namespace

std::vector<unsigned char> PhotoPage(int width, int height, int page)
{
  std::vector<unsigned char> rgb(3 * (size_t)width * height);
  for (int y = 0; y < height; y++)
    for (int x = 0; x < width; x++)
    {
      const double fx = (double)x / width, fy = (double)y / height;
      const int noise = (int)(Hash((uint32_t)x, (uint32_t)y) % 17) - 8;
      // Sky: a sunset gradient with gentle waves.
      double r = 250 - 90 * fy, g = 140 + 80 * fy + 25 * std::sin(9.0 * fx + page), b = 70 + 170 * fy;
      // Two faces: skin tones with shading.
      for (int f = 0; f < 2; f++)
      {
        const double dx = fx - (0.3 + 0.4 * f + 0.02 * page), dy = fy - (0.35 + 0.1 * f);
        const double d2 = dx * dx + dy * dy * 0.6;
        if (d2 < 0.02)
        {
          const double shade = 1.0 - 8 * d2;
          r = 225 * shade + 20, g = 170 * shade + 10, b = 140 * shade + 5;
        }
      }
      // Grass-like fine texture at the bottom.
      if (fy > 0.7)
      {
        const int blade = (int)(Hash((uint32_t)x / 2, (uint32_t)y / 7) % 90);
        r = 30 + blade / 2, g = 90 + blade, b = 20 + blade / 3;
      }
      // Saturated colour patches with hard edges.
      if (fy > 0.55 && fy < 0.68)
      {
        static const int kPatch[6][3] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 0}, {0, 255, 255}, {255, 0, 255}};
        const int *c = kPatch[(int)(fx * 6) % 6];
        r = c[0], g = c[1], b = c[2];
      }
      // A band of one-pixel lines and text-like black and white edges.
      if (fx > 0.9 && fy < 0.5)
        r = g = b = ((x + y / 3) % 3 == 0) ? 0 : 255;
      unsigned char *p = &rgb[3 * ((size_t)y * width + x)];
      p[0] = (unsigned char)std::clamp((int)r + noise, 0, 255);
      p[1] = (unsigned char)std::clamp((int)g + noise, 0, 255);
      p[2] = (unsigned char)std::clamp((int)b + noise, 0, 255);
    }
  return rgb;
}
