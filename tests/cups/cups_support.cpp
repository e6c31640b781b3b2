// Helpers of the real-CUPS tests.
#include "cups_support.h"

#include <filesystem>
#include <sys/stat.h>

namespace fs = std::filesystem;

std::string MakeServerBin(const std::string &dir)
{
  std::string system = RunCommand({"cups-config", "--serverbin"}).out;
  system.erase(system.find_last_not_of(" \n") + 1);
  const fs::path bin = fs::path(dir) / "serverbin";
  fs::create_directories(bin / "filter");
  for (const auto &entry : fs::directory_iterator(system))
    if (entry.path().filename() != "filter")
      fs::create_symlink(entry.path(), bin / entry.path().filename());
  for (const auto &entry : fs::directory_iterator(fs::path(system) / "filter"))
    if (entry.path().filename() != "rastertokelvo")
      fs::create_symlink(entry.path(), bin / "filter" / entry.path().filename());
  fs::copy_file(KELVO_FILTER_PATH, bin / "filter" / "rastertokelvo");
  // CUPS runs filters only from root-owned folders no one else may write,
  // which lp must be able to reach.
  for (const fs::path &p : {bin / "filter" / "rastertokelvo", bin / "filter", bin, fs::path(dir)})
    chmod(p.c_str(), 0755);
  return bin.string();
}

std::vector<std::string> CupsfilterArgv(const std::string &conf, const std::vector<std::string> &options,
                                        const std::string &input)
{
  std::vector<std::string> argv = {"cupsfilter", "-c", conf, "-p", KELVO_PPD_PATH, "-m", "printer/foo", "-e"};
  for (const std::string &o : options)
    argv.insert(argv.end(), {"-o", o});
  argv.push_back(input);
  return argv;
}

void WriteCharts(const std::string &dir)
{
  const CommandResult r = RunCommand({KELVO_CHART_PATH, "--pages", "2", "--png", dir + "/chart.png", "--pdf",
                                      dir + "/chart.pdf", "--raster", dir + "/chart.ras"});
  ASSERT_EQ(r.status, 0) << r.err;
}
