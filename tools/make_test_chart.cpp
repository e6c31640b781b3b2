// kelvo-chart: writes the project's test chart as PNG, as a PDF with one
// chart per page, or as a CUPS raster job (8-bit RGB, 300 dpi).
//
// Usage: kelvo-chart [--size WIDTHxHEIGHT] [--pages N] [--png FILE] [--pdf FILE] [--raster FILE]
//
// The default size is 1800x1200 pixels, a 6 x 4 inch print at 300 dpi.
// The PNG holds page 1; the PDF and the raster hold every page.
#include "rgb_raster_header.h"
#include "png_io.h"
#include "test_chart.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cups/raster.h>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>
#include <zlib.h>

namespace {

constexpr unsigned kDpi = 300;

int Usage()
{
  fprintf(stderr,
          "Usage: kelvo-chart [--size WIDTHxHEIGHT] [--pages N] [--png FILE] [--pdf FILE] [--raster FILE]\n");
  return 2;
}

bool WriteRasterJob(const std::string &path, unsigned w, unsigned h, unsigned pages)
{
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0)
  {
    perror(path.c_str());
    return false;
  }
  cups_raster_t *ras = cupsRasterOpen(fd, CUPS_RASTER_WRITE_COMPRESSED);
  bool ok = ras != nullptr;
  for (unsigned page = 1; ok && page <= pages; page++)
  {
    cups_page_header2_t header = RgbRasterHeader(w, h);
    ok = cupsRasterWriteHeader2(ras, &header);
    std::vector<unsigned char> rgb = DrawChart(w, h, page);
    for (unsigned y = 0; ok && y < h; y++)
      ok = cupsRasterWritePixels(ras, &rgb[3 * (size_t)w * y], 3 * w) == 3 * w;
  }
  if (ras)
    cupsRasterClose(ras);
  if (close(fd) != 0 || !ok)
  {
    fprintf(stderr, "kelvo-chart: %s: cannot write the raster\n", path.c_str());
    return false;
  }
  return true;
}

// A PDF of one full-page picture per page, the picture deflated.
bool WritePdf(const std::string &path, unsigned w, unsigned h, unsigned pages)
{
  std::string pdf = "%PDF-1.4\n%\xE2\xE3\xCF\xD3\n";
  std::vector<size_t> offsets;  // of objects 1, 2, ...
  auto object = [&](const std::string &body, const std::string &stream = std::string())
  {
    offsets.push_back(pdf.size());
    pdf += std::to_string(offsets.size()) + " 0 obj\n" + body;
    if (!stream.empty() || body.find("/Length") != std::string::npos)
      pdf += "\nstream\n" + stream + "\nendstream";
    pdf += "\nendobj\n";
  };
  // Objects: 1 catalog, 2 page tree, then three per page: page, content, picture.
  const double wpt = w * 72.0 / kDpi, hpt = h * 72.0 / kDpi;
  char size[64];
  snprintf(size, sizeof(size), "%.2f %.2f", wpt, hpt);
  object("<< /Type /Catalog /Pages 2 0 R >>");
  std::string kids;
  for (unsigned p = 0; p < pages; p++)
    kids += std::to_string(3 + 3 * p) + " 0 R ";
  object("<< /Type /Pages /Count " + std::to_string(pages) + " /Kids [" + kids + "] >>");
  for (unsigned p = 0; p < pages; p++)
  {
    const unsigned page = 3 + 3 * p, content = page + 1, image = page + 2;
    object("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 " + std::string(size) + "] /Contents " +
           std::to_string(content) + " 0 R /Resources << /XObject << /Im0 " + std::to_string(image) +
           " 0 R >> >> >>");
    char draw[128];
    snprintf(draw, sizeof(draw), "q %.2f 0 0 %.2f 0 0 cm /Im0 Do Q", wpt, hpt);
    object("<< /Length " + std::to_string(strlen(draw)) + " >>", draw);
    std::vector<unsigned char> rgb = DrawChart(w, h, p + 1);
    uLongf packedSize = compressBound(rgb.size());
    std::string packed(packedSize, '\0');
    if (compress2(reinterpret_cast<Bytef *>(packed.data()), &packedSize, rgb.data(), rgb.size(), 6) != Z_OK)
    {
      fprintf(stderr, "kelvo-chart: cannot compress the picture\n");
      return false;
    }
    packed.resize(packedSize);
    object("<< /Type /XObject /Subtype /Image /Width " + std::to_string(w) + " /Height " + std::to_string(h) +
               " /ColorSpace /DeviceRGB /BitsPerComponent 8 /Filter /FlateDecode /Length " +
               std::to_string(packed.size()) + " >>",
           packed);
  }
  const size_t xref = pdf.size();
  pdf += "xref\n0 " + std::to_string(offsets.size() + 1) + "\n0000000000 65535 f \n";
  for (size_t off : offsets)
  {
    char line[24];
    snprintf(line, sizeof(line), "%010zu 00000 n \n", off);
    pdf += line;
  }
  pdf += "trailer\n<< /Size " + std::to_string(offsets.size() + 1) + " /Root 1 0 R >>\nstartxref\n" +
         std::to_string(xref) + "\n%%EOF\n";

  FILE *f = fopen(path.c_str(), "wb");
  if (f == nullptr)
  {
    perror(path.c_str());
    return false;
  }
  bool ok = fwrite(pdf.data(), 1, pdf.size(), f) == pdf.size();
  ok = fclose(f) == 0 && ok;
  if (!ok)
    fprintf(stderr, "kelvo-chart: %s: cannot write the PDF\n", path.c_str());
  return ok;
}

}  // namespace

int main(int argc, char *argv[])
{
  unsigned w = 1800, h = 1200, pages = 1;
  std::string png, pdf, raster;
  for (int i = 1; i < argc; i++)
  {
    std::string arg = argv[i];
    if (i + 1 >= argc)
      return Usage();
    const char *value = argv[++i];
    if (arg == "--size")
    {
      if (sscanf(value, "%ux%u", &w, &h) != 2 || w < 16 || h < 16 || w > 20000 || h > 20000)
      {
        fprintf(stderr, "kelvo-chart: the size must be WIDTHxHEIGHT, 16 to 20000 pixels each\n");
        return 2;
      }
    }
    else if (arg == "--pages")
    {
      pages = (unsigned)atoi(value);
      if (pages < 1 || pages > 99)
      {
        fprintf(stderr, "kelvo-chart: the page count must be 1 to 99\n");
        return 2;
      }
    }
    else if (arg == "--png")
      png = value;
    else if (arg == "--pdf")
      pdf = value;
    else if (arg == "--raster")
      raster = value;
    else
      return Usage();
  }
  if (png.empty() && pdf.empty() && raster.empty())
    return Usage();

  if (!png.empty())
  {
    std::string error;
    if (!WritePng(png, w, h, DrawChart(w, h, 1).data(), kDpi, &error))
    {
      fprintf(stderr, "kelvo-chart: %s\n", error.c_str());
      return 1;
    }
  }
  if (!pdf.empty() && !WritePdf(pdf, w, h, pages))
    return 1;
  if (!raster.empty() && !WriteRasterJob(raster, w, h, pages))
    return 1;
  return 0;
}
