// Fuzz target: the filter's page path on an arbitrary raster stream read
// from memory, the print settings taken from the leading bytes.
#include "command_stream.h"
#include "fuzz_settings.h"
#include "page.h"

#include <cstring>
#include <cups/raster.h>
#include <fcntl.h>

namespace {

struct Input
{
  const uint8_t *data;
  size_t size;
};

ssize_t ReadInput(void *ctx, unsigned char *buffer, size_t length)
{
  Input *in = static_cast<Input *>(ctx);
  const size_t n = length < in->size ? length : in->size;
  memcpy(buffer, in->data, n);
  in->data += n;
  in->size -= n;
  return (ssize_t)n;
}

// libcups allocates a line as long as the first header's bytes per line
// before the filter sees the header: gigabyte lines would test libcups'
// memory, not the filter.
bool FirstLineIsHuge(const uint8_t *data, size_t size)
{
  const size_t offset = 4 + offsetof(cups_page_header_t, cupsBytesPerLine);
  uint32_t sync, bpl;
  if (size < offset + 4)
    return false;
  memcpy(&sync, data, 4);
  memcpy(&bpl, data + offset, 4);
  if (sync == CUPS_RASTER_REVSYNC || sync == CUPS_RASTER_REVSYNCv1 || sync == CUPS_RASTER_REVSYNCv2 ||
      sync == CUPS_RASTER_REVSYNCapple)
    bpl = __builtin_bswap32(bpl);
  return bpl > (1u << 20);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
  static const int devnull = open("/dev/null", O_WRONLY);
  if (size < kFuzzSettingBytes || FirstLineIsHuge(data + kFuzzSettingBytes, size - kFuzzSettingBytes))
    return 0;
  SetOutputFd(devnull);
  JobState job;
  job.settings = FuzzSettings(data);
  FuzzThreads(data);
  job.derived = DeriveValues(job.settings);
  Input in{data + kFuzzSettingBytes, size - kFuzzSettingBytes};
  cups_raster_t *ras = cupsRasterOpenIO(ReadInput, &in, CUPS_RASTER_READ);
  cups_page_header_t header;
  // Pages above 64 x 64 pixels are left out for speed: their size arithmetic
  // is that of small pages.
  while (ras != nullptr && cupsRasterReadHeader(ras, &header) &&
         (uint64_t)header.cupsWidth * header.cupsHeight <= 64 * 64 && PrintPage(ras, &header, &job) == kPagePrinted)
  {
  }
  cupsRasterClose(ras);
  return 0;
}
