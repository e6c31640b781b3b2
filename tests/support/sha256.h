// SHA-256 of a byte string, as lower-case hex: the digests of the pinned
// printer output.
#pragma once

#include <string>

std::string Sha256Hex(const std::string &bytes);
