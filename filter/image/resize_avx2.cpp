// The row loops of resizing built for AVX2: four doubles or eight 32-bit
// sums a vector.  Compiled with AVX2 flags (see CMakeLists.txt), called
// only on processors that have them.
#include "resize_rows.h"

#ifdef KELVO_RESIZE_X86
namespace resize {

void BlendRowAvx2(const BlendArgs &a) { BlendRowBody(a); }
void ReduceRowAvx2(const ReduceArgs &a) { ReduceRowBody(a); }
void DownRowAvx2(const DownArgs &a) { DownRowBody(a); }

}  // namespace resize
#endif
