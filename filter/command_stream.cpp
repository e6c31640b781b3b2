// Printer command stream: page-start blocks, the image-data block, page-end
// blocks, and the SIGTERM cancel.
#include "command_stream.h"

#include "page_buffers.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>
#include <utility>

unsigned char *Planes[6];

static int OutputFd = STDOUT_FILENO;

static OutputWriter Writer = nullptr;
static void *WriterContext = nullptr;

void SetOutputFd(int fd) { OutputFd = fd; }

void SetOutputWriter(OutputWriter writer, void *context)
{
  Writer = writer;
  WriterContext = context;
}

// Async-signal-safe on a descriptor: only write(2).
int WriteAll(const void *buf, size_t len)
{
  if (Writer != nullptr)
    return Writer(WriterContext, buf, len);
  const unsigned char *p = static_cast<const unsigned char *>(buf);
  while (len > 0)
  {
    ssize_t n = write(OutputFd, p, len);
    if (n < 0)
    {
      if (errno == EINTR)
        continue;
      return 0;
    }
    if (n == 0)
    {
      errno = EIO;
      return 0;
    }
    p += n;
    len -= (size_t)n;
  }
  return 1;
}

unsigned char CopyCount(unsigned NumCopies)
{
  if (NumCopies == 0)
    return 1;
  if (NumCopies > 99)
    return 99;
  return (unsigned char)NumCopies;
}

unsigned char ModeByte(int multi_chop, unsigned cupsHeight)
{
  unsigned char mode = 0x04;
  switch (multi_chop)
  {
    case 1: mode |= 0xA0; break;
    case 2: mode |= 0x20; break;
    case 3: mode |= 0x40; break;
    default: break;
  }
  switch (cupsHeight)
  {
    case 3616: case 2504: case 3104: case 3704: case 1608:
      mode |= 0xA0;
      break;
    default:
      break;
  }
  return mode;
}

static void PutBE16(unsigned char *p, unsigned v)
{
  p[0] = (unsigned char)(v >> 8);
  p[1] = (unsigned char)v;
}

static void PutBE32(unsigned char *p, unsigned v)
{
  p[0] = (unsigned char)(v >> 24);
  p[1] = (unsigned char)(v >> 16);
  p[2] = (unsigned char)(v >> 8);
  p[3] = (unsigned char)v;
}

int StartPage(ppd_file_t *ppd, cups_page_header_t *header, int multi_chop)
{
  (void)ppd;
  const bool signals = Writer == nullptr;

  // Arm the cancel and send the start blocks as one step: a cancel that
  // arrives meanwhile waits until the printer has the page's start, and
  // then closes the page.
  sigset_t term, old;
  sigemptyset(&term);
  sigaddset(&term, SIGTERM);
  if (signals)
  {
    sigprocmask(SIG_BLOCK, &term, &old);
    struct sigaction action;
    memset(&action, 0, sizeof(action));
    sigemptyset(&action.sa_mask);
    action.sa_handler = CancelJob;
    sigaction(SIGTERM, &action, nullptr);
  }

  unsigned char TransCMD[7] = {0x1B, 0x1E, 0x00, 0x00, 0x00, 0x0C, 0x00};
  unsigned char TransDAT[12] = {0x01};
  unsigned char CopiesCMD[7] = {0x1B, 0xEE, 0x00, 0x00, 0x00, 0x02, 0x00};
  unsigned char CopiesDAT[2] = {0x00, 0x00};
  unsigned char PrntModeSltCMD[7] = {0x1B, 0xE1, 0x00, 0x00, 0x00, 0x0B, 0x00};
  unsigned char PrntModeSltDAT[11] = {0x00, 0x00, 0x0C, 0x00, 0x00, 0x00, 0x00, 0, 0, 0, 0};
  unsigned char ModeSelectCMD[7] = {0x1B, 0x15, 0x00, 0x00, 0x00, 0x0D, 0x00};
  unsigned char ModeSelectDAT[13] = {0x00, 0x00, 0x00, 0x00, 0x67, 0x00, 0x00, 0x00, 0x00, 0, 0, 0, 0};

  CopiesDAT[1] = CopyCount(header->NumCopies);
  PrntModeSltDAT[1] = ModeByte(multi_chop, header->cupsHeight);
  PutBE16(PrntModeSltDAT + 7, header->cupsWidth & 0xFFFF);
  PutBE16(PrntModeSltDAT + 9, header->cupsHeight & 0xFFFF);
  PutBE16(ModeSelectDAT + 9, header->cupsWidth & 0xFFFF);
  PutBE16(ModeSelectDAT + 11, header->cupsHeight & 0xFFFF);

  // Gather the eight blocks into one write: on a pipe the printer either
  // gets all 66 bytes or none of them, even when a cancel interrupts us.
  unsigned char blocks[kStartBlockBytes];
  unsigned char *p = blocks;
  for (auto [data, len] : {std::pair<const unsigned char *, size_t>{TransCMD, 7}, {TransDAT, 12},
                           {CopiesCMD, 7}, {CopiesDAT, 2}, {PrntModeSltCMD, 7},
                           {PrntModeSltDAT, 11}, {ModeSelectCMD, 7}, {ModeSelectDAT, 13}})
  {
    memcpy(p, data, len);
    p += len;
  }
  int ok = WriteAll(blocks, sizeof(blocks));
  if (signals)
    sigprocmask(SIG_SETMASK, &old, nullptr);
  return ok;
}

