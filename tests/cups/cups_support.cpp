// Helpers of the real-CUPS tests.
#include "cups_support.h"

#include "image/smear_control.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>

namespace fs = std::filesystem;

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

std::vector<std::string> CupsfilterArgv(const std::string &conf, const std::vector<std::string> &options,
                                        const std::string &input)
{
  std::vector<std::string> argv = {"cupsfilter", "-c", conf, "-p", BuiltPpd(), "-m", "printer/foo", "-e"};
  for (const std::string &o : options)
  {
    argv.push_back("-o");
    argv.push_back(o);
  }
  argv.push_back(input);
  return argv;
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
