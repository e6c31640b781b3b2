// kelvo-sample: writes a small photo-like CUPS raster job (8-bit RGB) for
// trying the filter without a print system.
//
// Usage: kelvo-sample OUTPUT [PAGES [WIDTH HEIGHT]]
#include "rgb_raster_header.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cups/raster.h>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

// A sunset-like gradient sky, a skin-toned disc, a grey step wedge and a
// band of fine lines, shifted a little from page to page.
static void DrawPage(std::vector<unsigned char> &rgb, unsigned w, unsigned h, unsigned page)
{
  for (unsigned y = 0; y < h; y++)
  {
    for (unsigned x = 0; x < w; x++)
    {
      unsigned char *p = &rgb[3 * ((size_t)y * w + x)];
      double fy = (double)y / h, fx = (double)x / w;
      int r = (int)(255 * (1.0 - 0.4 * fy));
      int g = (int)(120 + 100 * fy + 20 * std::sin(6.28 * fx));
      int b = (int)(60 + 180 * fy);
      double dx = fx - 0.35 - 0.05 * page, dy = fy - 0.45;
      if (dx * dx + dy * dy < 0.04)
      {
        r = 224;
        g = 172;
        b = 140;
      }
      if (fy > 0.8)
        r = g = b = (int)(fx * 8) * 255 / 7;
      if (fx > 0.85 && fy < 0.5)
        r = g = b = ((x / 2 + y / 2) % 2) ? 255 : 0;
      p[0] = (unsigned char)std::clamp(r, 0, 255);
      p[1] = (unsigned char)std::clamp(g, 0, 255);
      p[2] = (unsigned char)std::clamp(b, 0, 255);
    }
  }
}

int main(int argc, char *argv[])
{
  if (argc != 2 && argc != 3 && argc != 5)
  {
    fprintf(stderr, "Usage: kelvo-sample OUTPUT [PAGES [WIDTH HEIGHT]]\n");
    return 2;
  }
  unsigned pages = argc > 2 ? (unsigned)atoi(argv[2]) : 2;
  unsigned w = argc > 4 ? (unsigned)atoi(argv[3]) : 600;
  unsigned h = argc > 4 ? (unsigned)atoi(argv[4]) : 400;
  int fd = open(argv[1], O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0)
  {
    perror(argv[1]);
    return 1;
  }
  cups_raster_t *ras = cupsRasterOpen(fd, CUPS_RASTER_WRITE_COMPRESSED);
  std::vector<unsigned char> rgb(3 * (size_t)w * h);
  for (unsigned page = 0; page < pages; page++)
  {
    cups_page_header2_t header = RgbRasterHeader(w, h);
    cupsRasterWriteHeader2(ras, &header);
    DrawPage(rgb, w, h, page);
    for (unsigned y = 0; y < h; y++)
      cupsRasterWritePixels(ras, &rgb[3 * (size_t)y * w], 3 * w);
  }
  cupsRasterClose(ras);
  close(fd);
  return 0;
}
