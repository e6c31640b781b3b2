// The body of the page loop: check and log the header, announce the page,
// read it, run the pipeline and send it.
#include "page.h"

#include "command_stream.h"
#include "image/color_correction.h"
#include "image/direct_map.h"
#include "image/resize.h"
#include "image/sharpness.h"
#include "image/smear_control.h"
#include "page_buffers.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

// Header fields as plain ints: the enum-typed ones may hold any value a
// stream puts there, which must not be loaded as the enum itself.
template <class T> static int Field(const T &field)
{
  static_assert(sizeof(T) == sizeof(int));
  int value;
  memcpy(&value, &field, sizeof(value));
  return value;
}

const char *CheckPageHeader(const cups_page_header_t *h)
{
  if (h->cupsBitsPerColor != 8 || h->cupsBitsPerPixel != 24)
    return "only 8-bit RGB raster (24 bits per pixel) can be printed";
  if (Field(h->cupsColorOrder) != CUPS_ORDER_CHUNKED)
    return "only chunky (interleaved) colour order can be printed";
  const int space = Field(h->cupsColorSpace);
  if (space != CUPS_CSPACE_RGB && space != CUPS_CSPACE_SRGB && space != CUPS_CSPACE_ADOBERGB)
    return "only RGB colour can be printed";
  if (h->cupsWidth == 0 || h->cupsHeight == 0)
    return "the page has no pixels";
  if (h->cupsWidth > 65535 || h->cupsHeight > 65535)
    return "the page is larger than 65535 pixels in width or height";
  if ((uint64_t)h->cupsBytesPerLine != 3 * (uint64_t)h->cupsWidth)
    return "the bytes per line do not match the width";
  if (3 * (uint64_t)h->cupsWidth * h->cupsHeight > UINT32_MAX)
    return "the page holds more data than the printer can take";
  return nullptr;
}

