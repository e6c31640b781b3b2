// Print settings: each comes from the job options, else from the PPD's
// default choice of the same keyword, else 0.
#include "settings.h"

#include <cctype>
#include <climits>
#include <cstdio>
#include <cstring>
#include <cups/cups.h>

int ConvertNumber(const char *text)
{
  const char *p = text;
  while (isspace((unsigned char)*p))
    p++;
  bool negative = false;
  if (*p == '+' || *p == '-')
    negative = (*p++ == '-');
  long long value = 0;
  for (; *p >= '0' && *p <= '9'; p++)
  {
    if (value <= (long long)INT_MAX + 1)
      value = value * 10 + (*p - '0');
  }
  if (negative)
    value = -value;
  if (value > INT_MAX)
    return INT_MAX;
  if (value < INT_MIN)
    return INT_MIN;
  return (int)value;
}

static int BoundSetting(const char *name, int value)
{
  int bounded = value < kSettingMin ? kSettingMin : value > kSettingMax ? kSettingMax : value;
  if (bounded != value)
    fprintf(stderr, "DEBUG: %s=%d is out of range, using %d\n", name, value, bounded);
  return bounded;
}

void ResolveSettings(const char *optionString, ppd_file_t *ppd, PrintSettings *settings)
{
  *settings = PrintSettings();
  if (ppd == nullptr)
    return;

  cups_option_t *options = nullptr;
  int num_options = cupsParseOptions(optionString, 0, &options);
  fprintf(stderr, "DEBUG: argv[5]=%s\n", optionString);
  fprintf(stderr, "DEBUG: cupsParseOptions=%d\n", num_options);

  const struct
  {
    const char *keyword;
    const char *name;
    int *setting;
  } numeric[] = {
      {"stpBrightness", "stp_brightness", &settings->stp_brightness},
      {"stpContrast", "stp_contrast", &settings->stp_contrast},
      {"stpSaturation", "stp_saturation", &settings->stp_saturation},
      {"stpResize", "stp_resize", &settings->stp_resize},
      {"stpSharpness", "stp_sharpness", &settings->stp_sharpness},
      {"stpRed", "stp_red", &settings->stp_red},
      {"stpGreen", "stp_green", &settings->stp_green},
      {"stpBlue", "stp_blue", &settings->stp_blue},
      {"PrintMode", "print_mode", &settings->print_mode},
      {"MultiChop", "multi_chop", &settings->multi_chop},
  };
  for (const auto &n : numeric)
  {
    ppd_option_t *option;
    if (const char *val = cupsGetOption(n.keyword, num_options, options))
    {
      *n.setting = BoundSetting(n.name, ConvertNumber(val));
      fprintf(stderr, "DEBUG: %s(1)=%d\n", n.name, *n.setting);
    }
    else if ((option = ppdFindOption(ppd, n.keyword)) != nullptr)
    {
      *n.setting = BoundSetting(n.name, ConvertNumber(option->defchoice));
      fprintf(stderr, "DEBUG: %s(2)=%d\n", n.name, *n.setting);
    }
    else
    {
      *n.setting = 0;
      fprintf(stderr, "DEBUG: %s(3)=%d\n", n.name, 0);
    }
  }

  // Switches: only the exact text "true" turns one on.
  const struct
  {
    const char *keyword;
    const char *name;
    int *setting;
  } switches[] = {
      {"DirectMap", "directmap", &settings->directmap},
      {"Monochrome", "monochrome", &settings->monochrome},
  };
  for (const auto &s : switches)
  {
    ppd_option_t *option;
    if (const char *val = cupsGetOption(s.keyword, num_options, options))
    {
      *s.setting = strcmp(val, "true") == 0;
      fprintf(stderr, "DEBUG: %s(1)=%d val=%s\n", s.name, *s.setting, val);
    }
    else if ((option = ppdFindOption(ppd, s.keyword)) != nullptr)
    {
      *s.setting = strcmp(option->defchoice, "true") == 0;
      fprintf(stderr, "DEBUG: %s(2)=%d\n", s.name, *s.setting);
    }
    else
    {
      *s.setting = 0;
      fprintf(stderr, "DEBUG: %s(3)=%d\n", s.name, 0);
    }
  }
  cupsFreeOptions(num_options, options);
}

DerivedValues DeriveValues(const PrintSettings &s)
{
  DerivedValues d;
  d.bdat = 5 * s.stp_brightness + (3 * (2 * s.stp_blue - s.stp_green - s.stp_red)) / 2;
  d.gdat = 5 * s.stp_brightness + (3 * (2 * s.stp_green - s.stp_blue - s.stp_red)) / 2;
  d.rdat = 5 * s.stp_brightness + (3 * (2 * s.stp_red - s.stp_blue - s.stp_green)) / 2;
  d.contrast = 5 * s.stp_contrast;
  d.divisor = 128 - 5 * s.stp_contrast;
  return d;
}