int OutputLine(cups_page_header_t *header)
{
  // The page loop only accepts pages whose data length fits 32 bits.
  unsigned L = header->cupsWidth * header->cupsHeight * 3;
  unsigned char SendDataCMD[kSendDataCmdBytes] = {0x1B, 0xEA, 0x00, 0x00, 0x00, 0x00, 0, 0, 0, 0, 0x00};
  PutBE32(SendDataCMD + 6, L);
  if (!WriteAll(SendDataCMD, sizeof(SendDataCMD)))
    return 0;
  return WriteAll(Planes[1], L);
}

static void FillEndBlocks(unsigned char *blocks, int SpaceFlag)
{
  unsigned char cpybuf[15] = {0x1B, 0x23, 0x00, 0x00, 0x00, 0x04, 0x00, 0xFF, 0xFF, 0xFF, 0xFF};
  const unsigned char PrintCMD[7] = {0x1B, 0x0A, 0x00, 0x00, 0x00, 0x00, 0x00};
  cpybuf[6] = SpaceFlag == 0 ? 0x01 : 0x00;
  memcpy(blocks, cpybuf, 11);  // only the first 11 of its 15 bytes go out
  memcpy(blocks + 11, PrintCMD, 7);
}

int EndPage(cups_page_header_t *header, int SpaceFlag)
{
  (void)header;
  const bool signals = Writer == nullptr;

  // Hold SIGTERM off while the end blocks go out, so that a cancel arriving
  // now cannot append a second set; once SIGTERM is ignored a pending one is
  // discarded, as it would be between pages.
  sigset_t term, old;
  sigemptyset(&term);
  sigaddset(&term, SIGTERM);
  if (signals)
    sigprocmask(SIG_BLOCK, &term, &old);

  unsigned char blocks[kEndBlockBytes];
  FillEndBlocks(blocks, SpaceFlag);
  int ok = WriteAll(blocks, sizeof(blocks));
  fflush(stdout);

  if (signals)
  {
    struct sigaction action;
    memset(&action, 0, sizeof(action));
    sigemptyset(&action.sa_mask);
    action.sa_handler = SIG_IGN;
    sigaction(SIGTERM, &action, nullptr);
    sigprocmask(SIG_SETMASK, &old, nullptr);
  }

  free(Planes[0]);
  Planes[0] = nullptr;
  free(Planes[1]);
  Planes[1] = nullptr;
  return ok;
}

void CancelJob(int sig)
{
  (void)sig;
  // In a signal handler: no stdio and no free(); the page buffers go with
  // the process.
  unsigned char blocks[kEndBlockBytes];
  FillEndBlocks(blocks, 1);
  WriteAll(blocks, sizeof(blocks));
  _exit(0);
}

void Setup(void) {}
void Shutdown(void) {}
