// The document formats of the printer application and the filters it adds
// to PAPPL's: PNG and JPEG decoded here (PAPPL 1.3.1's PNG reader never ends
// on a truncated file, and its grey pictures go wrong on a colour printer),
// and PDF rasterised by Ghostscript, its pages fed to the driver.
#include "app.h"

#include <cerrno>
#include <csetjmp>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <jpeglib.h>
#include <png.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace
{

// An RGB picture fits the limits PAPPL is configured with.
bool FitsLimits(pappl_job_t *job, unsigned w, unsigned h)
{
  int maxWidth, maxHeight;
  const size_t maxSize =
      papplSystemGetMaxImageSize(papplPrinterGetSystem(papplJobGetPrinter(job)), &maxWidth, &maxHeight);
  if (w == 0 || h == 0 || w > (unsigned)maxWidth || h > (unsigned)maxHeight || 3 * (size_t)w * h > maxSize)
  {
    papplJobSetMessage(job, "The picture (%ux%u pixels) is too large to print.", w, h);
    return false;
  }
  return true;
}

// Prints one RGB picture as PAPPL places pictures on the page.
bool PrintPicture(pappl_job_t *job, pappl_device_t *device, const std::vector<unsigned char> &rgb, unsigned w,
                  unsigned h, int ppi)
{
  pappl_pr_options_t *options = papplJobCreatePrintOptions(job, 1, true);
  const bool ok = papplJobFilterImage(job, device, options, rgb.data(), (int)w, (int)h, 3, ppi, true);
  papplJobDeletePrintOptions(options);
  return ok;
}

bool PngFilter(pappl_job_t *job, pappl_device_t *device, void *)
{
  png_image image;
  memset(&image, 0, sizeof(image));
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, papplJobGetFilename(job)))
  {
    papplJobSetMessage(job, "The PNG picture cannot be read: %s.", image.message);
    return false;
  }
  if (!FitsLimits(job, image.width, image.height))
  {
    png_image_free(&image);
    return false;
  }
  // Any PNG (grey, palette, 16 bits, alpha over white) as 8-bit RGB.
  image.format = PNG_FORMAT_RGB;
  std::vector<unsigned char> rgb(PNG_IMAGE_SIZE(image));
  png_color white = {255, 255, 255};
  if (!png_image_finish_read(&image, &white, rgb.data(), 0, nullptr))
  {
    papplJobSetMessage(job, "The PNG picture is damaged: %s.", image.message);
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "PNG: %s", image.message);
    return false;
  }
  return PrintPicture(job, device, rgb, image.width, image.height, 0);
}

struct JpegError
{
  jpeg_error_mgr mgr;
  jmp_buf jump;
  char message[JMSG_LENGTH_MAX];
};

void JpegFail(j_common_ptr cinfo)
{
  JpegError *err = reinterpret_cast<JpegError *>(cinfo->err);
  (*cinfo->err->format_message)(cinfo, err->message);
  longjmp(err->jump, 1);
}

bool JpegFilter(pappl_job_t *job, pappl_device_t *device, void *)
{
  FILE *fp = fopen(papplJobGetFilename(job), "rb");
  if (fp == nullptr)
  {
    papplJobSetMessage(job, "The JPEG picture cannot be opened: %s.", strerror(errno));
    return false;
  }
  jpeg_decompress_struct cinfo;
  JpegError err;
  std::vector<unsigned char> rgb;
  cinfo.err = jpeg_std_error(&err.mgr);
  err.mgr.error_exit = JpegFail;
  if (setjmp(err.jump))
  {
    papplJobSetMessage(job, "The JPEG picture is damaged: %s.", err.message);
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "JPEG: %s", err.message);
    jpeg_destroy_decompress(&cinfo);
    fclose(fp);
    return false;
  }
  jpeg_create_decompress(&cinfo);
  jpeg_stdio_src(&cinfo, fp);
  jpeg_read_header(&cinfo, TRUE);
  // Grey and YCbCr pictures as RGB; libjpeg refuses CMYK here.
  cinfo.out_color_space = JCS_RGB;
  jpeg_start_decompress(&cinfo);
  const unsigned w = cinfo.output_width, h = cinfo.output_height;
  if (cinfo.output_components != 3 || !FitsLimits(job, w, h))
  {
    jpeg_destroy_decompress(&cinfo);
    fclose(fp);
    return false;
  }
  rgb.resize(3 * (size_t)w * h);
  while (cinfo.output_scanline < h)
  {
    JSAMPROW row = rgb.data() + 3 * (size_t)w * cinfo.output_scanline;
    jpeg_read_scanlines(&cinfo, &row, 1);
  }
  int ppi = 0;
  if (cinfo.density_unit == 1 && cinfo.X_density == cinfo.Y_density)
    ppi = cinfo.X_density;
  else if (cinfo.density_unit == 2 && cinfo.X_density == cinfo.Y_density)
    ppi = (int)(cinfo.X_density * 254 / 100);
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  fclose(fp);
  return PrintPicture(job, device, rgb, w, h, ppi);
}

