// The Kelvo driver of the printer application: capabilities and defaults,
// the print settings as vendor attributes, and the raster callbacks that
// push PAPPL's rows through the filter's page pipeline to the device.
#include "app.h"

#include "command_stream.h"
#include "page.h"
#include "page_buffers.h"
#include "preview.h"
#include "random/mt19937ar.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace
{

// The five roll lengths, all 6 inches wide; lengths in hundredths of a
// millimetre chosen so that 300 dpi gives the printer's row counts.
const char *const kMedia[] = {
    "oe_kelvo-6x4_6x4in",           // 1800 x 1200, the default
    "om_kelvo-6x8_152.4x212.01mm",  // 1800 x 2504
    "oe_kelvo-6x9_6x9in",           // 1800 x 2700
    "om_kelvo-6x10_152.4x262.81mm", // 1800 x 3104
    "om_kelvo-6x12_152.4x313.61mm", // 1800 x 3704
};

enum VendorKind
{
  kRange,
  kKeyword,
  kSwitch
};

// The print settings a job or the printer's defaults can set.  A keyword
// setting's values stand for min, min + 1, ...
struct VendorSetting
{
  const char *name;
  int PrintSettings::*field;
  VendorKind kind;
  int min, max;
  const char *label;
};

const char *const kPrintModes[] = {"soft", "normal"};

const VendorSetting kVendor[] = {
    {"kelvo-brightness", &PrintSettings::stp_brightness, kRange, -10, 10, "Brightness"},
    {"kelvo-contrast", &PrintSettings::stp_contrast, kRange, -10, 10, "Contrast"},
    {"kelvo-saturation", &PrintSettings::stp_saturation, kRange, -10, 10, "Saturation"},
    {"kelvo-red", &PrintSettings::stp_red, kRange, -10, 10, "Red"},
    {"kelvo-green", &PrintSettings::stp_green, kRange, -10, 10, "Green"},
    {"kelvo-blue", &PrintSettings::stp_blue, kRange, -10, 10, "Blue"},
    {"kelvo-sharpness", &PrintSettings::stp_sharpness, kRange, -4, 4, "Sharpness (-4 off)"},
    {"kelvo-resize", &PrintSettings::stp_resize, kRange, -20, 20, "Resize (percent)"},
    {"kelvo-print-mode", &PrintSettings::print_mode, kKeyword, 0, 1, "Tone tables (print mode)"},
    {"kelvo-cut-mode", &PrintSettings::multi_chop, kRange, 0, 3, "Cut mode (0 printer default)"},
    {"kelvo-color-table", &PrintSettings::directmap, kSwitch, 0, 1, "Colour table"},
};

// A setting's value from its text as PAPPL keeps it.  Numbers beyond the
// range are clamped; *why says what was wrong with the text, if anything.
int ParseVendor(const VendorSetting &v, const char *text, const char **why)
{
  *why = nullptr;
  switch (v.kind)
  {
    case kRange:
    {
      char *end;
      errno = 0;
      long n = strtol(text, &end, 10);
      if (end == text || *end)
      {
        *why = "is not a number";
        return 0;
      }
      if (errno || n < v.min || n > v.max)
      {
        *why = "is out of range";
        return n < v.min ? v.min : v.max;
      }
      return (int)n;
    }
    case kKeyword:
      for (int i = 0; i <= v.max - v.min; i++)
        if (!strcmp(text, kPrintModes[i]))
          return v.min + i;
      *why = "is not a choice of the setting";
      return v.min;
    case kSwitch:
      if (strcmp(text, "true") && strcmp(text, "false"))
        *why = "is neither true nor false";
      return !strcmp(text, "true");
  }
  return 0;
}

// The process-wide pipeline (page buffers, generator, output) serves one
// job at a time: a job holds it from its start to its end.
std::mutex PipelineMutex;

// What a job keeps between the raster callbacks.
struct AppJob
{
  std::unique_lock<std::mutex> lock{PipelineMutex};
  pappl_job_t *job = nullptr;
  pappl_device_t *device = nullptr;
  JobState state;
  std::unique_ptr<PageSink> sink;
  int grey = 0;  // 1: grey rows (0 black), 2: black rows (0 white), widened to RGB
  unsigned width = 0, height = 0, rows = 0;  // of the page in progress
  bool writeFailed = false;
  // The last page printed, for the preview.
  std::vector<unsigned char> lastPlanes;
  unsigned lastWidth = 0, lastHeight = 0;
  unsigned char lastLut[768] = {};
};

int DeviceWriter(void *context, const void *buf, size_t len)
{
  AppJob *j = static_cast<AppJob *>(context);
  errno = 0;
  if (papplDeviceWrite(j->device, buf, len) < 0)
  {
    if (errno == 0)
      errno = EIO;
    return 0;
  }
  return 1;
}

void DeviceFailed(AppJob *j)
{
  const int err = errno;
  j->writeFailed = true;
  papplPrinterSetReasons(papplJobGetPrinter(j->job), PAPPL_PREASON_OFFLINE, PAPPL_PREASON_NONE);
  papplJobSetMessage(j->job, "Unable to send the page to the printer: %s", strerror(err ? err : EIO));
  papplLogJob(j->job, PAPPL_LOGLEVEL_ERROR, "Unable to send the page to the printer: %s", strerror(err ? err : EIO));
}

// The job's settings: the vendor values PAPPL hands over (the job's own or
// the printer's defaults).  PAPPL 1.3 checks neither their type nor their
// range, so a value out of range is clamped and a value that is none of
// the setting's is left at 0, each with a log line.
PrintSettings SettingsFor(pappl_job_t *job, const pappl_pr_options_t *options)
{
  PrintSettings s;
  for (const VendorSetting &v : kVendor)
  {
    const char *text = cupsGetOption(v.name, options->num_vendor, options->vendor);
    if (text == nullptr)
      continue;
    const char *why;
    s.*v.field = ParseVendor(v, text, &why);
    if (why)
      papplLogJob(job, PAPPL_LOGLEVEL_WARN, "%s=%s %s, using %d.", v.name, text, why, s.*v.field);
  }
  s.monochrome = options->print_color_mode == PAPPL_COLOR_MODE_MONOCHROME;
  return s;
}

AppJob *JobOf(pappl_job_t *job)
{
  return static_cast<AppJob *>(papplJobGetData(job));
}

bool RefuseRawFile(pappl_job_t *job, pappl_pr_options_t *, pappl_device_t *)
{
  papplJobSetMessage(job, "Documents in the printer's own format are not accepted.");
  return false;
}

} // namespace



