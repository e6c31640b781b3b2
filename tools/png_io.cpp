// PNG files through libpng, with its errors turned into messages.
#include "png_io.h"

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <png.h>

namespace {

struct ErrorSink
{
  std::string message;
};

void OnError(png_structp png, png_const_charp msg)
{
  static_cast<ErrorSink *>(png_get_error_ptr(png))->message = msg;
  png_longjmp(png, 1);
}

void OnWarning(png_structp, png_const_charp) {}

}  // namespace

bool WritePng(const std::string &path, unsigned w, unsigned h, const unsigned char *rgb, unsigned dpi,
              std::string *error)
{
  FILE *f = fopen(path.c_str(), "wb");
  if (f == nullptr)
  {
    *error = path + ": " + strerror(errno);
    return false;
  }
  ErrorSink sink;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &sink, OnError, OnWarning);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (info == nullptr)
  {
    png_destroy_write_struct(&png, nullptr);
    fclose(f);
    *error = path + ": out of memory";
    return false;
  }
  if (setjmp(png_jmpbuf(png)))
  {
    png_destroy_write_struct(&png, &info);
    fclose(f);
    *error = path + ": " + sink.message;
    return false;
  }
  png_init_io(png, f);
  png_set_IHDR(png, info, w, h, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  if (dpi > 0)
  {
    png_uint_32 perMetre = (png_uint_32)(dpi / 0.0254 + 0.5);
    png_set_pHYs(png, info, perMetre, perMetre, PNG_RESOLUTION_METER);
  }
  png_set_compression_level(png, 6);
  png_write_info(png, info);
  for (unsigned y = 0; y < h; y++)
    png_write_row(png, const_cast<png_bytep>(rgb + 3 * (size_t)w * y));
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  if (fclose(f) != 0)
  {
    *error = path + ": " + strerror(errno);
    return false;
  }
  return true;
}

bool ReadPng(const std::string &path, unsigned *w, unsigned *h, std::vector<unsigned char> *rgb,
             std::string *error)
{
  FILE *f = fopen(path.c_str(), "rb");
  if (f == nullptr)
  {
    *error = path + ": " + strerror(errno);
    return false;
  }
  ErrorSink sink;
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &sink, OnError, OnWarning);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (info == nullptr)
  {
    png_destroy_read_struct(&png, nullptr, nullptr);
    fclose(f);
    *error = path + ": out of memory";
    return false;
  }
  if (setjmp(png_jmpbuf(png)))
  {
    png_destroy_read_struct(&png, &info, nullptr);
    fclose(f);
    *error = path + ": " + sink.message;
    return false;
  }
  png_init_io(png, f);
  png_read_info(png, info);
  png_set_expand(png);
  png_set_strip_16(png);
  png_set_strip_alpha(png);
  png_set_gray_to_rgb(png);
  png_read_update_info(png, info);
  *w = png_get_image_width(png, info);
  *h = png_get_image_height(png, info);
  rgb->assign(3 * (size_t)*w * *h, 0);
  std::vector<png_bytep> rows(*h);
  for (unsigned y = 0; y < *h; y++)
    rows[y] = rgb->data() + 3 * (size_t)*w * y;
  png_read_image(png, rows.data());
  png_read_end(png, nullptr);
  png_destroy_read_struct(&png, &info, nullptr);
  fclose(f);
  return true;
}
