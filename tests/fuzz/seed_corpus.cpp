// Writes the fuzzers' seed corpus into a folder: small valid jobs in every
// raster flavour libcups reads (uncompressed, compressed, a version 1
// header), one to three pages, each after the settings bytes.
#include "fuzz_settings.h"
#include "rgb_raster_header.h"

#include <cstdio>
#include <cups/raster.h>
#include <string>
#include <vector>

static std::vector<unsigned char> Pixels(unsigned w, unsigned h, unsigned seed)
{
  std::vector<unsigned char> p(3 * (size_t)w * h);
  for (size_t i = 0; i < p.size(); i++)
    p[i] = (unsigned char)((i * 37 + seed * 101) ^ (i / (3 * w) * 13));
  return p;
}

// A seed file begun with its settings bytes (resize +10, -10 or 0).
static FILE *Seed(const char *dir, unsigned n)
{
  FILE *f = fopen((std::string(dir) + "/seed-" + std::to_string(n)).c_str(), "wb");
  unsigned char s[kFuzzSettingBytes];
  for (size_t i = 0; f && i < kFuzzSettingBytes; i++)
    s[i] = (unsigned char)(i == 3 ? (n % 3 == 0 ? 10 : n % 3 == 1 ? 246 : 0) : n * 29 + i * 7);
  if (f)
    fwrite(s, 1, sizeof(s), f), fflush(f);
  return f;
}

int main(int argc, char *argv[])
{
  if (argc != 2)
  {
    fprintf(stderr, "usage: fuzz_seed_corpus DIR\n");
    return 2;
  }
  unsigned n = 0;
  for (cups_mode_t mode : {CUPS_RASTER_WRITE, CUPS_RASTER_WRITE_COMPRESSED})
    for (unsigned pages = 1; pages <= 3; pages++)
    {
      FILE *f = Seed(argv[1], n++);
      if (f == nullptr)
        return 1;
      cups_raster_t *ras = cupsRasterOpen(fileno(f), mode);
      for (unsigned p = 0; p < pages; p++)
      {
        const unsigned w = 5 + 7 * p, h = 6 + 5 * p;
        cups_page_header2_t header = RgbRasterHeader(w, h);
        header.NumCopies = p + 1;
        cupsRasterWriteHeader2(ras, &header);
        std::vector<unsigned char> px = Pixels(w, h, p);
        cupsRasterWritePixels(ras, px.data(), (unsigned)px.size());
      }
      cupsRasterClose(ras);
      fclose(f);
    }
  // Version 1: "RaSt" with the short header, uncompressed.
  FILE *f = Seed(argv[1], n);
  if (f == nullptr)
    return 1;
  const unsigned sync = CUPS_RASTER_SYNCv1;
  const cups_page_header2_t header = RgbRasterHeader(9, 7);
  const std::vector<unsigned char> px = Pixels(9, 7, 3);
  fwrite(&sync, 4, 1, f);
  fwrite(&header, sizeof(cups_page_header_t), 1, f);
  fwrite(px.data(), 1, px.size(), f);
  fclose(f);
  return 0;
}
