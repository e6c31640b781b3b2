// The block draw of the generator built for AVX2: eight words a vector, the
// same word operations as the portable version, so the same numbers.
// Compiled with AVX2 flags (see CMakeLists.txt), called only on processors
// that have them.
#include "mt19937ar_block.h"

#ifdef KELVO_MT_X86
namespace mt19937 {

void BlockAvx2(uint32_t *out, size_t n) { BlockBody(out, n); }

}  // namespace mt19937
#endif
