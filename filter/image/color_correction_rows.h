// What a row of colour correction needs, shared by the portable version
// (color_correction.cpp) and the versions built for AVX2 and AVX-512
// (color_correction_avx2.cpp, color_correction_avx512.cpp).
#pragma once

#include "direct_map.h"

#include <cstdint>

namespace colour {

// The colour table (unless it is neutral) and the packed direct map (when
// the direct map is on), each prepared once per call.
struct RowJob
{
  const unsigned char *colortable;  // null: no colour correction
  const PackedDmapTbl *dmap;        // null: no direct map
  // The colour table widened to 32-bit entries for the vector code:
  // saturation, then the blue, green and red curves.
  int32_t sat[512];
  int32_t curve[3][256];
  // For the portable version: the blue, green and red curves over the
  // corrected values -256..511 (wide[c][256 + v]), clamping included.
  // Every corrected value falls within them when every saturation entry
  // lies within -256..256 (hasWide).
  bool hasWide;
  unsigned char wide[3][768];
};

// The versions built for x86-64 processors with AVX2 and with AVX-512 (F,
// BW and VBMI); all give the bytes of the portable version.
#if defined(__x86_64__) && defined(__GNUC__)
#define KELVO_COLOR_X86 1
void RowAvx2(const RowJob &job, unsigned char *row, int width);
void RowAvx512(const RowJob &job, unsigned char *row, int width);
#endif

}  // namespace colour
