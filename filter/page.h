// One page of a job: header checks and log, the image pipeline fed with the
// page's rows from any source (the filter's raster stream, or the rows a
// printer application is handed), and sending the page to the printer.
#pragma once

#include "settings.h"

#include <cups/ppd.h>
#include <cups/raster.h>

#include <functional>
#include <memory>

// What the page loop keeps for the whole job.
struct JobState
{
  ppd_file_t *ppd = nullptr;
  PrintSettings settings;
  DerivedValues derived;
  unsigned char DmapTbl[9][9][9][3] = {};
  unsigned char hotlut[768] = {};
  int page = 0;  // pages begun so far
};

enum PageResult
{
  kPagePrinted,   // the page was sent whole
  kPageRejected,  // the header cannot be printed safely; nothing was sent
  kPageFailed,    // memory or the output failed; the job must stop
};

// Why the filter cannot print a page with this header, or null when it can.
const char *CheckPageHeader(const cups_page_header_t *header);

// Write the header's fields to the log as DEBUG lines.
void LogPageHeader(const cups_page_header_t *header);

// One page through the pipeline, its rows pushed in by the caller:
//   Begin(header)        checks the header, allocates the page, announces it,
//                        sends the start blocks and starts the stage threads;
//   Row(y), Advance(n)   the caller fills rows in order into Row(y) (3 bytes
//                        a pixel, red, green, blue) and says how many are in
//                        (every 8 rows, as the filter does);
//   Finish(rows)         the rows after the first `rows` are white; runs the
//                        rest of the pipeline and sends the data and the end
//                        blocks;
//   Abandon()            closes a begun page with its end blocks alone, as a
//                        cancel does.
// A page begun and neither finished nor abandoned is abandoned when the
// sink goes away.
class PageSink
{
public:
  explicit PageSink(JobState *job);
  ~PageSink();
  PageSink(const PageSink &) = delete;
  PageSink &operator=(const PageSink &) = delete;

  PageResult Begin(cups_page_header_t *header);
  unsigned char *Row(unsigned y);
  void Advance(unsigned rows);
  PageResult Finish(unsigned rows);
  void Abandon();

  // Called by Finish with the printer data of the page (the three planes),
  // after they were sent and before they are released.
  std::function<void(const unsigned char *planes, const cups_page_header_t &header, const unsigned char *hotlut)>
      onPrinted;

private:
  struct Pipeline;
  void ReleaseBuffers();

  JobState *job_;
  cups_page_header_t header_ = {};
  bool open_ = false;
  unsigned char *colortable_ = nullptr;
  std::unique_ptr<Pipeline> pipeline_;
};

// Print the page whose header was just read from ras.
PageResult PrintPage(cups_raster_t *ras, cups_page_header_t *header, JobState *job);
