// The twelve print settings of a job and the values derived from them.
#pragma once

#include <cups/ppd.h>

struct PrintSettings
{
  int stp_brightness = 0;
  int stp_contrast = 0;
  int stp_saturation = 0;
  int stp_resize = 0;
  int stp_sharpness = 0;
  int stp_red = 0;
  int stp_green = 0;
  int stp_blue = 0;
  int print_mode = 0;
  int multi_chop = 0;
  int directmap = 0;
  int monochrome = 0;
};

// Numeric settings are kept within these bounds, far beyond any PPD choice,
// so that no arithmetic derived from them can overflow.
constexpr int kSettingMin = -1000;
constexpr int kSettingMax = 1000;

// atoi() without undefined behaviour: leading blanks, an optional sign and
// the decimal digits up to the first other character; 0 when there is no
// number; values beyond int saturate.
int ConvertNumber(const char *text);

// Resolve the settings from the job's option string (argv[5]) and the PPD's
// default choices, logging where each value came from.  Without a PPD every
// setting stays 0 and nothing is logged.
void ResolveSettings(const char *optionString, ppd_file_t *ppd, PrintSettings *settings);

// Colour-balance offsets and contrast terms, fixed for the whole job.
struct DerivedValues
{
  int bdat = 0;
  int gdat = 0;
  int rdat = 0;
  int contrast = 0;  // h = 5 * stp_contrast
  int divisor = 128; // 128 - h
};

DerivedValues DeriveValues(const PrintSettings &settings);
