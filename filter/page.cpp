// The body of the page loop: check and log the header, announce the page,
// run the pipeline over its rows as they arrive and send it.
#include "page.h"

#include "command_stream.h"
#include "image/color_correction.h"
#include "image/direct_map.h"
#include "image/resize.h"
#include "image/sharpness.h"
#include "image/smear_control.h"
#include "image/parallel.h"
#include "page_buffers.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#ifdef __GLIBC__
#include <malloc.h>
#endif
#include <thread>

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

// Colour correction of the rows of Planes[0] in the order they arrive:
// Correct(n) corrects the rows from the last call's n up to n, contiguous
// rows being one long row to ColorCorrection.
class CorrectInOrder
{
public:
  CorrectInOrder(int width, unsigned char *colortable, int bTableRet, unsigned char *DmapTbl)
    : width_(width), colortable_(colortable), bTableRet_(bTableRet), DmapTbl_(DmapTbl)
  {
  }

  void Correct(int rows)
  {
    // At most 32 rows a call keep the pixel count an int.
    while (done_ < rows)
    {
      const int n = rows - done_ < 32 ? rows - done_ : 32;
      ColorCorrection(Planes[0] + (size_t)done_ * 3 * width_, width_ * n, colortable_, bTableRet_, DmapTbl_);
      done_ += n;
    }
  }

private:
  int width_;
  unsigned char *colortable_;
  int bTableRet_;
  unsigned char *DmapTbl_;
  int done_ = 0;
};

// The image pipeline of one page, fed as its rows arrive in Planes[0],
// leaving the printer data in Planes[1].  With more than one stage thread,
// smear control follows the rows on a thread of its own as they are
// finished (read, colour corrected and sharpened); when a resize needs the
// whole page, the colour is corrected on a second thread while the page is
// read, and the rows are finished after the resize.
struct PageSink::Pipeline
{
  Pipeline(const cups_page_header_t *h, JobState *job, unsigned char *colortable, int bTableRet, bool colour)
    : h(h), job(job), width((int)h->cupsWidth), height((int)h->cupsHeight),
      whole(job->settings.stp_resize != 0), colour(colour),
      correct(width, colortable, bTableRet, &job->DmapTbl[0][0][0][0])
  {
  }

  // Ends the stage threads on every path out: all rows are then final.
  ~Pipeline()
  {
    Join(colourThread, read);
    Join(smear, finished);
  }

  void Join(std::thread &t, RowProgress &p)
  {
    if (t.joinable())
    {
      p.Publish(height);
      t.join();
    }
  }

  // Returns 0, or kStageNoMemory.
  int Start()
  {
    if (sharpen.Start(width, height, Planes[0], job->settings.stp_sharpness) == kStageNoMemory)
      return kStageNoMemory;
    const bool threads = StageThreads() > 1;
    follow = threads && StartThread(smear, [this] {
      smearStatus = SmearControlAsRowsArrive(Planes[0], h->cupsWidth, h->cupsHeight, job->hotlut, Planes[1], &finished);
    });
    colourFollows = whole && colour && threads && StartThread(colourThread, [this] {
      for (int done = 0; done < height;)
      {
        done = read.WaitFor(done + 32 < height ? done + 32 : height);
        correct.Correct(done);
      }
    });
    return 0;
  }

  // Rows 0..n-1 are in Planes[0].
  void OnRows(int n)
  {
    if (colourFollows)
      read.Publish(n);
    else if (!whole)
    {
      if (colour)
        correct.Correct(n);
      finished.Publish(sharpen.Advance(n));
    }
  }

  // Every row is in: the rest of the pipeline.  Returns 0, or kStageNoMemory.
  int Finish()
  {
    const PrintSettings &s = job->settings;
    if (whole)
    {
      if (colourFollows)
        Join(colourThread, read);
      else if (colour)
        correct.Correct(height);
      int status;
      if (s.stp_resize > 0)
        status = ResizePicture(Planes[0], width, height, s.stp_resize, s.stp_resize);
      else
        status = ResizePictureAverage(Planes[0], width, height, s.stp_resize, s.stp_resize);
      if (status == kStageNoMemory)
        return status;
      for (int available = 0; available < height;)
      {
        available = available + 64 < height ? available + 64 : height;
        finished.Publish(sharpen.Advance(available));
      }
    }
    if (follow)
    {
      smear.join();
      return smearStatus;
    }
    return SmearControl(Planes[0], h->cupsWidth, h->cupsHeight, job->hotlut, Planes[1]);
  }

  const cups_page_header_t *h;
  JobState *job;
  const int width, height;
  const bool whole, colour;
  CorrectInOrder correct;
  SharpenInOrder sharpen;
  RowProgress finished, read;  // rows finished for smear control, rows read for the colour thread
  int smearStatus = 0;
  std::thread smear, colourThread;
  bool follow = false, colourFollows = false;
};

// Page buffers come from the heap and stay there between pages, so that
// every page after the first reuses memory already mapped instead of
// faulting in fresh pages (the peak stays that of one page).
static void KeepPageMemory()
{
#ifdef __GLIBC__
  static bool done = false;
  if (!done)
  {
    mallopt(M_MMAP_THRESHOLD, 32 << 20);  // glibc's largest
    mallopt(M_TRIM_THRESHOLD, 256 << 20);
    done = true;
  }
#endif
}

PageSink::PageSink(JobState *job) : job_(job) {}

PageSink::~PageSink()
{
  if (open_)
    Abandon();
}

