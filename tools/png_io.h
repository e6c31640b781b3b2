// Writing and reading 8-bit RGB PNG files with libpng.
#pragma once

#include <string>
#include <vector>

// Write w x h pixels of 3 bytes (red, green, blue), rows without padding.
// A dpi above 0 is recorded in the file, so that programs that place the
// picture on a page (CUPS' imagetoraster among them) know its size.
// Returns false, with the reason in *error, when the file cannot be written.
bool WritePng(const std::string &path, unsigned w, unsigned h, const unsigned char *rgb, unsigned dpi,
              std::string *error);

// Read a PNG as 8-bit RGB (other formats are converted).  Returns false,
// with the reason in *error, when the file is not a readable PNG.
bool ReadPng(const std::string &path, unsigned *w, unsigned *h, std::vector<unsigned char> *rgb,
             std::string *error);
