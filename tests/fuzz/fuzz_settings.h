// Print settings taken from the first bytes of a fuzz input, spread over
// ranges wider than any PPD offers.
#pragma once

#include "image/parallel.h"
#include "settings.h"

#include <cstddef>
#include <cstdint>

constexpr size_t kFuzzSettingBytes = 12;

inline PrintSettings FuzzSettings(const uint8_t *d)
{
  PrintSettings s;
  s.stp_brightness = (int8_t)d[0] / 8;
  s.stp_contrast = (int8_t)d[1] / 4;     // reaches the falling curve from 26 on
  s.stp_saturation = (int8_t)d[2] / 4;
  s.stp_resize = (int8_t)d[3];           // -128..127: reductions below -100 too
  s.stp_sharpness = (int8_t)d[4] / 16;   // -8..7
  s.stp_red = (int8_t)d[5] / 8;
  s.stp_green = (int8_t)d[6] / 8;
  s.stp_blue = (int8_t)d[7] / 8;
  s.print_mode = d[8] & 1;
  s.multi_chop = d[9] & 7;
  s.directmap = d[10] & 1;
  s.monochrome = d[11] & 1;
  return s;
}

// One input in eight runs the stages on two threads: thread start-up costs
// more than a small page, and the single-thread paths are what most inputs
// should exercise.
inline void FuzzThreads(const uint8_t *d)
{
  SetStageThreads((d[11] & 0x70) == 0x70 ? 2 : 1);
}
