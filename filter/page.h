// One page of a job: header checks and log, reading the raster, running the
// image pipeline and sending the page to the printer.
#pragma once

#include "settings.h"

#include <cups/ppd.h>
#include <cups/raster.h>

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

// Print the page whose header was just read from ras.
PageResult PrintPage(cups_raster_t *ras, cups_page_header_t *header, JobState *job);
