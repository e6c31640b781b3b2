// The printer's PPD as CUPS reads it, cupstestppd's verdict, and installing
// and uninstalling the driver below a DESTDIR.
#include "cups_support.h"

#include <cups/ppd.h>
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

std::vector<std::string> Range(int lo, int hi)
{
  std::vector<std::string> names;
  for (int i = lo; i <= hi; i++)
    names.push_back(std::to_string(i));
  return names;
}

TEST(Ppd, OffersTheFilterOptionsAndSizes)
{
  ppd_file_t *ppd = ppdOpenFile(KELVO_PPD_PATH);
  ASSERT_NE(ppd, nullptr);
  EXPECT_TRUE(ppd->color_device);
  // Every option the filter reads, its choices (numbers or the exact text
  // "true") and a default that leaves the picture alone (the filter is named
  // by the tests through cupsd).
  const struct
  {
    const char *keyword;
    std::vector<std::string> choices;
    const char *defchoice;
  } options[] = {
      {"stpBrightness", Range(-10, 10), "0"}, {"stpContrast", Range(-10, 10), "0"}, {"stpSaturation", Range(-10, 10), "0"},
      {"stpResize", Range(-20, 20), "0"},     {"stpSharpness", Range(-4, 4), "0"},  {"stpRed", Range(-10, 10), "0"},
      {"stpGreen", Range(-10, 10), "0"},      {"stpBlue", Range(-10, 10), "0"},     {"PrintMode", Range(0, 1), "0"},
      {"MultiChop", Range(0, 3), "0"},        {"DirectMap", {"false", "true"}, "false"},
      {"Monochrome", {"false", "true"}, "false"}, {"PageSize", {"6x4", "6x8", "6x9", "6x10", "6x12"}, "6x4"},
  };
  for (const auto &want : options)
  {
    SCOPED_TRACE(want.keyword);
    ppd_option_t *option = ppdFindOption(ppd, want.keyword);
    ASSERT_NE(option, nullptr);
    std::vector<std::string> choices;
    for (int i = 0; i < option->num_choices; i++)
      choices.push_back(option->choices[i].choice);
    EXPECT_EQ(choices, want.choices);
    EXPECT_STREQ(option->defchoice, want.defchoice);
  }
  // Full-bleed sizes 6 inches wide, the heights in pixels at 300 dpi.
  const unsigned heights[] = {1200, 2504, 2700, 3104, 3704};
  ASSERT_EQ(ppd->num_sizes, 5);
  for (int i = 0; i < ppd->num_sizes; i++)
  {
    const ppd_size_t &size = ppd->sizes[i];
    SCOPED_TRACE(size.name);
    EXPECT_TRUE(size.left == 0 && size.bottom == 0 && size.right == size.width && size.top == size.length);
    EXPECT_EQ(std::lround(size.width * 300 / 72), 1800);
    EXPECT_EQ((unsigned)std::lround(size.length * 300 / 72), heights[i]);
  }
  ppdClose(ppd);
}

TEST(Ppd, PassesCupstestppd)
{
  if (FindProgram("cupstestppd").empty())
    GTEST_SKIP() << "cupstestppd is not installed";
  // The filter is not installed beside the built PPD: only its absence may
  // be let off with a warning (the install test checks it).
  const CommandResult r = RunCommand({"cupstestppd", "-W", "filters", KELVO_PPD_PATH});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out.find("FAIL"), std::string::npos) << r.out;
}

// The filter goes where CUPS runs filters, mode 0755 (owned by root when
// root installs), the PPD where CUPS finds drivers; uninstall removes both.
TEST(Ppd, InstallsBelowDestdirAndUninstalls)
{
  TempDir root;
  const std::string destdir = "DESTDIR=" + root.path();
  const CommandResult install = RunCommand({"cmake", "--install", KELVO_BUILD_DIR}, {destdir});
  ASSERT_EQ(install.status, 0) << install.out << install.err;
  const std::string filter = root.path() + CUPS_SERVERBIN "/filter/rastertokelvo";
  const std::string ppd = root.path() + "/usr/share/ppd/kelvo/kelvo-photo.ppd";
  struct stat st;
  ASSERT_EQ(stat(filter.c_str(), &st), 0) << filter;
  EXPECT_EQ(st.st_mode & 07777, 0755u);
  EXPECT_TRUE(getuid() != 0 || st.st_uid == 0);
  ASSERT_EQ(stat(ppd.c_str(), &st), 0) << ppd;
  EXPECT_EQ(st.st_mode & 0022, 0u);
  EXPECT_EQ(ReadFile(ppd), ReadFile(KELVO_PPD_PATH));
  if (getuid() == 0 && !FindProgram("cupstestppd").empty())
  {
    // With the install root cupstestppd also checks the filter the PPD names.
    const CommandResult r = RunCommand({"cupstestppd", "-R", root.path(), ppd});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
  }
  const CommandResult uninstall = RunCommand({"cmake", "--build", KELVO_BUILD_DIR, "--target", "uninstall"}, {destdir});
  ASSERT_EQ(uninstall.status, 0) << uninstall.out << uninstall.err;
  EXPECT_FALSE(fs::exists(filter) || fs::exists(ppd) || fs::exists(root.path() + "/usr/share/ppd/kelvo"));
}

}  // namespace