bool KelvoStartJob(pappl_job_t *job, pappl_pr_options_t *options, pappl_device_t *device)
{
  if (JobOf(job))
    return true;  // a filter that drives the callbacks itself began it
  auto *j = new AppJob;
  j->job = job;
  j->device = device;
  j->state.settings = SettingsFor(job, options);
  j->state.derived = DeriveValues(j->state.settings);
  // As a filter process starts: the generator in its first state.
  init_genrand(5489U);
  SetOutputWriter(DeviceWriter, j);
  papplJobSetData(job, j);
  papplPrinterSetReasons(papplJobGetPrinter(job), PAPPL_PREASON_NONE, PAPPL_PREASON_OFFLINE);
  return true;
}

bool KelvoStartPage(pappl_job_t *job, pappl_pr_options_t *options, pappl_device_t *, unsigned page)
{
  AppJob *j = JobOf(job);
  if (j == nullptr || j->writeFailed)
    return false;

  cups_page_header_t h;
  memcpy(&h, &options->header, sizeof(h));  // the version 1 part
  // 8-bit grey pages are printed as the RGB page of the same greys.
  const int space = (int)h.cupsColorSpace;
  j->grey = 0;
  if (h.cupsBitsPerColor == 8 && h.cupsBitsPerPixel == 8 && h.cupsWidth <= 65535 &&
      h.cupsBytesPerLine == h.cupsWidth)
  {
    if (space == CUPS_CSPACE_SW || space == CUPS_CSPACE_W)
      j->grey = 1;
    else if (space == CUPS_CSPACE_K)
      j->grey = 2;
    if (j->grey)
    {
      h.cupsBitsPerPixel = 24;
      h.cupsBytesPerLine = 3 * h.cupsWidth;
      h.cupsColorSpace = CUPS_CSPACE_SRGB;
    }
  }
  // Copies of pictures PAPPL prints itself, page after page; raster and PDF
  // pages it sends once, and the printer makes the copies, as with the filter.
  const char *format = papplJobGetFormat(job);
  const bool pictures = !strcmp(format, "image/jpeg") || !strcmp(format, "image/png");
  h.NumCopies = pictures || options->copies < 1 ? 1 : (unsigned)options->copies;

  if (const char *reason = CheckPageHeader(&h))
  {
    papplJobSetMessage(job, "Page %u cannot be printed: %s.", page, reason);
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "Page %u (%ux%u, %u bits per pixel, colour space %d) cannot be printed: %s.",
                page, h.cupsWidth, h.cupsHeight, options->header.cupsBitsPerPixel, space, reason);
    return false;
  }

  j->sink = std::make_unique<PageSink>(&j->state);
  if (PreviewEnabled(papplPrinterGetID(papplJobGetPrinter(job))))
    j->sink->onPrinted = [j](const unsigned char *planes, const cups_page_header_t &header, const unsigned char *lut) {
      j->lastWidth = header.cupsWidth;
      j->lastHeight = header.cupsHeight;
      j->lastPlanes.assign(planes, planes + 3 * (size_t)header.cupsWidth * header.cupsHeight);
      memcpy(j->lastLut, lut, sizeof(j->lastLut));
    };
  j->width = h.cupsWidth;
  j->height = h.cupsHeight;
  j->rows = 0;
  if (j->sink->Begin(&h) != kPagePrinted)
  {
    j->sink.reset();
    DeviceFailed(j);
    return false;
  }
  return true;
}

