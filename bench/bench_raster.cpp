// kelvo-bench-raster: writes a job of photo-like 1800 x 2504 pages (8-bit
// RGB CUPS raster) for the whole-job benchmark.
//
// Usage: kelvo-bench-raster OUTPUT PAGES [compressed|plain]
#include "rgb_raster_header.h"
#include "photo_page.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cups/raster.h>
#include <fcntl.h>
#include <unistd.h>

int main(int argc, char *argv[])
{
  if (argc != 3 && argc != 4)
  {
    fprintf(stderr, "Usage: kelvo-bench-raster OUTPUT PAGES [compressed|plain]\n");
    return 2;
  }
  const int pages = atoi(argv[2]);
  const bool plain = argc == 4 && strcmp(argv[3], "plain") == 0;
  int fd = open(argv[1], O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0)
  {
    perror(argv[1]);
    return 1;
  }
  cups_raster_t *ras = cupsRasterOpen(fd, plain ? CUPS_RASTER_WRITE : CUPS_RASTER_WRITE_COMPRESSED);
  for (int page = 0; page < pages; page++)
  {
    cups_page_header2_t header = RgbRasterHeader(kBenchWidth, kBenchHeight);
    const std::vector<unsigned char> rgb = PhotoPage(kBenchWidth, kBenchHeight, page);
    if (!cupsRasterWriteHeader2(ras, &header))
      return 1;
    for (int y = 0; y < kBenchHeight; y++)
      cupsRasterWritePixels(ras, const_cast<unsigned char *>(&rgb[3 * (size_t)y * kBenchWidth]), 3 * kBenchWidth);
  }
  cupsRasterClose(ras);
  close(fd);
  return 0;
}