// Ghostscript renders the PDF at 300 dpi as 8-bit sRGB raster, each page
// fitted to the job's paper; the pages go through the driver's callbacks.
// Returns the pages printed, or -1 when the job must stop.
int PrintPdf(pappl_job_t *job, pappl_device_t *device, pappl_pr_options_t *options)
{
  const std::string size = "-g" + std::to_string(options->header.cupsWidth) + "x" +
                           std::to_string(options->header.cupsHeight);
  const char *filename = papplJobGetFilename(job);
  int out[2];
  if (pipe(out) < 0)
    return -1;
  const pid_t pid = fork();
  if (pid == 0)
  {
    dup2(out[1], 1);
    int null = open("/dev/null", O_RDWR);
    dup2(null, 0);
    dup2(null, 2);
    close(out[0]);
    close(out[1]);
    execlp("gs", "gs", "-q", "-dSAFER", "-dBATCH", "-dNOPAUSE", "-dNOINTERPOLATE", "-sDEVICE=pwgraster",
           "-dcupsColorSpace=19", "-dcupsBitsPerColor=8", "-r300", size.c_str(), "-dFIXEDMEDIA", "-dPDFFitPage",
           "-sOutputFile=%stdout", "-f", filename, (char *)nullptr);
    _exit(127);
  }
  close(out[1]);
  if (pid < 0)
  {
    close(out[0]);
    return -1;
  }

  int pages = 0;
  bool failed = false;
  cups_raster_t *ras = cupsRasterOpen(out[0], CUPS_RASTER_READ);
  std::vector<unsigned char> line;
  while (!failed && ras && cupsRasterReadHeader2(ras, &options->header))
  {
    if (!KelvoStartPage(job, options, device, (unsigned)pages + 1))
    {
      failed = true;
      break;
    }
    line.assign(options->header.cupsBytesPerLine, 255);
    for (unsigned y = 0; y < options->header.cupsHeight && !failed; y++)
    {
      if (cupsRasterReadPixels(ras, line.data(), (unsigned)line.size()) == 0)
        memset(line.data(), 255, line.size());
      failed = !KelvoWriteLine(job, options, device, y, line.data());
    }
    if (!KelvoEndPage(job, options, device, (unsigned)pages + 1) || failed)
    {
      failed = true;
      break;
    }
    pages++;
    papplJobSetImpressionsCompleted(job, 1);
  }
  cupsRasterClose(ras);
  if (failed)
    kill(pid, SIGTERM);
  close(out[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  if (failed)
    return -1;
  if (pages == 0)
  {
    papplJobSetMessage(job, "The PDF document is damaged or has no pages (Ghostscript status %d).",
                       WIFEXITED(status) ? WEXITSTATUS(status) : -1);
    return -1;
  }
  return pages;
}

bool PdfFilter(pappl_job_t *job, pappl_device_t *device, void *)
{
  pappl_pr_options_t *options = papplJobCreatePrintOptions(job, 0, true);
  bool ok = KelvoStartJob(job, options, device);
  ok = ok && PrintPdf(job, device, options) > 0;
  ok = KelvoEndJob(job, options, device) && ok;
  papplJobDeletePrintOptions(options);
  return ok || papplJobIsCanceled(job);
}

} // namespace

void AddDocumentFilters(pappl_system_t *system)
{
  papplSystemAddMIMEFilter(system, "image/png", kKelvoFormat, PngFilter, nullptr);
  papplSystemAddMIMEFilter(system, "image/jpeg", kKelvoFormat, JpegFilter, nullptr);
  papplSystemAddMIMEFilter(system, "application/pdf", kKelvoFormat, PdfFilter, nullptr);
}
