// The CUPS raster page header of an 8-bit chunky RGB page at 300 dpi, as the
// printer's PPD produces it: shared by the tools, the benchmarks and the
// tests that write rasters.
#pragma once

#include <cstring>
#include <cups/raster.h>

inline cups_page_header2_t RgbRasterHeader(unsigned w, unsigned h)
{
  cups_page_header2_t header;
  memset(&header, 0, sizeof(header));
  header.HWResolution[0] = header.HWResolution[1] = 300;
  header.PageSize[0] = (w * 72 + 150) / 300;
  header.PageSize[1] = (h * 72 + 150) / 300;
  header.NumCopies = 1;
  header.cupsWidth = w;
  header.cupsHeight = h;
  header.cupsBitsPerColor = 8;
  header.cupsBitsPerPixel = 24;
  header.cupsBytesPerLine = 3 * w;
  header.cupsColorOrder = CUPS_ORDER_CHUNKED;
  header.cupsColorSpace = CUPS_CSPACE_RGB;
  return header;
}
