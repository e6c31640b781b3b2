// Test fixtures: CUPS raster streams written with libcups, PPD files with
// chosen default choices, running the built filter and other programs, and
// splitting the filter's output into pages.
#pragma once

#include <cups/raster.h>

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

// A temporary folder, removed with everything in it when it goes.
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

// A w x h RGB page from seed: noise, gradients, hard edges or skin tones,
// with 0 and 255 among them.
std::vector<unsigned char> RandomPage(int w, int h, uint32_t seed);

struct RasterPage
{
  cups_page_header2_t header;
  std::vector<unsigned char> data;  // cupsBytesPerLine per row
};

// An 8-bit RGB page of w x h pixels, filled by pixel(x, y, rgb) or mid-grey.
RasterPage RgbPage(unsigned w, unsigned h, const std::function<void(unsigned, unsigned, unsigned char *)> &pixel = {});

// Write pages through libcups (CUPS_RASTER_WRITE, ..._COMPRESSED); a header
// libcups refuses fails the test.
void WriteRaster(const std::string &path, const std::vector<RasterPage> &pages, cups_mode_t mode = CUPS_RASTER_WRITE);

// A PPD whose options (keyword -> default choice) are the ones named.
void WritePpd(const std::string &path, const std::map<std::string, std::string> &defaults);

// One run of the filter, as CUPS starts it (SIGTERM and SIGPIPE at their
// default actions).
struct FilterInvocation
{
  std::string options;                      // argv[5]
  std::optional<std::string> file;          // argv[6], when set
  std::optional<std::string> ppd;           // PPD environment variable, when set
  std::string stdinPath = "/dev/null";
  std::string stdoutPath;                   // empty: a temporary file
  std::optional<std::vector<std::string>> argv;  // replaces the five or six arguments
  bool closeStdout = false;
  long memoryLimit = 0;                     // address-space limit in bytes, 0 for none
  int stdoutFd = -1;                        // standard output instead of stdoutPath
  std::vector<std::string> env;             // NAME=VALUE entries added to the environment
};

struct FilterResult
{
  int status = -1;  // exit status, or -1 when killed by a signal
  int signal = 0;   // the signal that ended it, or 0
  std::string out, err;
};
using CommandResult = FilterResult;

FilterResult RunFilter(const FilterInvocation &inv);

// The program's path (PATH, /usr/sbin, /sbin), or the name itself when it
// holds a slash and can be run; else "".
std::string FindProgram(const std::string &name);
// Run argv with standard input from /dev/null and extra NAME=VALUE
// environment entries.
CommandResult RunCommand(const std::vector<std::string> &argv, const std::vector<std::string> &env = {});

// A filter started with a pipe on its standard input (stdinPath is not
// read), its output and errors going to files in dir.
struct RunningFilter
{
  pid_t pid = -1;
  int stdinFd = -1;  // the pipe's write end
  std::string outPath, errPath;
};
RunningFilter StartFilter(const FilterInvocation &inv, const std::string &dir);
FilterResult WaitFilter(RunningFilter &run);  // closes stdinFd first

std::string ReadFile(const std::string &path);

// One page of the printer stream.
struct PageBlocks
{
  std::vector<unsigned char> start, sendCmd, data;  // 66, 11 and L bytes
  std::string end;                                  // 18 bytes
  unsigned copies() const { return start[27]; }
  unsigned mode() const { return start[36]; }
  unsigned width() const { return start[42] << 8 | start[43]; }
  unsigned height() const { return start[44] << 8 | start[45]; }
};
// A stream that does not split exactly into pages fails the calling test.
std::vector<PageBlocks> SplitPages(const std::string &out);
// The 18 bytes every page ends with.
inline const std::string kEndBlocks("\x1B\x23\0\0\0\x04\0\xFF\xFF\xFF\xFF\x1B\x0A\0\0\0\0\0", 18);

// The lines of err that start with prefix.
std::vector<std::string> LinesWith(const std::string &err, const std::string &prefix);
