// Smear control built for AVX2: the per-byte step eight bytes at a time in
// intrinsics, the smoothing of a pair of rows in one register per array and
// the planes by byte shuffles (smear_rows_x86.h).
// Compiled with AVX2 flags (see CMakeLists.txt), called only on processors
// that have them.
#include "smear_rows.h"

#ifdef KELVO_SMEAR_X86
#include "smear_rows_x86.h"

namespace smear {

// Flattened, so that the smoother's steps are inlined here.
__attribute__((flatten)) void RowAvx2(const RowArgs &a)
{
  RowBody<SmootherAvx2, ToneRow, SplitPlanesX86, SmearRowAvx2>(a);
}
__attribute__((flatten)) void PairAvx2(const RowArgs &a, const RowArgs &b)
{
  PairBody<PairSmootherAvx2, ToneRow, SplitPlanesX86, SmearRowAvx2>(a, b);
}

}  // namespace smear
#endif
