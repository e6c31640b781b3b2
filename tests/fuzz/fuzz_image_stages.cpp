// Fuzz target: each image stage on its own, with fuzzed sizes, settings and
// pixels, and the option-text conversion.
#include "fuzz_settings.h"
#include "image/color_correction.h"
#include "image/direct_map.h"
#include "image/resize.h"
#include "image/sharpness.h"
#include "image/smear_control.h"

#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
  if (size < kFuzzSettingBytes + 3)
    return 0;
  PrintSettings s = FuzzSettings(data);
  FuzzThreads(data);
  DerivedValues d = DeriveValues(s);
  const int width = 1 + data[kFuzzSettingBytes] % 48;
  const int height = 1 + data[kFuzzSettingBytes + 1] % 48;
  const uint8_t stage = data[kFuzzSettingBytes + 2];
  data += kFuzzSettingBytes + 3;
  size -= kFuzzSettingBytes + 3;

  // The option-text conversion sees the raw bytes as a string.
  std::string text(reinterpret_cast<const char *>(data), size < 24 ? size : 24);
  (void)ConvertNumber(text.c_str());

  const size_t bytes = 3 * (size_t)width * height;
  std::vector<unsigned char> page(bytes);
  for (size_t i = 0; i < bytes; i++)
    page[i] = size ? data[i % size] : 0;

  if (stage & 1)
  {
    unsigned char colortable[kColorTableBytes] = {};
    unsigned char DmapTbl[kDmapTblBytes];
    int saturation = s.monochrome ? -10 : s.stp_saturation;
    BuildColorTable(colortable, d.bdat, d.gdat, d.rdat, d.contrast, saturation);
    int bTableRet = s.directmap ? InitDmapTbl(DmapTbl, kDmapTblBytes, s.print_mode) : 0;
    for (int y = 0; y < height; y++)
      ColorCorrection(&page[3 * (size_t)y * width], width, colortable, bTableRet, DmapTbl);
  }
  if (stage & 2)
  {
    // Both directions, with either sign, as a caller might pass them.
    ResizePicture(page.data(), width, height, s.stp_resize, s.stp_resize);
    ResizePictureAverage(page.data(), width, height, s.stp_resize, s.stp_resize);
  }
  if (stage & 4)
    PicytureSharpness(width, height, page.data(), s.stp_sharpness);

  unsigned char hotlut[kSmearLutBytes];
  GetSmearlut(hotlut, s.print_mode);
  std::vector<unsigned char> planes(bytes);
  SmearControl(page.data(), (unsigned)width, (unsigned)height, hotlut, planes.data());
  return 0;
}
