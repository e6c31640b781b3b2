// Test fixtures shared by the suites.
#include "support/fixtures.h"

#include "rgb_raster_header.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <random>
#include <signal.h>
#include <sstream>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

TempDir::TempDir()
{
  const char *base = getenv("TMPDIR");
  std::string templ = std::string(base && *base ? base : "/tmp") + "/kelvo-test-XXXXXX";
  if (mkdtemp(templ.data()) == nullptr)
    throw std::runtime_error("mkdtemp failed");
  path_ = templ;
}

TempDir::~TempDir()
{
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::vector<unsigned char> RandomPage(int w, int h, uint32_t seed)
{
  std::mt19937 gen(seed);
  std::vector<unsigned char> p(3 * (size_t)w * h);
  const uint32_t kind = gen() % 4, r0 = gen() % 256, g0 = gen() % 256, b0 = gen() % 256;
  for (int y = 0; y < h; y++)
    for (int x = 0; x < w; x++)
    {
      const uint32_t n = gen();
      uint32_t r, g, b;
      if (kind == 0 || n % 7 == 0)
        r = n, g = n >> 8, b = n >> 16;
      else if (kind == 1)
        r = r0 + 3 * x, g = g0 + 2 * y, b = b0 + x + y;
      else if (kind == 2)
        r = g = (x / 3 + y / 2) % 2 ? 255 : 0, b = n % 3 ? r : 255 - r;
      else
        r = 200 + n % 40, g = 150 + (n >> 8) % 30, b = 120 + (n >> 16) % 30;
      unsigned char *px = &p[3 * ((size_t)y * w + x)];
      px[0] = (unsigned char)r, px[1] = (unsigned char)g, px[2] = (unsigned char)b;
    }
  return p;
}

RasterPage RgbPage(unsigned w, unsigned h, const std::function<void(unsigned, unsigned, unsigned char *)> &pixel)
{
  RasterPage page{RgbRasterHeader(w, h), std::vector<unsigned char>(3 * (size_t)w * h, 128)};
  for (unsigned y = 0; pixel && y < h; y++)
    for (unsigned x = 0; x < w; x++)
      pixel(x, y, &page.data[3 * ((size_t)y * w + x)]);
  return page;
}

void WriteRaster(const std::string &path, const std::vector<RasterPage> &pages, cups_mode_t mode)
{
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ASSERT_GE(fd, 0) << path;
  cups_raster_t *ras = cupsRasterOpen(fd, mode);
  for (const RasterPage &page : pages)
  {
    cups_page_header2_t header = page.header;
    ASSERT_TRUE(cupsRasterWriteHeader2(ras, &header)) << "libcups refused the header";
    const unsigned bpl = header.cupsBytesPerLine;
    for (size_t off = 0; bpl > 0 && off + bpl <= page.data.size(); off += bpl)
      ASSERT_EQ(cupsRasterWritePixels(ras, const_cast<unsigned char *>(&page.data[off]), bpl), bpl);
  }
  cupsRasterClose(ras);
  close(fd);
}

void WritePpd(const std::string &path, const std::map<std::string, std::string> &defaults)
{
  std::ofstream f(path);
  f << "*PPD-Adobe: \"4.3\"\n*FormatVersion: \"4.3\"\n*FileVersion: \"1.0\"\n*LanguageVersion: English\n"
       "*LanguageEncoding: ISOLatin1\n*PCFileName: \"KELVOTST.PPD\"\n*Manufacturer: \"Kelvo\"\n"
       "*Product: \"(Kelvo Test)\"\n*ModelName: \"Kelvo Test\"\n*ShortNickName: \"Kelvo Test\"\n"
       "*NickName: \"Kelvo Test\"\n*PSVersion: \"(3010.000) 0\"\n*ColorDevice: True\n"
       "*cupsFilter: \"application/vnd.cups-raster 0 rastertokelvo\"\n";
  for (const auto &[keyword, choice] : defaults)
  {
    f << "*OpenUI *" << keyword << "/" << keyword << ": PickOne\n*Default" << keyword << ": " << choice << "\n";
    if (!choice.empty())
      f << "*" << keyword << " " << choice << "/" << choice << ": \"\"\n";
    f << "*CloseUI: *" << keyword << "\n";
  }
}

std::string ReadFile(const std::string &path)
{
  std::ifstream f(path, std::ios::binary);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

std::string FindProgram(const std::string &name)
{
  if (name.find('/') != std::string::npos)
    return access(name.c_str(), X_OK) == 0 ? name : "";
  std::istringstream dirs(std::string(getenv("PATH") ? getenv("PATH") : "") + ":/usr/sbin:/sbin:/usr/bin:/bin");
  for (std::string dir; std::getline(dirs, dir, ':');)
    if (!dir.empty() && access((dir + "/" + name).c_str(), X_OK) == 0)
      return dir + "/" + name;
  return "";
}

// Fork and exec: standard input from inFd (or inPath), output to outFd (or
// outPath), errors to errPath, the NAME=VALUE entries of env added to the
// environment; setup runs in the child before the exec.
static pid_t Spawn(const std::string &program, const std::vector<std::string> &args, int inFd,
                   const std::string &inPath, int outFd, const std::string &outPath, const std::string &errPath,
                   const std::vector<std::string> &env, const std::function<void()> &setup = [] {})
{
  const pid_t pid = fork();
  if (pid != 0)
    return pid;
  const int in = inFd >= 0 ? inFd : open(inPath.c_str(), O_RDONLY);
  const int out = outFd >= 0 ? outFd : open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (in < 0 || out < 0 || err < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0)
    _exit(127);
  for (const std::string &entry : env)
    putenv(const_cast<char *>(entry.c_str()));
  setup();
  std::vector<char *> argv;
  for (const std::string &a : args)
    argv.push_back(const_cast<char *>(a.c_str()));
  argv.push_back(nullptr);
  execv(program.c_str(), argv.data());
  _exit(127);
}

static FilterResult Collect(pid_t pid, const std::string &outPath, const std::string &errPath)
{
  FilterResult result;
  int wstatus = 0;
  while (waitpid(pid, &wstatus, 0) < 0 && errno == EINTR)
  {
  }
  result.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
  result.signal = WIFSIGNALED(wstatus) ? WTERMSIG(wstatus) : 0;
  struct stat st;
  if (stat(outPath.c_str(), &st) == 0 && S_ISREG(st.st_mode))
    result.out = ReadFile(outPath);
  result.err = ReadFile(errPath);
  return result;
}

static RunningFilter Start(const FilterInvocation &inv, const std::string &dir, bool pipeInput)
{
  RunningFilter run{.outPath = inv.stdoutPath.empty() ? dir + "/out.prn" : inv.stdoutPath, .errPath = dir + "/err.log"};
  int fds[2] = {-1, -1};
  if (pipeInput && pipe2(fds, O_CLOEXEC) != 0)
    return run;
  std::vector<std::string> args = {"rastertokelvo", "42", "user", "title", "1", inv.options};
  if (inv.file)
    args.push_back(*inv.file);
  run.pid = Spawn(KELVO_FILTER_PATH, inv.argv.value_or(args), fds[0], inv.stdinPath, inv.stdoutFd, run.outPath,
                  run.errPath, inv.env, [&] {
                    if (inv.closeStdout)
                      close(1);
                    const struct rlimit limit = {(rlim_t)inv.memoryLimit, (rlim_t)inv.memoryLimit};
                    if (inv.memoryLimit > 0)
                      setrlimit(RLIMIT_AS, &limit);
                    signal(SIGTERM, SIG_DFL);
                    signal(SIGPIPE, SIG_DFL);
                    if (inv.ppd)
                      setenv("PPD", inv.ppd->c_str(), 1);
                    else
                      unsetenv("PPD");
                  });
  if (pipeInput)
    close(fds[0]);
  run.stdinFd = fds[1];
  return run;
}

RunningFilter StartFilter(const FilterInvocation &inv, const std::string &dir) { return Start(inv, dir, true); }

FilterResult WaitFilter(RunningFilter &run)
{
  if (run.stdinFd >= 0)
    close(run.stdinFd);
  run.stdinFd = -1;
  return Collect(run.pid, run.outPath, run.errPath);
}

FilterResult RunFilter(const FilterInvocation &inv)
{
  TempDir dir;
  RunningFilter run = Start(inv, dir.path(), false);
  return WaitFilter(run);
}

CommandResult RunCommand(const std::vector<std::string> &argv, const std::vector<std::string> &env)
{
  const std::string program = FindProgram(argv.at(0));
  if (program.empty())
    return CommandResult{.err = argv[0] + ": not found"};
  TempDir dir;
  const pid_t pid = Spawn(program, argv, -1, "/dev/null", -1, dir.File("out"), dir.File("err"), env);
  return Collect(pid, dir.File("out"), dir.File("err"));
}

std::vector<PageBlocks> SplitPages(const std::string &out)
{
  std::vector<PageBlocks> pages;
  const unsigned char *s = reinterpret_cast<const unsigned char *>(out.data());
  for (size_t pos = 0; pos < out.size();)
  {
    if (out.size() - pos < 77)
    {
      ADD_FAILURE() << "stream ends inside the start blocks of page " << pages.size() + 1;
      break;
    }
    const unsigned char *p = s + pos;
    const size_t L = (size_t)p[72] << 24 | (size_t)p[73] << 16 | (size_t)p[74] << 8 | p[75];
    if (out.size() - pos - 77 < L + 18)
    {
      ADD_FAILURE() << "stream ends inside page " << pages.size() + 1;
      break;
    }
    pages.push_back({{p, p + 66}, {p + 66, p + 77}, {p + 77, p + 77 + L}, std::string(out, pos + 77 + L, 18)});
    pos += 95 + L;
  }
  return pages;
}

std::vector<std::string> LinesWith(const std::string &err, const std::string &prefix)
{
  std::vector<std::string> lines;
  std::istringstream in(err);
  for (std::string line; std::getline(in, line);)
    if (line.compare(0, prefix.size(), prefix) == 0)
      lines.push_back(line);
  return lines;
}

// Tests write into pipes whose reader may be gone: a failed write, not a
// killed test process.
static const bool kIgnoreSigpipe = [] {
  signal(SIGPIPE, SIG_IGN);
  return true;
}();
