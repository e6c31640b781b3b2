// The printer's PPD as CUPS reads it, cupstestppd's verdict, and installing
// and uninstalling the driver below a DESTDIR.
#include "cups_support.h"

#include <cups/ppd.h>
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <map>
#include <sys/stat.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

std::vector<std::string> Choices(ppd_option_t *option)
{
  std::vector<std::string> names;
  for (int i = 0; i < option->num_choices; i++)
    names.push_back(option->choices[i].choice);
  return names;
}

std::vector<std::string> Range(int lo, int hi)
{
  std::vector<std::string> names;
  for (int i = lo; i <= hi; i++)
    names.push_back(std::to_string(i));
  return names;
}

TEST(Ppd, OffersTheFilterOptionsAndSizes)
{
  ppd_file_t *ppd = ppdOpenFile(BuiltPpd().c_str());
  ASSERT_NE(ppd, nullptr) << BuiltPpd();
  EXPECT_STREQ(ppd->manufacturer, "Kelvo");
  EXPECT_STREQ(ppd->modelname, "Kelvo Photo");
  EXPECT_TRUE(ppd->color_device);
  ppd_attr_t *filter = ppdFindAttr(ppd, "cupsFilter", nullptr);
  ASSERT_NE(filter, nullptr);
  EXPECT_STREQ(filter->value, "application/vnd.cups-raster 0 rastertokelvo");

  // Every filter option, its label, its choices (the filter reads them as
  // numbers or as the exact text "true") and a default that leaves the
  // picture alone; the media sizes in the order they are offered.
  const struct
  {
    const char *keyword, *label;
    std::vector<std::string> choices;
    const char *defchoice;
  } options[] = {
      {"stpBrightness", "Brightness", Range(-10, 10), "0"}, {"stpContrast", "Contrast", Range(-10, 10), "0"},
      {"stpSaturation", "Saturation", Range(-10, 10), "0"}, {"stpResize", "Resize", Range(-20, 20), "0"},
      {"stpSharpness", "Sharpness", Range(-4, 4), "0"},     {"stpRed", "Red", Range(-10, 10), "0"},
      {"stpGreen", "Green", Range(-10, 10), "0"},           {"stpBlue", "Blue", Range(-10, 10), "0"},
      {"PrintMode", "Print Mode", Range(0, 1), "0"},        {"MultiChop", "Cut Mode", Range(0, 3), "0"},
      {"DirectMap", "Colour Table", {"false", "true"}, "false"},
      {"Monochrome", "Black and White", {"false", "true"}, "false"},
      {"PageSize", "Media Size", {"6x4", "6x8", "6x9", "6x10", "6x12"}, "6x4"},
  };
  for (const auto &want : options)
  {
    SCOPED_TRACE(want.keyword);
    ppd_option_t *option = ppdFindOption(ppd, want.keyword);
    ASSERT_NE(option, nullptr);
    EXPECT_STREQ(option->text, want.label);
    EXPECT_EQ(Choices(option), want.choices);
    EXPECT_STREQ(option->defchoice, want.defchoice);
  }

  // Full-bleed sizes, 6 inches wide, at 300 dpi: the pixel size CUPS
  // computes from each.
  const std::map<std::string, unsigned> heights = {
      {"6x4", 1200}, {"6x8", 2504}, {"6x9", 2700}, {"6x10", 3104}, {"6x12", 3704}};
  ASSERT_EQ(ppd->num_sizes, (int)heights.size());
  for (int i = 0; i < ppd->num_sizes; i++)
  {
    const ppd_size_t &size = ppd->sizes[i];
    SCOPED_TRACE(size.name);
    ASSERT_EQ(heights.count(size.name), 1u);
    EXPECT_EQ(size.left, 0);
    EXPECT_EQ(size.bottom, 0);
    EXPECT_EQ(size.right, size.width);
    EXPECT_EQ(size.top, size.length);
    EXPECT_EQ(std::lround(size.width * 300 / 72), 1800);
    EXPECT_EQ((unsigned)std::lround(size.length * 300 / 72), heights.at(size.name));
  }
  ppdMarkDefaults(ppd);
  ppd_size_t *size = ppdPageSize(ppd, nullptr);
  ASSERT_NE(size, nullptr);
  EXPECT_STREQ(size->name, "6x4");
  ppdClose(ppd);
}

TEST(Ppd, PassesCupstestppd)
{
  if (FindProgram("cupstestppd").empty())
    GTEST_SKIP() << "cupstestppd is not installed";
  // The filter is not installed where the PPD is built: only its absence
  // may be let off with a warning here (the install test checks it).
  CommandResult r = RunCommand({"cupstestppd", "-W", "filters", BuiltPpd()});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out.find("FAIL"), std::string::npos) << r.out;
}

// The install puts the filter where CUPS runs filters, mode 0755 (and owned
// by root when root installs), and the PPD where CUPS finds drivers; the
// uninstall target takes both away again.
TEST(Ppd, InstallsBelowDestdirAndUninstalls)
{
  TempDir root;
  const std::string destdir = "DESTDIR=" + root.path();
  CommandResult install = RunCommand({"cmake", "--install", KELVO_BUILD_DIR}, {destdir});
  ASSERT_EQ(install.status, 0) << install.out << install.err;

  const std::string filter = root.path() + CUPS_SERVERBIN "/filter/rastertokelvo";
  const std::string ppd = root.path() + "/usr/share/ppd/kelvo/kelvo-photo.ppd";
  struct stat st;
  ASSERT_EQ(stat(filter.c_str(), &st), 0) << filter;
  EXPECT_EQ(st.st_mode & 07777, 0755u);
  ASSERT_EQ(stat(ppd.c_str(), &st), 0) << ppd;
  EXPECT_EQ(st.st_mode & 0022, 0u);
  EXPECT_EQ(ReadFile(ppd), ReadFile(BuiltPpd()));

  if (getuid() == 0 && !FindProgram("cupstestppd").empty())
  {
    EXPECT_EQ(stat(filter.c_str(), &st) == 0 ? st.st_uid : 1u, 0u);
    // With the install root, cupstestppd also checks the filter the PPD
    // names: present, root-owned and not writable by others.
    CommandResult r = RunCommand({"cupstestppd", "-R", root.path(), ppd});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
  }

  CommandResult uninstall = RunCommand({"cmake", "--build", KELVO_BUILD_DIR, "--target", "uninstall"}, {destdir});
  ASSERT_EQ(uninstall.status, 0) << uninstall.out << uninstall.err;
  EXPECT_FALSE(fs::exists(filter));
  EXPECT_FALSE(fs::exists(ppd));
  EXPECT_FALSE(fs::exists(root.path() + "/usr/share/ppd/kelvo"));
}

}  // namespace