void LogPageHeader(const cups_page_header_t *h)
{
  // Text fields are printed bounded to their arrays: a header need not
  // terminate them.
  fprintf(stderr, "DEBUG: MediaClass=%.*s\n", (int)sizeof(h->MediaClass), h->MediaClass);
  fprintf(stderr, "DEBUG: MediaType=%.*s\n", (int)sizeof(h->MediaType), h->MediaType);
  fprintf(stderr, "DEBUG: OutputType=%.*s\n", (int)sizeof(h->OutputType), h->OutputType);
  fprintf(stderr, "DEBUG: AdvanceDistance=%d\n", Field(h->AdvanceDistance));
  fprintf(stderr, "DEBUG: AdvanceMedia=%d\n", Field(h->AdvanceMedia));
  fprintf(stderr, "DEBUG: Collate=%d\n", Field(h->Collate));
  fprintf(stderr, "DEBUG: CutMedia=%d\n", Field(h->CutMedia));
  fprintf(stderr, "DEBUG: Duplex=%d\n", Field(h->Duplex));
  fprintf(stderr, "DEBUG: HWResolution=[%d][%d]\n", Field(h->HWResolution[0]), Field(h->HWResolution[1]));
  fprintf(stderr, "DEBUG: ImagingBoundingBox=[%d][%d][%d][%d]\n", Field(h->ImagingBoundingBox[0]),
          Field(h->ImagingBoundingBox[1]), Field(h->ImagingBoundingBox[2]), Field(h->ImagingBoundingBox[3]));
  fprintf(stderr, "DEBUG: InsertSheet=%d\n", Field(h->InsertSheet));
  fprintf(stderr, "DEBUG: Jog=%d\n", Field(h->Jog));
  fprintf(stderr, "DEBUG: LeadingEdge=%d\n", Field(h->LeadingEdge));
  fprintf(stderr, "DEBUG: Margins=[%d][%d]\n", Field(h->Margins[0]), Field(h->Margins[1]));
  fprintf(stderr, "DEBUG: ManualFeed=%d\n", Field(h->ManualFeed));
  fprintf(stderr, "DEBUG: MediaPosition=%d\n", Field(h->MediaPosition));
  fprintf(stderr, "DEBUG: MediaWeight=%d\n", Field(h->MediaWeight));
  fprintf(stderr, "DEBUG: MirrorPrint=%d\n", Field(h->MirrorPrint));
  fprintf(stderr, "DEBUG: NegativePrint=%d\n", Field(h->NegativePrint));
  fprintf(stderr, "DEBUG: NumCopies=%d\n", Field(h->NumCopies));
  fprintf(stderr, "DEBUG: Orientation=%d\n", Field(h->Orientation));
  fprintf(stderr, "DEBUG: OutputFaceUp=%d\n", Field(h->OutputFaceUp));
  fprintf(stderr, "DEBUG: PageSize=[%d][%d]\n", Field(h->PageSize[0]), Field(h->PageSize[1]));
  fprintf(stderr, "DEBUG: Separations=%d\n", Field(h->Separations));
  fprintf(stderr, "DEBUG: TraySwitch=%d\n", Field(h->TraySwitch));
  fprintf(stderr, "DEBUG: Tumble=%d\n", Field(h->Tumble));
  fprintf(stderr, "DEBUG: cupsWidth=%d\n", Field(h->cupsWidth));
  fprintf(stderr, "DEBUG: cupsHeight=%d\n", Field(h->cupsHeight));
  fprintf(stderr, "DEBUG: cupsMediaType=%d\n", Field(h->cupsMediaType));
  fprintf(stderr, "DEBUG: cupsBitsPerColor=%d\n", Field(h->cupsBitsPerColor));
  fprintf(stderr, "DEBUG: cupsBitsPerPixel=%d\n", Field(h->cupsBitsPerPixel));
  fprintf(stderr, "DEBUG: cupsBytesPerLine=%d\n", Field(h->cupsBytesPerLine));
  fprintf(stderr, "DEBUG: cupsColorOrder=%d\n", Field(h->cupsColorOrder));
  fprintf(stderr, "DEBUG: cupsColorSpace=%d\n", Field(h->cupsColorSpace));
  fprintf(stderr, "DEBUG: cupsCompression=%d\n", Field(h->cupsCompression));
  fprintf(stderr, "DEBUG: cupsRowCount=%d\n", Field(h->cupsRowCount));
  fprintf(stderr, "DEBUG: cupsRowFeed=%d\n", Field(h->cupsRowFeed));
  fprintf(stderr, "DEBUG: cupsRowStep=%d\n", Field(h->cupsRowStep));
}

static void ReleasePageBuffers(unsigned char *colortable)
{
  free(colortable);
  free(Planes[0]);
  Planes[0] = nullptr;
  free(Planes[1]);
  Planes[1] = nullptr;
}

// Read the page's rows into Planes[0].  Rows the raster never delivered are
// left white.  Returns the number of rows read.
static unsigned ReadPage(cups_raster_t *ras, const cups_page_header_t *h, int page)
{
  const size_t rowBytes = 3 * (size_t)h->cupsWidth;
  unsigned y = 0;
  while (y < h->cupsHeight)
  {
    if (y % 128 == 0)
      fprintf(stderr, "INFO: Printing page %d, %u%% complete...\n", page,
              (unsigned)(100 * (uint64_t)y / h->cupsHeight));
    unsigned char *row = Planes[0] + y * rowBytes;
    if ((int)cupsRasterReadPixels(ras, row, h->cupsBytesPerLine) <= 0)
      break;
    y++;
  }
  if (y < h->cupsHeight)
    memset(Planes[0] + y * rowBytes, 255, (h->cupsHeight - y) * rowBytes);
  return y;
}

