// Test fixtures: CUPS raster streams written with libcups, PPD files with
// chosen default choices, running the built filter as a subprocess, and
// splitting its output into pages.
#pragma once

#include <cups/raster.h>

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

// A temporary folder removed with everything in it when it goes.
class TempDir
{
public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir &) = delete;
  TempDir &operator=(const TempDir &) = delete;
  const std::string &path() const { return path_; }
  std::string File(const std::string &name) const { return path_ + "/" + name; }

private:
  std::string path_;
};

// n bytes from std::mt19937 seeded with seed, one output's low byte each.
std::vector<unsigned char> RandomBytes(size_t n, uint32_t seed);

// One raster page: a header and its pixel bytes (cupsBytesPerLine per row).
struct RasterPage
{
  cups_page_header2_t header;
  std::vector<unsigned char> data;
};

// An 8-bit RGB page of w x h pixels; pixel(x, y, rgb) fills each pixel, or
// the page is mid-grey when it is not given.
RasterPage RgbPage(unsigned w, unsigned h,
                   const std::function<void(unsigned x, unsigned y, unsigned char *rgb)> &pixel = {});

// An RGB page whose pixel bytes are taken from a flat buffer of 3 * w * h bytes.
RasterPage RgbPageFrom(unsigned w, unsigned h, const std::vector<unsigned char> &rgb);

// Write pages through libcups in the given mode (CUPS_RASTER_WRITE,
// CUPS_RASTER_WRITE_COMPRESSED ...).  Headers libcups refuses fail the test.
void WriteRaster(const std::string &path, const std::vector<RasterPage> &pages,
                 cups_mode_t mode = CUPS_RASTER_WRITE);

// Write an uncompressed version-1 stream byte by byte, headers as given:
// for headers libcups itself would not write.  data is written as it is.
void WriteRawRaster(const std::string &path, const std::vector<RasterPage> &pages);

// Write a PPD for the printer whose options have the given default choices
// (keyword -> default choice).  Options not named are left out.
void WritePpd(const std::string &path, const std::map<std::string, std::string> &defaults);

// Everything a test may set for one run of the filter.
struct FilterInvocation
{
  std::string options;                      // argv[5]
  std::optional<std::string> file;          // argv[6], when set
  std::optional<std::string> ppd;           // PPD environment variable, when set
  std::string stdinPath = "/dev/null";      // standard input
  std::string stdoutPath;                   // empty: a temporary file
  std::optional<std::vector<std::string>> argv;  // overrides the five/six arguments
  bool closeStdout = false;                 // run with standard output closed
  long memoryLimit = 0;                     // address-space limit in bytes, 0 for none
};

struct FilterResult
{
  int status = -1;       // exit status, or -1 when killed by a signal
  int signal = 0;        // the signal that ended it, or 0
  std::string out;       // standard output
  std::string err;       // standard error
  long maxRssKb = 0;     // peak resident memory of the filter
};

FilterResult RunFilter(const FilterInvocation &inv);

// Any program run to its end: the same fields.
using CommandResult = FilterResult;

// The program's path when it is installed (PATH, /usr/sbin, /sbin), or the
// name itself when it holds a slash and can be run; else "".
std::string FindProgram(const std::string &name);

// Run argv (argv[0] is looked up with FindProgram) with standard input from
// /dev/null and extra NAME=VALUE environment entries.
CommandResult RunCommand(const std::vector<std::string> &argv, const std::vector<std::string> &env = {});

// A filter started with a pipe on its standard input, for tests that feed
// the raster slowly or signal the process.
struct RunningFilter
{
  pid_t pid = -1;
  int stdinFd = -1;  // write end of the filter's standard input
  std::string outPath, errPath;
};

RunningFilter StartFilter(const FilterInvocation &inv, const std::string &dir);
FilterResult WaitFilter(RunningFilter &run);

// Write all bytes to a descriptor; false on error.
bool WriteFd(int fd, const void *data, size_t len);

// The raster bytes that WriteRaster would produce, for feeding a pipe.
std::vector<unsigned char> RasterBytes(const std::vector<RasterPage> &pages,
                                       cups_mode_t mode = CUPS_RASTER_WRITE);

// One page of the printer stream.
struct PageBlocks
{
  std::vector<unsigned char> start;  // 66 bytes of page-start blocks
  std::vector<unsigned char> sendCmd;  // 11 bytes
  std::vector<unsigned char> data;   // L bytes of printer data
  std::vector<unsigned char> end;    // 18 bytes of page-end blocks
  unsigned copies() const { return start[27]; }
  unsigned mode() const { return start[36]; }
  unsigned width() const { return start[42] << 8 | start[43]; }
  unsigned height() const { return start[44] << 8 | start[45]; }
};

// Split a stream into pages; a stream that does not split exactly fails
// the calling test.
std::vector<PageBlocks> SplitPages(const std::string &out);

// The standard-error lines that start with prefix.
std::vector<std::string> LinesWith(const std::string &err, const std::string &prefix);

// The 18 bytes every page ends with.
const std::vector<unsigned char> &EndBlocks();

std::string ReadFile(const std::string &path);
