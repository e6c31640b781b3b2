// Writes the fuzzers' seed corpus into a folder: small valid jobs in every
// raster flavour libcups reads (uncompressed and compressed, version 1
// headers too), one to three pages, each after the settings bytes.
#include "fuzz_settings.h"
#include "rgb_raster_header.h"

#include <cstdio>
#include <cstring>
#include <cups/raster.h>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

static std::vector<unsigned char> Pixels(unsigned w, unsigned h, unsigned seed)
{
  std::vector<unsigned char> p(3 * (size_t)w * h);
  for (size_t i = 0; i < p.size(); i++)
    p[i] = (unsigned char)((i * 37 + seed * 101) ^ (i / (3 * w) * 13));
  return p;
}

static void WriteSettings(FILE *f, unsigned n)
{
  unsigned char s[kFuzzSettingBytes];
  for (size_t i = 0; i < kFuzzSettingBytes; i++)
    s[i] = (unsigned char)(n * 29 + i * 7);
  s[3] = (unsigned char)(n % 3 == 0 ? 10 : n % 3 == 1 ? 246 : 0);  // resize +10, -10, 0
  fwrite(s, 1, sizeof(s), f);
}

int main(int argc, char *argv[])
{
  if (argc != 2)
  {
    fprintf(stderr, "usage: fuzz_seed_corpus DIR\n");
    return 2;
  }
  const cups_mode_t modes[] = {CUPS_RASTER_WRITE, CUPS_RASTER_WRITE_COMPRESSED};
  unsigned n = 0;
  for (cups_mode_t mode : modes)
    for (unsigned pages = 1; pages <= 3; pages++)
    {
      std::string path = std::string(argv[1]) + "/seed-" + std::to_string(n);
      FILE *f = fopen(path.c_str(), "wb");
      if (f == nullptr)
        return 1;
      WriteSettings(f, n++);
      fflush(f);
      cups_raster_t *ras = cupsRasterOpen(fileno(f), mode);
      for (unsigned p = 0; p < pages; p++)
      {
        unsigned w = 5 + 7 * p, h = 6 + 5 * p;
        cups_page_header2_t header = RgbRasterHeader(w, h);
        header.NumCopies = p + 1;
        cupsRasterWriteHeader2(ras, &header);
        std::vector<unsigned char> px = Pixels(w, h, p);
        for (unsigned y = 0; y < h; y++)
          cupsRasterWritePixels(ras, &px[3 * (size_t)y * w], 3 * w);
      }
      cupsRasterClose(ras);
      fclose(f);
    }
  // Version 1: "RaSt" with the short header, uncompressed.
  {
    std::string path = std::string(argv[1]) + "/seed-" + std::to_string(n);
    FILE *f = fopen(path.c_str(), "wb");
    if (f == nullptr)
      return 1;
    WriteSettings(f, n++);
    const unsigned sync = CUPS_RASTER_SYNCv1;
    fwrite(&sync, 4, 1, f);
    cups_page_header2_t header = RgbRasterHeader(9, 7);
    fwrite(&header, sizeof(cups_page_header_t), 1, f);
    std::vector<unsigned char> px = Pixels(9, 7, 3);
    fwrite(px.data(), 1, px.size(), f);
    fclose(f);
  }
  return 0;
}
