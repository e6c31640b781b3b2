// Print settings from the first bytes of a fuzz input, over ranges wider
// than any PPD offers, and the stage threads.
#pragma once

#include "image/parallel.h"
#include "settings.h"

#include <cstddef>
#include <cstdint>

constexpr size_t kFuzzSettingBytes = 12;

inline PrintSettings FuzzSettings(const uint8_t *d)
{
  // Contrast reaches the falling curve from 26 on, resize reductions below
  // -100, sharpness -8..7.
  return {.stp_brightness = (int8_t)d[0] / 8, .stp_contrast = (int8_t)d[1] / 4, .stp_saturation = (int8_t)d[2] / 4,
          .stp_resize = (int8_t)d[3], .stp_sharpness = (int8_t)d[4] / 16, .stp_red = (int8_t)d[5] / 8,
          .stp_green = (int8_t)d[6] / 8, .stp_blue = (int8_t)d[7] / 8, .print_mode = d[8] & 1,
          .multi_chop = d[9] & 7, .directmap = d[10] & 1, .monochrome = d[11] & 1};
}

// One input in eight runs the stages on two threads: starting threads costs
// more than a small page, and most inputs should exercise the single-thread
// paths.
inline void FuzzThreads(const uint8_t *d) { SetStageThreads((d[11] & 0x70) == 0x70 ? 2 : 1); }
