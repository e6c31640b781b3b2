// kelvo-pwg: rewrites an 8-bit RGB CUPS raster as the PWG raster an IPP
// client sends, optionally as grey pages or with a header no printer can
// take, for the printer application's tests.
//
// Usage: kelvo-pwg IN OUT [rgb|urf|grey|grey-as-rgb|bad-width [COPIES]]
//   urf:         the RGB pages as Apple raster
//   grey:        8-bit sGray pages of the green channel
//   grey-as-rgb: the same greys as RGB pages (what the printer gets)
//   bad-width:   a header whose bytes per line do not match its width
#include <cups/raster.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

int main(int argc, char *argv[])
{
  if (argc < 3)
  {
    fputs("Usage: kelvo-pwg IN OUT [rgb|urf|grey|grey-as-rgb|bad-width [COPIES]]\n", stderr);
    return 1;
  }
  const std::string mode = argc > 3 ? argv[3] : "rgb";
  int in = open(argv[1], O_RDONLY), out = open(argv[2], O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (in < 0 || out < 0)
  {
    perror("kelvo-pwg");
    return 1;
  }
  cups_raster_t *r = cupsRasterOpen(in, CUPS_RASTER_READ);
  cups_raster_t *w = cupsRasterOpen(out, mode == "urf" ? CUPS_RASTER_WRITE_APPLE : CUPS_RASTER_WRITE_PWG);
  cups_page_header2_t h;
  while (cupsRasterReadHeader2(r, &h))
  {
    std::vector<unsigned char> line(h.cupsBytesPerLine);
    cups_page_header2_t p = h;
    p.HWResolution[0] = p.HWResolution[1] = 300;
    p.PageSize[0] = h.cupsWidth * 72 / 300;
    p.PageSize[1] = h.cupsHeight * 72 / 300;
    p.cupsColorSpace = CUPS_CSPACE_SRGB;
    p.cupsBitsPerColor = 8;
    p.cupsBitsPerPixel = 24;
    p.cupsBytesPerLine = 3 * h.cupsWidth;
    p.cupsColorOrder = CUPS_ORDER_CHUNKED;
    p.cupsNumColors = 3;
    strcpy(p.MediaType, "photographic-glossy");
    p.NumCopies = argc > 4 ? (unsigned)atoi(argv[4]) : 1;
    if (mode == "grey")
    {
      p.cupsColorSpace = CUPS_CSPACE_SW;
      p.cupsBitsPerPixel = 8;
      p.cupsBytesPerLine = h.cupsWidth;
      p.cupsNumColors = 1;
    }
    else if (mode == "bad-width")
      p.cupsBytesPerLine = 3 * h.cupsWidth + 7;
    if (!cupsRasterWriteHeader2(w, &p))
      return 1;
    std::vector<unsigned char> o(p.cupsBytesPerLine, 255);
    for (unsigned y = 0; y < h.cupsHeight; y++)
    {
      cupsRasterReadPixels(r, line.data(), h.cupsBytesPerLine);
      for (unsigned x = 0; x < h.cupsWidth; x++)
      {
        const unsigned char g = line[3 * x + 1];
        if (mode == "grey")
          o[x] = g;
        else if (mode == "grey-as-rgb")
          o[3 * x] = o[3 * x + 1] = o[3 * x + 2] = g;
        else
          memcpy(&o[3 * x], &line[3 * x], 3);
      }
      cupsRasterWritePixels(w, o.data(), p.cupsBytesPerLine);
    }
  }
  cupsRasterClose(r);
  cupsRasterClose(w);
  close(in);
  return close(out) == 0 ? 0 : 1;
}
