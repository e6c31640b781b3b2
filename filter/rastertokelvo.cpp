// rastertokelvo: CUPS filter from 8-bit RGB CUPS raster to the Kelvo photo
// printer's command stream.
//
// Usage: rastertokelvo job-id user title copies options [file]
#include "command_stream.h"
#include "page.h"
#include "settings.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

int main(int argc, char *argv[])
{
  setbuf(stderr, nullptr);

  if (argc != 6 && argc != 7)
  {
    fputs("ERROR: rastertokelvo job-id user title copies options [file]\n", stderr);
    return 1;
  }

  // A closed pipe to the backend must show up as a write error, not kill us
  // silently.
  signal(SIGPIPE, SIG_IGN);

  int fd = 0;
  if (argc == 7 && (fd = open(argv[6], O_RDONLY)) < 0)
  {
    perror("ERROR: Unable to open raster file - ");
    sleep(1);
    return 1;
  }

  cups_raster_t *ras = cupsRasterOpen(fd, CUPS_RASTER_READ);
  if (ras == nullptr)
    fprintf(stderr, "ERROR: cupsRasterOpen fd=%d\n", fd);

  JobState job;
  const char *ppdPath = getenv("PPD");
  job.ppd = ppdPath ? ppdOpenFile(ppdPath) : nullptr;
  ResolveSettings(argv[5], job.ppd, &job.settings);
  job.derived = DeriveValues(job.settings);

  Setup();
  bool failed = false;
  cups_page_header_t header;
  while (ras != nullptr && cupsRasterReadHeader(ras, &header))
  {
    if (PrintPage(ras, &header, &job) != kPagePrinted)
    {
      failed = true;
      break;
    }
  }
  Shutdown();

  ppdClose(job.ppd);
  cupsRasterClose(ras);
  if (fd != 0)
    close(fd);

  if (failed)
    return 1;
  if (job.page == 0)
  {
    fputs("ERROR: No pages found!\n", stderr);
    return 1;
  }
  fputs("INFO: CUPS v1.2.12 is ready to print.\n", stderr);
  return 0;
}
