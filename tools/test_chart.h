// The project's test chart: a deterministic picture with the things a photo
// print has to get right.
//
// From top to bottom, each band as wide as the page:
//   white band      the top fifth of the page, pure white (255, 255, 255)
//   colour ramps    red, green, blue, cyan, magenta, yellow, each from
//                   black through the full colour to white
//   grey steps      16 even steps from black to white, above a smooth ramp
//   patches         eight skin tones, then eight saturated colours
//   lines, detail   1-, 2- and 3-pixel line pairs across and along the page,
//                   a zone plate and a star of spokes
//   scene           a white patch, a sky-like gradient and a checkerboard,
//                   with one small black square per page number at the end
#pragma once

#include <vector>

// Where the bands start, in rows, for a page of height h.
struct ChartBands
{
  unsigned white, ramps, greys, patches, lines, scene, end;
};
ChartBands ChartLayout(unsigned h);

// The chart of page (counting from 1) at w x h pixels, 3 bytes a pixel in
// the order red, green, blue.
std::vector<unsigned char> DrawChart(unsigned w, unsigned h, unsigned page);