PageResult PageSink::Begin(cups_page_header_t *header)
{
  KeepPageMemory();
  LogPageHeader(header);

  if (const char *reason = CheckPageHeader(header))
  {
    fprintf(stderr, "ERROR: Page %d (%ux%u, %u bits per pixel): %s.\n", job_->page + 1,
            header->cupsWidth, header->cupsHeight, header->cupsBitsPerPixel, reason);
    return kPageRejected;
  }

  // Everything the page needs is allocated before the page is announced, so
  // that a page the memory cannot hold sends nothing to the printer.
  const size_t pageBytes = 3 * (size_t)header->cupsWidth * header->cupsHeight;
  Planes[0] = static_cast<unsigned char *>(malloc(pageBytes));
  Planes[1] = static_cast<unsigned char *>(malloc(pageBytes));
  colortable_ = static_cast<unsigned char *>(malloc(kColorTableBytes));
  if (Planes[0] == nullptr || Planes[1] == nullptr || colortable_ == nullptr)
  {
    fprintf(stderr, "ERROR: Page %d: not enough memory for a page of %ux%u pixels.\n",
            job_->page + 1, header->cupsWidth, header->cupsHeight);
    ReleaseBuffers();
    return kPageFailed;
  }

  job_->page++;
  fprintf(stderr, "PAGE: %d %u\n", job_->page, header->NumCopies);

  header_ = *header;
  if (!StartPage(job_->ppd, &header_, job_->settings.multi_chop))
  {
    fprintf(stderr, "ERROR: Unable to send page %d to the printer: %s\n", job_->page, strerror(errno));
    ReleaseBuffers();
    return kPageFailed;
  }
  open_ = true;

  PrintSettings &s = job_->settings;
  const DerivedValues &d = job_->derived;
  memset(colortable_, 0, kColorTableBytes);
  if (s.monochrome)
    s.stp_saturation = -10;
  BuildColorTable(colortable_, d.bdat, d.gdat, d.rdat, d.contrast, s.stp_saturation);
  int bTableRet = 0;
  if (s.directmap)
    bTableRet = InitDmapTbl(&job_->DmapTbl[0][0][0][0], kDmapTblBytes, s.print_mode);
  GetSmearlut(job_->hotlut, s.print_mode);

  const bool colour = bTableRet || !IsNeutralColorTable(colortable_);
  pipeline_ = std::make_unique<Pipeline>(&header_, job_, colortable_, bTableRet, colour);
  if (pipeline_->Start() == kStageNoMemory)
  {
    fprintf(stderr, "ERROR: Page %d: not enough memory to process the page.\n", job_->page);
    Abandon();
    return kPageFailed;
  }
  return kPagePrinted;
}

unsigned char *PageSink::Row(unsigned y)
{
  return Planes[0] + (size_t)y * 3 * header_.cupsWidth;
}

void PageSink::Advance(unsigned rows)
{
  pipeline_->OnRows((int)rows);
}

PageResult PageSink::Finish(unsigned rows)
{
  const size_t rowBytes = 3 * (size_t)header_.cupsWidth;
  if (rows < header_.cupsHeight)
    memset(Planes[0] + rows * rowBytes, 255, (header_.cupsHeight - rows) * rowBytes);
  pipeline_->OnRows((int)header_.cupsHeight);

  if (pipeline_->Finish() == kStageNoMemory)
  {
    // Close the page the printer has begun, as a cancel would.
    fprintf(stderr, "ERROR: Page %d: not enough memory to process the page.\n", job_->page);
    Abandon();
    return kPageFailed;
  }
  pipeline_.reset();
  free(colortable_);
  colortable_ = nullptr;
  open_ = false;

  fputs("INFO: Transfer completion of the image data\n", stderr);
  int sent = OutputLine(&header_);
  int saved = errno;
  if (sent && onPrinted)
    onPrinted(Planes[1], header_, job_->hotlut);
  if (!EndPage(&header_, 1) || !sent)
  {
    fprintf(stderr, "ERROR: Unable to send page %d to the printer: %s\n", job_->page,
            strerror(sent ? errno : saved));
    return kPageFailed;
  }
  return kPagePrinted;
}

void PageSink::Abandon()
{
  pipeline_.reset();
  free(colortable_);
  colortable_ = nullptr;
  if (open_)
  {
    open_ = false;
    EndPage(&header_, 1);
  }
}

void PageSink::ReleaseBuffers()
{
  free(colortable_);
  colortable_ = nullptr;
  free(Planes[0]);
  Planes[0] = nullptr;
  free(Planes[1]);
  Planes[1] = nullptr;
}

PageResult PrintPage(cups_raster_t *ras, cups_page_header_t *header, JobState *job)
{
  PageSink sink(job);
  if (PageResult begun = sink.Begin(header); begun != kPagePrinted)
    return begun;

  // Rows the raster never delivers are left white.
  unsigned y = 0;
  while (y < header->cupsHeight)
  {
    if (y % 128 == 0)
      fprintf(stderr, "INFO: Printing page %d, %u%% complete...\n", job->page,
              (unsigned)(100 * (uint64_t)y / header->cupsHeight));
    if ((int)cupsRasterReadPixels(ras, sink.Row(y), header->cupsBytesPerLine) <= 0)
      break;
    y++;
    if (y % 8 == 0)
      sink.Advance(y);
  }
  if (y < header->cupsHeight)
    fprintf(stderr, "ERROR: Page %d: the raster data ended after %u of %u rows; the rest of the page is left white.\n",
            job->page, y, header->cupsHeight);
  return sink.Finish(y);
}
