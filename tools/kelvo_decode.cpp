// kelvo-inspect: reads a Kelvo printer stream, prints the blocks of every
// page with their decoded fields and a summary line per page, and checks
// the framing as it goes.  With --png it also writes each page as a PNG
// that approximates the printed picture: every plane is mapped back
// through the inverse of the print mode's smear tone curve.
//
// Usage: kelvo-inspect [--png DIR] [--mode N] [--quiet] STREAM
//
// STREAM "-" reads standard input.  --mode is the print mode the stream
// was made with (0 soft, the default; anything else normal).  --quiet
// prints only the summary lines.  The status is 0 for a well-formed
// stream, 1 for a malformed or truncated one (with a message naming the
// page, the block and the byte offset) and 2 for wrong arguments.
#include "image/smear_control.h"
#include "png_io.h"
#include "preview.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

uint32_t BE32(const unsigned char *p)
{
  return (uint32_t)p[0] << 24 | (uint32_t)p[1] << 16 | (uint32_t)p[2] << 8 | p[3];
}

unsigned BE16(const unsigned char *p) { return (unsigned)p[0] << 8 | p[1]; }

// Offsets within a page, from its first byte.
constexpr size_t kTransCmd = 0, kTransDat = 7, kCopiesCmd = 19, kCopiesDat = 26, kModeCmd = 28, kModeDat = 35,
                 kSelectCmd = 46, kSelectDat = 53, kSendCmd = 66, kData = 77;
constexpr size_t kEndBytes = 18;

struct Fault
{
  std::string message;
};

// The head of a command block: 1B, the command code, the data length and 00.
bool HeadIs(const unsigned char *p, unsigned char code, uint32_t length)
{
  return p[0] == 0x1B && p[1] == code && BE32(p + 2) == length && p[6] == 0x00;
}

std::string Hex(const unsigned char *p, size_t n)
{
  std::string s;
  char b[4];
  for (size_t i = 0; i < n; i++)
  {
    snprintf(b, sizeof(b), i ? " %02X" : "%02X", p[i]);
    s += b;
  }
  return s;
}

bool AllZero(const unsigned char *p, size_t n)
{
  for (size_t i = 0; i < n; i++)
    if (p[i] != 0)
      return false;
  return true;
}

struct Page
{
  size_t offset;
  unsigned copies, mode, width, height, spaceFlag;
  uint32_t length;
  const unsigned char *data;
};

