// Helpers of the tests that run the real CUPS programs: a ServerBin that
// holds the built filter beside the system's filters, the cupsfilter
// command, and the test chart.
#pragma once

#include "support/fixtures.h"

#include <gtest/gtest.h>

// dir/serverbin: the system's ServerBin linked entry by entry, with a
// root-owned 0755 copy of the built filter among its filters.  Returns its path.
std::string MakeServerBin(const std::string &dir);

// cupsfilter printing input with the built PPD (absolute: cupsfilter hands
// it on to the filters) and the options, configured by conf.
std::vector<std::string> CupsfilterArgv(const std::string &conf, const std::vector<std::string> &options,
                                        const std::string &input);

// The chart at its default size (1800x1200) in dir: chart.png, and a
// two-page chart.pdf and chart.ras.
void WriteCharts(const std::string &dir);

