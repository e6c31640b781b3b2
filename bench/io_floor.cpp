// kelvo-io-floor: the least work a filter for this printer can do.  Reads
// every page through libcups as the filter does (header, then the rows into
// one page buffer) and writes L + 95 bytes per page (the page's bytes and
// the size of its command blocks) to standard output, with no image work.
// The whole-job benchmark measures the filter against it.
//
// Usage: kelvo-io-floor [file]
#include "command_stream.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cups/raster.h>
#include <fcntl.h>
#ifdef __GLIBC__
#include <malloc.h>
#endif
#include <unistd.h>

int main(int argc, char *argv[])
{
#ifdef __GLIBC__
  // The filter keeps its page buffers in the heap between pages; so does
  // the floor, so that neither pays for fresh pages after the first.
  mallopt(M_MMAP_THRESHOLD, 32 << 20);
  mallopt(M_TRIM_THRESHOLD, 256 << 20);
#endif
  int fd = argc > 1 ? open(argv[1], O_RDONLY) : 0;
  if (fd < 0)
  {
    perror(argv[1]);
    return 1;
  }
  cups_raster_t *ras = cupsRasterOpen(fd, CUPS_RASTER_READ);
  cups_page_header_t header;
  int pages = 0;
  while (cupsRasterReadHeader(ras, &header))
  {
    const size_t rowBytes = header.cupsBytesPerLine;
    const size_t L = rowBytes * header.cupsHeight;
    unsigned char *page = static_cast<unsigned char *>(malloc(L));
    unsigned char blocks[95] = {0x1B};
    if (page == nullptr)
      return 1;
    for (unsigned y = 0; y < header.cupsHeight; y++)
      if (cupsRasterReadPixels(ras, page + y * rowBytes, header.cupsBytesPerLine) == 0)
        break;
    if (!WriteAll(blocks, 77) || !WriteAll(page, L) || !WriteAll(blocks, 18))
      return 1;
    free(page);
    pages++;
  }
  cupsRasterClose(ras);
  fprintf(stderr, "%d pages\n", pages);
  return pages > 0 ? 0 : 1;
}