// Check one page's framing at s[pos...]; returns an empty message and fills
// page when it is well formed.
std::string ParsePage(const std::vector<unsigned char> &s, size_t pos, int number, Page *page)
{
  char msg[256];
  auto fault = [&](const char *block, size_t at, const std::string &what)
  {
    snprintf(msg, sizeof(msg), "page %d: %s at byte %zu: %s", number, block, pos + at, what.c_str());
    return std::string(msg);
  };
  const size_t left = s.size() - pos;
  if (left < kData)
  {
    snprintf(msg, sizeof(msg), "page %d: truncated: the stream ends %zu bytes into the %zu bytes of page-start blocks",
             number, left, kData);
    return msg;
  }
  const unsigned char *p = &s[pos];
  if (!HeadIs(p + kTransCmd, 0x1E, 12))
    return fault("TransCMD", kTransCmd, "expected 1B 1E 00 00 00 0C 00, found " + Hex(p, 7));
  if (p[kTransDat] != 0x01 || !AllZero(p + kTransDat + 1, 11))
    return fault("TransDAT", kTransDat, "expected 01 and 11 zero bytes, found " + Hex(p + kTransDat, 12));
  if (!HeadIs(p + kCopiesCmd, 0xEE, 2))
    return fault("CopiesCMD", kCopiesCmd, "expected 1B EE 00 00 00 02 00, found " + Hex(p + kCopiesCmd, 7));
  if (p[kCopiesDat] != 0 || p[kCopiesDat + 1] < 1 || p[kCopiesDat + 1] > 99)
    return fault("CopiesDAT", kCopiesDat, "expected 00 and a copy count of 1 to 99, found " + Hex(p + kCopiesDat, 2));
  if (!HeadIs(p + kModeCmd, 0xE1, 11))
    return fault("PrntModeSltCMD", kModeCmd, "expected 1B E1 00 00 00 0B 00, found " + Hex(p + kModeCmd, 7));
  const unsigned char *m = p + kModeDat;
  if (m[0] != 0 || m[2] != 0x0C || !AllZero(m + 3, 4) || (m[1] & 0x1F) != 0x04)
    return fault("PrntModeSltDAT", kModeDat,
                 "expected 00, a mode byte 0x04 with cut bits, 0C and 4 zero bytes, found " + Hex(m, 7));
  if (!HeadIs(p + kSelectCmd, 0x15, 13))
    return fault("ModeSelectCMD", kSelectCmd, "expected 1B 15 00 00 00 0D 00, found " + Hex(p + kSelectCmd, 7));
  const unsigned char *sel = p + kSelectDat;
  static const unsigned char selectFixed[9] = {0, 0, 0, 0, 0x67, 0, 0, 0, 0};
  if (memcmp(sel, selectFixed, 9) != 0)
    return fault("ModeSelectDAT", kSelectDat, "expected 00 00 00 00 67 00 00 00 00, found " + Hex(sel, 9));
  if (memcmp(sel + 9, m + 7, 4) != 0)
    return fault("ModeSelectDAT", kSelectDat + 9,
                 "its size " + Hex(sel + 9, 4) + " differs from the size in PrntModeSltDAT " + Hex(m + 7, 4));
  const unsigned char *send = p + kSendCmd;
  if (send[0] != 0x1B || send[1] != 0xEA || !AllZero(send + 2, 4) || send[10] != 0)
    return fault("SendDataCMD", kSendCmd, "expected 1B EA 00 00 00 00 L L L L 00, found " + Hex(send, 11));

  page->offset = pos;
  page->copies = p[kCopiesDat + 1];
  page->mode = m[1];
  page->width = BE16(m + 7);
  page->height = BE16(m + 9);
  page->length = BE32(send + 6);
  if ((uint64_t)page->length != 3ull * page->width * page->height)
    return fault("SendDataCMD", kSendCmd + 6,
                 "the data length " + std::to_string(page->length) + " is not 3 x " + std::to_string(page->width) +
                     " x " + std::to_string(page->height));
  if (left - kData < (uint64_t)page->length + kEndBytes)
  {
    snprintf(msg, sizeof(msg),
             "page %d: truncated: %u data bytes and %zu bytes of page-end blocks announced, %zu bytes present",
             number, page->length, kEndBytes, left - kData);
    return msg;
  }
  page->data = p + kData;
  const unsigned char *e = page->data + page->length;
  const size_t endAt = kData + page->length;
  if (!(e[0] == 0x1B && e[1] == 0x23 && BE32(e + 2) == 4 && e[6] <= 1))
    return fault("cpybuf", endAt, "expected 1B 23 00 00 00 04 and a space flag of 00 or 01, found " + Hex(e, 7));
  if (e[7] != 0xFF || e[8] != 0xFF || e[9] != 0xFF || e[10] != 0xFF)
    return fault("cpybuf", endAt + 7, "expected FF FF FF FF, found " + Hex(e + 7, 4));
  if (!HeadIs(e + 11, 0x0A, 0))
    return fault("PrintCMD", endAt + 11, "expected 1B 0A 00 00 00 00 00, found " + Hex(e + 11, 7));
  page->spaceFlag = e[6];
  return std::string();
}

bool WritePreview(const Page &page, const unsigned char *hotlut, const std::string &path, std::string *error)
{
  std::vector<unsigned char> rgb = PreviewPicture(page.data, page.width, page.height, hotlut);
  return WritePng(path, page.width, page.height, rgb.data(), 300, error);
}

void PrintBlocks(const Page &page, int number, const std::vector<unsigned char> &s)
{
  const unsigned char *p = &s[page.offset];
  printf("page %d, bytes %zu to %zu:\n", number, page.offset, page.offset + kData + page.length + kEndBytes - 1);
  printf("  TransCMD/DAT        %s\n", Hex(p + kTransDat, 12).c_str());
  printf("  CopiesCMD/DAT       copies %u\n", page.copies);
  printf("  PrntModeSltCMD/DAT  mode byte 0x%02X (0x04 with cut bits 0x%02X), width %u, height %u\n", page.mode,
         page.mode & 0xE0, page.width, page.height);
  printf("  ModeSelectCMD/DAT   width %u, height %u\n", page.width, page.height);
  printf("  SendDataCMD         %u data bytes: 3 planes of %u x %u\n", page.length, page.width, page.height);
  printf("  cpybuf              space flag 0x%02X\n", page.spaceFlag);
  printf("  PrintCMD\n");
}

