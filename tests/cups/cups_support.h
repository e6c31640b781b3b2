// Helpers for the tests that run the real CUPS programs: a ServerBin that holds the built filter beside the system's filters, the
// paths of the built driver files, and the test chart.
#pragma once

#include "support/fixtures.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

// Make dir/serverbin: every entry of the system's ServerBin linked, except
// filter/, which links each system filter and holds a root-owned 0755 copy
// of the built filter.  Returns the folder's path.
std::string MakeServerBin(const std::string &dir);

// The cupsfilter command that prints input with the built PPD and options
// (each one -o), with the configuration file conf (which names the
// ServerBin).  cupsfilter hands its -p path on to the filters as PPD, so it
// must be absolute; -e uses the PPD's own filter.
std::vector<std::string> CupsfilterArgv(const std::string &conf, const std::vector<std::string> &options,
                                        const std::string &input);

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
