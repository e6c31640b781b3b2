// A deterministic photo-like page for the benchmarks: a gradient sky,
// skin-toned faces, fine texture, saturated colour patches and hard edges.
#pragma once

#include <vector>

// The page size the benchmarks use: 6 x 8 inches at 300 dpi.
constexpr int kBenchWidth = 1800;
constexpr int kBenchHeight = 2504;

// 3 * width * height bytes, red first; page selects a slightly shifted
// variant so that the pages of a job differ.
std::vector<unsigned char> PhotoPage(int width, int height, int page = 0);