bool KelvoWriteLine(pappl_job_t *job, pappl_pr_options_t *, pappl_device_t *, unsigned y, const unsigned char *line)
{
  AppJob *j = JobOf(job);
  if (j == nullptr || !j->sink)
    return false;
  if (papplJobIsCanceled(job))
  {
    j->sink->Abandon();  // the end blocks close the page the printer has begun
    j->sink.reset();
    return false;
  }
  // Rows come in order, each once; anything else is not a row of this page.
  if (y != j->rows || y >= j->height)
    return true;
  unsigned char *row = j->sink->Row(y);
  if (j->grey)
  {
    const unsigned char flip = j->grey == 2 ? 255 : 0;
    for (unsigned x = 0; x < j->width; x++)
      row[3 * x] = row[3 * x + 1] = row[3 * x + 2] = (unsigned char)(line[x] ^ flip);
  }
  else
    memcpy(row, line, 3 * (size_t)j->width);
  j->rows++;
  if (j->rows % 8 == 0)
    j->sink->Advance(j->rows);
  return true;
}

bool KelvoEndPage(pappl_job_t *job, pappl_pr_options_t *, pappl_device_t *, unsigned)
{
  AppJob *j = JobOf(job);
  if (j == nullptr || !j->sink)
    return false;
  if (papplJobIsCanceled(job))
  {
    j->sink->Abandon();
    j->sink.reset();
    return true;
  }
  const PageResult result = j->sink->Finish(j->rows);
  j->sink.reset();
  if (result != kPagePrinted)
  {
    DeviceFailed(j);
    return false;
  }
  return true;
}

bool KelvoEndJob(pappl_job_t *job, pappl_pr_options_t *, pappl_device_t *device)
{
  AppJob *j = JobOf(job);
  if (j == nullptr)
    return false;
  if (j->sink)
    j->sink->Abandon();
  j->sink.reset();
  SetOutputWriter(nullptr, nullptr);
  papplDeviceFlush(device);
  papplJobSetData(job, nullptr);

  // The preview is made after the pipeline is free for the next job.
  std::vector<unsigned char> planes = std::move(j->lastPlanes);
  const unsigned w = j->lastWidth, h = j->lastHeight;
  unsigned char lut[768];
  memcpy(lut, j->lastLut, sizeof(lut));
  const bool ok = !j->writeFailed;
  delete j;
  // The preview is drawn on a thread of its own: a large page takes seconds
  // to compress, which the job need not wait for.
  if (!planes.empty())
  {
    const int id = papplPrinterGetID(papplJobGetPrinter(job));
    std::vector<unsigned char> curve(lut, lut + sizeof(lut));
    try
    {
      std::thread([id, w, h, planes = std::move(planes), curve = std::move(curve)] {
        std::vector<unsigned char> rgb = PreviewPicture(planes.data(), w, h, curve.data());
        SavePreview(id, rgb.data(), w, h);
      }).detach();
    }
    catch (const std::exception &)
    {
      papplLogJob(job, PAPPL_LOGLEVEL_WARN, "No preview of the last page: no thread for it.");
    }
  }
  return ok;
}

