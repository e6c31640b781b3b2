// Page buffers shared by the page loop, the pipeline stages and the command
// stream, and the page-image conventions every stage relies on.
//
// Page image (Planes[0]): cupsHeight rows of cupsWidth pixels, 3 bytes a
// pixel in the order red, green, blue, rows 3 * cupsWidth bytes apart with
// no padding.  Every stage of the pipeline works on it in place.
//
// Printer data (Planes[1]): three planes of cupsWidth * cupsHeight bytes,
// plane 0 made from blue, plane 1 from green, plane 2 from red, each plane
// row by row without padding.  Smear control writes it, OutputLine sends it.
#pragma once

#include <cstddef>

// Only entries 0 (page image) and 1 (printer data) are used.  The page loop
// allocates both with malloc() for each page; EndPage() frees them and sets
// the entries back to null, so a second release does nothing.
extern unsigned char *Planes[6];

// Stages that allocate scratch memory return this when the allocation fails;
// the page loop then abandons the page with an error instead of printing it.
constexpr int kStageNoMemory = -1;

// Clamp an int channel value back to a byte.
inline unsigned char ClampByte(int v)
{
  return (unsigned char)(v < 0 ? 0 : v > 255 ? 255 : v);
}