void PrintSummary(const Page &page, int number)
{
  // Mean of each plane, and how much of the page is 0 in all three planes
  // (paper left white).
  const size_t plane = (size_t)page.width * page.height;
  uint64_t sum[3] = {0, 0, 0};
  size_t blank = 0;
  for (size_t i = 0; i < plane; i++)
  {
    unsigned b = page.data[i], g = page.data[plane + i], r = page.data[2 * plane + i];
    sum[0] += b;
    sum[1] += g;
    sum[2] += r;
    blank += (b | g | r) == 0;
  }
  double n = plane ? (double)plane : 1.0;
  printf("page %d: %ux%u copies %u mode 0x%02X data %u bytes, plane means B %.1f G %.1f R %.1f, blank %.1f%%\n",
         number, page.width, page.height, page.copies, page.mode, page.length, sum[0] / n, sum[1] / n, sum[2] / n,
         100.0 * blank / n);
}

int Usage()
{
  fprintf(stderr, "Usage: kelvo-inspect [--png DIR] [--mode N] [--quiet] STREAM\n");
  return 2;
}

}  // namespace

int main(int argc, char *argv[])
{
  std::string pngDir, input;
  int mode = 0;
  bool quiet = false;
  for (int i = 1; i < argc; i++)
  {
    std::string arg = argv[i];
    if (arg == "--png" && i + 1 < argc)
      pngDir = argv[++i];
    else if (arg == "--mode" && i + 1 < argc)
    {
      char *end;
      mode = (int)strtol(argv[++i], &end, 10);
      if (*end != '\0' || end == argv[i])
        return Usage();
    }
    else if (arg == "--quiet")
      quiet = true;
    else if (input.empty() && (arg == "-" || arg[0] != '-'))
      input = arg;
    else
      return Usage();
  }
  if (input.empty())
    return Usage();

  FILE *f = input == "-" ? stdin : fopen(input.c_str(), "rb");
  if (f == nullptr)
  {
    fprintf(stderr, "kelvo-inspect: %s: %s\n", input.c_str(), strerror(errno));
    return 1;
  }
  std::vector<unsigned char> s;
  std::vector<unsigned char> buf(1 << 20);
  size_t n;
  while ((n = fread(buf.data(), 1, buf.size(), f)) > 0)
    s.insert(s.end(), buf.begin(), buf.begin() + (long)n);
  bool readError = ferror(f);
  if (f != stdin)
    fclose(f);
  if (readError)
  {
    fprintf(stderr, "kelvo-inspect: %s: read error\n", input.c_str());
    return 1;
  }
  if (!pngDir.empty())
  {
    struct stat st;
    if (stat(pngDir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
    {
      fprintf(stderr, "kelvo-inspect: %s is not a folder\n", pngDir.c_str());
      return 2;
    }
  }

  unsigned char hotlut[kSmearLutBytes];
  GetSmearlut(hotlut, mode);

  size_t pos = 0;
  int number = 0;
  while (pos < s.size())
  {
    number++;
    Page page{};
    std::string fault = ParsePage(s, pos, number, &page);
    if (!fault.empty())
    {
      fflush(stdout);
      fprintf(stderr, "kelvo-inspect: %s\n", fault.c_str());
      return 1;
    }
    if (!quiet)
      PrintBlocks(page, number, s);
    PrintSummary(page, number);
    if (!pngDir.empty())
    {
      std::string path = pngDir + "/page-" + std::to_string(number) + ".png", error;
      if (!WritePreview(page, hotlut, path, &error))
      {
        fflush(stdout);
        fprintf(stderr, "kelvo-inspect: %s\n", error.c_str());
        return 1;
      }
      printf("page %d: preview %s\n", number, path.c_str());
    }
    pos += kData + page.length + kEndBytes;
  }
  if (number == 0)
  {
    fprintf(stderr, "kelvo-inspect: the stream holds no page\n");
    return 1;
  }
  return 0;
}
