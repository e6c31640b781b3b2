// Helpers of the real-CUPS tests.
#include "cups_support.h"

#include "image/smear_control.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

std::string FindProgram(const std::string &name)
{
  if (name.find('/') != std::string::npos)
    return access(name.c_str(), X_OK) == 0 ? name : "";
  std::string path = getenv("PATH") ? getenv("PATH") : "";
  path += ":/usr/sbin:/sbin:/usr/bin:/bin";
  size_t start = 0;
  while (start <= path.size())
  {
    size_t end = path.find(':', start);
    std::string dir = path.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (!dir.empty())
    {
      std::string candidate = dir + "/" + name;
      if (access(candidate.c_str(), X_OK) == 0)
        return candidate;
    }
    if (end == std::string::npos)
      break;
    start = end + 1;
  }
  return "";
}

CommandResult RunCommand(const std::vector<std::string> &argv, const std::vector<std::string> &env,
                         const std::string &outPath)
{
  CommandResult result;
  std::string program = FindProgram(argv.at(0));
  if (program.empty())
  {
    result.err = argv[0] + ": not found";
    return result;
  }
  TempDir dir;
  std::string out = outPath.empty() ? dir.File("out") : outPath, err = dir.File("err");
  pid_t pid = fork();
  if (pid == 0)
  {
    int in = open("/dev/null", O_RDONLY);
    int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || o < 0 || e < 0)
      _exit(127);
    dup2(in, 0);
    dup2(o, 1);
    dup2(e, 2);
    for (const std::string &entry : env)
      putenv(const_cast<char *>(entry.c_str()));
    std::vector<char *> args;
    for (const std::string &a : argv)
      args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);
    execv(program.c_str(), args.data());
    _exit(127);
  }
  int wstatus = 0;
  while (waitpid(pid, &wstatus, 0) < 0 && errno == EINTR)
  {
  }
  result.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
  if (outPath.empty())
    result.out = ReadFile(out);
  result.err = ReadFile(err);
  return result;
}

static std::string SystemServerBin()
{
  CommandResult r = RunCommand({"cups-config", "--serverbin"});
  std::string s = r.out;
  while (!s.empty() && (s.back() == '\n' || s.back() == ' '))
    s.pop_back();
  return s.empty() ? "/usr/lib/cups" : s;
}

std::string MakeServerBin(const std::string &dir)
{
  const fs::path system = SystemServerBin(), bin = fs::path(dir) / "serverbin";
  fs::create_directories(bin / "filter");
  for (const auto &entry : fs::directory_iterator(system))
    if (entry.path().filename() != "filter")
      fs::create_symlink(entry.path(), bin / entry.path().filename());
  for (const auto &entry : fs::directory_iterator(system / "filter"))
    if (entry.path().filename() != "rastertokelvo")
      fs::create_symlink(entry.path(), bin / "filter" / entry.path().filename());
  const fs::path filter = bin / "filter" / "rastertokelvo";
  fs::copy_file(BuiltFilter(), filter);
  // CUPS runs filters only from root-owned folders that no one else may
  // write, and lp must be able to reach them.
  chmod(filter.c_str(), 0755);
  for (const fs::path &p : {bin / "filter", bin, fs::path(dir)})
    chmod(p.c_str(), 0755);
  return bin.string();
}

std::string BuiltPpd() { return KELVO_PPD_PATH; }
std::string BuiltFilter() { return KELVO_FILTER_PATH; }
std::string ChartTool() { return KELVO_CHART_PATH; }
std::string InspectTool() { return KELVO_INSPECT_PATH; }

void WriteCharts(const std::string &dir)
{
  CommandResult r = RunCommand({ChartTool(), "--pages", "2", "--png", dir + "/chart.png", "--pdf",
                                dir + "/chart.pdf", "--raster", dir + "/chart.ras"});
  ASSERT_EQ(r.status, 0) << r.err;
}

bool SmearCurveIsReal(int printMode)
{
  unsigned char hotlut[kSmearLutBytes];
  GetSmearlut(hotlut, printMode);
  for (unsigned char v : hotlut)
    if (v != 0)
      return true;
  return false;
}

::testing::AssertionResult RowsAreBlank(const PageBlocks &page, unsigned y0, unsigned y1)
{
  const size_t w = page.width(), h = page.height(), plane = w * h;
  if (page.data.size() != 3 * plane || y1 > h)
    return ::testing::AssertionFailure() << "the page holds " << page.data.size() << " bytes for " << w << "x" << h;
  for (size_t p = 0; p < 3; p++)
    for (size_t i = p * plane + y0 * w; i < p * plane + y1 * w; i++)
      if (page.data[i] != 0)
        return ::testing::AssertionFailure() << "plane " << p << " holds " << (int)page.data[i] << " at x "
                                             << (i - p * plane) % w << ", y " << (i - p * plane) / w;
  return ::testing::AssertionSuccess();
}