// Run the image pipeline over Planes[0] and leave the printer data in
// Planes[1].  Returns 0, or kStageNoMemory.
static int RunPipeline(const cups_page_header_t *h, JobState *job, unsigned char *colortable)
{
  PrintSettings &s = job->settings;
  const DerivedValues &d = job->derived;
  const int width = (int)h->cupsWidth;
  const int height = (int)h->cupsHeight;

  memset(colortable, 0, kColorTableBytes);
  if (s.monochrome)
    s.stp_saturation = -10;
  BuildColorTable(colortable, d.bdat, d.gdat, d.rdat, d.contrast, s.stp_saturation);
  unsigned char *DmapTbl = &job->DmapTbl[0][0][0][0];
  int bTableRet = 0;
  if (s.directmap)
    bTableRet = InitDmapTbl(DmapTbl, kDmapTblBytes, s.print_mode);
  ColorCorrectPage(Planes[0], width, height, colortable, bTableRet, DmapTbl);

  int status = 0;
  if (s.stp_resize > 0)
    status = ResizePicture(Planes[0], width, height, s.stp_resize, s.stp_resize);
  else if (s.stp_resize < 0)
    status = ResizePictureAverage(Planes[0], width, height, s.stp_resize, s.stp_resize);
  if (status == kStageNoMemory)
    return status;

  if (PicytureSharpness(width, height, Planes[0], s.stp_sharpness) == kStageNoMemory)
    return kStageNoMemory;

  GetSmearlut(job->hotlut, s.print_mode);
  return SmearControl(Planes[0], h->cupsWidth, h->cupsHeight, job->hotlut, Planes[1]);
}

PageResult PrintPage(cups_raster_t *ras, cups_page_header_t *header, JobState *job)
{
  LogPageHeader(header);

  if (const char *reason = CheckPageHeader(header))
  {
    fprintf(stderr, "ERROR: Page %d (%ux%u, %u bits per pixel): %s.\n", job->page + 1,
            header->cupsWidth, header->cupsHeight, header->cupsBitsPerPixel, reason);
    return kPageRejected;
  }

  // Everything the page needs is allocated before the page is announced, so
  // that a page the memory cannot hold sends nothing to the printer.
  const size_t pageBytes = 3 * (size_t)header->cupsWidth * header->cupsHeight;
  Planes[0] = static_cast<unsigned char *>(malloc(pageBytes));
  Planes[1] = static_cast<unsigned char *>(malloc(pageBytes));
  unsigned char *colortable = static_cast<unsigned char *>(malloc(kColorTableBytes));
  if (Planes[0] == nullptr || Planes[1] == nullptr || colortable == nullptr)
  {
    fprintf(stderr, "ERROR: Page %d: not enough memory for a page of %ux%u pixels.\n",
            job->page + 1, header->cupsWidth, header->cupsHeight);
    ReleasePageBuffers(colortable);
    return kPageFailed;
  }

  job->page++;
  fprintf(stderr, "PAGE: %d %u\n", job->page, header->NumCopies);

  if (!StartPage(job->ppd, header, job->settings.multi_chop))
  {
    fprintf(stderr, "ERROR: Unable to send page %d to the printer: %s\n", job->page, strerror(errno));
    ReleasePageBuffers(colortable);
    return kPageFailed;
  }

  unsigned rows = ReadPage(ras, header, job->page);
  if (rows < header->cupsHeight)
    fprintf(stderr, "ERROR: Page %d: the raster data ended after %u of %u rows; the rest of the page is left white.\n",
            job->page, rows, header->cupsHeight);

  if (RunPipeline(header, job, colortable) == kStageNoMemory)
  {
    // Close the page the printer has begun, as a cancel would.
    fprintf(stderr, "ERROR: Page %d: not enough memory to process the page.\n", job->page);
    free(colortable);
    EndPage(header, 1);
    return kPageFailed;
  }
  free(colortable);

  fputs("INFO: Transfer completion of the image data\n", stderr);
  int sent = OutputLine(header);
  int saved = errno;
  if (!EndPage(header, 1) || !sent)
  {
    fprintf(stderr, "ERROR: Unable to send page %d to the printer: %s\n", job->page,
            strerror(sent ? errno : saved));
    return kPageFailed;
  }
  return kPagePrinted;
}
