// The printer command stream: the blocks written before, during and after
// each page, and the SIGTERM cancel that closes the page being printed.
//
// Everything reaches the output descriptor through write(2), never through a
// stdio buffer, so that the SIGTERM handler can append the page-end blocks
// with the same system call and nothing is duplicated or lost.
#pragma once

#include <cups/ppd.h>
#include <cups/raster.h>

// Bytes of the blocks around the image data of one page.
constexpr unsigned kStartBlockBytes = 66;   // TransCMD .. ModeSelectDAT
constexpr unsigned kSendDataCmdBytes = 11;  // SendDataCMD
constexpr unsigned kEndBlockBytes = 18;     // cpybuf (11) + PrintCMD (7)

// Where the stream goes; standard output unless a test or fuzz harness
// redirects it.
void SetOutputFd(int fd);

// Or a writer instead of a descriptor (a printer application's device):
// writer returns 1 when all of buf went out, else 0 with errno set.  While
// a writer is set, the page blocks leave SIGTERM alone: the program that
// set it handles its own signals and cancels.  A null writer goes back to
// the descriptor.
using OutputWriter = int (*)(void *context, const void *buf, size_t len);
void SetOutputWriter(OutputWriter writer, void *context);

// Write all of buf to the output, retrying short writes and EINTR.
// Returns 1 on success and 0 on a write error (errno is kept).
int WriteAll(const void *buf, size_t len);

// Mode byte of PrntModeSltDAT: 0x04 with the cut bits of multi_chop and of
// the page height.
unsigned char ModeByte(int multi_chop, unsigned cupsHeight);

// Copy count sent to the printer: NumCopies clamped to 1..99.
unsigned char CopyCount(unsigned NumCopies);

// Each returns 1 when its bytes were written and 0 on a write error.
int StartPage(ppd_file_t *ppd, cups_page_header_t *header, int multi_chop);
int OutputLine(cups_page_header_t *header);
int EndPage(cups_page_header_t *header, int SpaceFlag);

// SIGTERM handler armed by StartPage: writes the page-end blocks and ends
// the process with status 0.  Async-signal-safe.
void CancelJob(int sig);

// Job-level hooks; they do nothing.
void Setup(void);
void Shutdown(void);
