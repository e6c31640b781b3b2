// The byte loops of sharpening built for AVX-512: thirty-two 16-bit sums a
// vector, and the skin tests eight pixels a step (sharpness_rows_x86.h).
// Compiled with AVX-512 flags (see CMakeLists.txt), called only on processors
// that have them.
#include "sharpness_rows.h"

#ifdef KELVO_SHARPEN_X86
#include "sharpness_rows_x86.h"

namespace sharpen {

void RowAvx512(const RowArgs &a)
{
  SkinAvx2(a);
  BytesBody(a);
}

}  // namespace sharpen
#endif