bool KelvoDriver(pappl_system_t *, const char *driver_name, const char *, const char *, pappl_pr_driver_data_t *data,
                 ipp_t **attrs, void *)
{
  if (strcmp(driver_name, kDriverName))
    return false;

  data->printfile_cb = RefuseRawFile;
  data->rstartjob_cb = KelvoStartJob;
  data->rstartpage_cb = KelvoStartPage;
  data->rwriteline_cb = KelvoWriteLine;
  data->rendpage_cb = KelvoEndPage;
  data->rendjob_cb = KelvoEndJob;
  data->format = kKelvoFormat;

  strncpy(data->make_and_model, "Kelvo Photo", sizeof(data->make_and_model) - 1);
  data->ppm = 1;
  data->ppm_color = 1;
  data->kind = PAPPL_KIND_PHOTO;
  data->num_resolution = 1;
  data->x_resolution[0] = data->y_resolution[0] = 300;
  data->x_default = data->y_default = 300;
  data->raster_types = PAPPL_PWG_RASTER_TYPE_SRGB_8;
  data->force_raster_type = PAPPL_PWG_RASTER_TYPE_SRGB_8;
  data->color_supported = PAPPL_COLOR_MODE_AUTO | PAPPL_COLOR_MODE_COLOR | PAPPL_COLOR_MODE_MONOCHROME;
  data->color_default = PAPPL_COLOR_MODE_COLOR;
  data->content_default = PAPPL_CONTENT_PHOTO;
  data->quality_default = IPP_QUALITY_NORMAL;
  data->scaling_default = PAPPL_SCALING_AUTO;
  data->orient_default = IPP_ORIENT_NONE;
  data->sides_supported = PAPPL_SIDES_ONE_SIDED;
  data->sides_default = PAPPL_SIDES_ONE_SIDED;
  data->duplex = PAPPL_DUPLEX_NONE;
  data->borderless = true;
  data->left_right = 0;
  data->bottom_top = 0;

  data->num_media = (int)(sizeof(kMedia) / sizeof(kMedia[0]));
  for (int i = 0; i < data->num_media; i++)
    data->media[i] = kMedia[i];
  data->num_source = 1;
  data->source[0] = "main";
  data->num_type = 1;
  data->type[0] = "photographic-glossy";
  pwg_media_t *pwg = pwgMediaForPWG(kMedia[0]);
  pappl_media_col_t &ready = data->media_ready[0];
  strncpy(ready.size_name, kMedia[0], sizeof(ready.size_name) - 1);
  ready.size_width = pwg->width;
  ready.size_length = pwg->length;
  strncpy(ready.source, "main", sizeof(ready.source) - 1);
  strncpy(ready.type, "photographic-glossy", sizeof(ready.type) - 1);
  data->media_default = ready;

  // The vendor settings: name-supported and name-default of each.
  *attrs = ippNew();
  data->num_vendor = 0;
  for (const VendorSetting &v : kVendor)
  {
    data->vendor[data->num_vendor++] = v.name;
    const std::string supported = std::string(v.name) + "-supported";
    const std::string def = std::string(v.name) + "-default";
    switch (v.kind)
    {
      case kRange:
        ippAddRange(*attrs, IPP_TAG_PRINTER, supported.c_str(), v.min, v.max);
        ippAddInteger(*attrs, IPP_TAG_PRINTER, IPP_TAG_INTEGER, def.c_str(), 0);
        break;
      case kKeyword:
        ippAddStrings(*attrs, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, supported.c_str(), v.max - v.min + 1, nullptr,
                      kPrintModes);
        ippAddString(*attrs, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, def.c_str(), nullptr, kPrintModes[0]);
        break;
      case kSwitch:
        ippAddBoolean(*attrs, IPP_TAG_PRINTER, supported.c_str(), 1);
        ippAddBoolean(*attrs, IPP_TAG_PRINTER, def.c_str(), 0);
        break;
    }
  }
  return true;
}

// Labels for the web pages, in the .strings form PAPPL reads.
static std::string MakeVendorStrings()
{
  std::string s;
  for (const VendorSetting &v : kVendor)
    s += std::string("\"") + v.name + "\" = \"" + v.label + "\";\n";
  s += "\"kelvo-print-mode.soft\" = \"Soft\";\n\"kelvo-print-mode.normal\" = \"Normal\";\n";
  static const char *const sizes[] = {"6 x 4 in", "6 x 8 in", "6 x 9 in", "6 x 10 in", "6 x 12 in"};
  for (size_t i = 0; i < sizeof(kMedia) / sizeof(kMedia[0]); i++)
    s += std::string("\"media.") + kMedia[i] + "\" = \"" + sizes[i] + "\";\n" + "\"" + kMedia[i] + "\" = \"" +
         sizes[i] + "\";\n";
  return s;
}

static const std::string VendorStrings = MakeVendorStrings();
const char *kVendorStringsText() { return VendorStrings.c_str(); }
