// Helpers for the tests that run the real CUPS programs: running commands,
// a ServerBin that holds the built filter beside the system's filters, the
// paths of the built driver files, and the test chart.
#pragma once

#include "support/fixtures.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

// The program's path when it is installed (PATH, /usr/sbin, /sbin), else "".
std::string FindProgram(const std::string &name);

struct CommandResult
{
  int status = -1;  // exit status, -1 when killed by a signal
  std::string out, err;
};

// Run argv (argv[0] is looked up with FindProgram) with extra NAME=VALUE
// environment entries; standard output goes to outPath when it is given.
CommandResult RunCommand(const std::vector<std::string> &argv, const std::vector<std::string> &env = {},
                         const std::string &outPath = "");

// Make dir/serverbin: every entry of the system's ServerBin linked, except
// filter/, which links each system filter and holds a root-owned 0755 copy
// of the built filter.  Returns the folder's path.
std::string MakeServerBin(const std::string &dir);

// Built files.
std::string BuiltPpd();
std::string BuiltFilter();
std::string ChartTool();
std::string InspectTool();

// The test chart at the default size (1800x1200) in dir: chart.png, a
// two-page chart.pdf and chart.ras with the same two pages.
void WriteCharts(const std::string &dir);

// The smear curve of the print mode is a real one (not all zero), so that
// white must come out as 0 in every plane.
bool SmearCurveIsReal(int printMode);

// Every byte of rows [y0, y1) in all three planes of a page is 0.
::testing::AssertionResult RowsAreBlank(const PageBlocks &page, unsigned y0, unsigned y1);
