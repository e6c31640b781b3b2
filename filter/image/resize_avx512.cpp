// The row loops of resizing built for AVX-512: eight doubles or sixteen
// 32-bit sums a vector, and the expanded rows by byte permutes (VBMI).
// Compiled with AVX-512 flags (see CMakeLists.txt), called only on
// processors that have them.
#include "resize_rows.h"

#ifdef KELVO_RESIZE_X86
#include <immintrin.h>

namespace resize {

void BlendRowAvx512(const BlendArgs &a) { BlendRowBody(a); }
void ReduceRowAvx512(const ReduceArgs &a) { ReduceRowBody(a); }
void DownRowAvx512(const DownArgs &a) { DownRowBody(a); }

// One permute of each chunk's window, stored whole: the next chunk, or the
// padding after the row, takes the bytes past the chunk.
void ExpandByPermutesAvx512(const unsigned char *src, size_t step, size_t chunks, const size_t *offsets,
                            const unsigned char *index, unsigned char *out)
{
  for (size_t c = 0; c < chunks; c++)
  {
    const __m512i window = _mm512_loadu_si512(src + offsets[c]);
    const __m512i pick = _mm512_loadu_si512(index + 64 * c);
    _mm512_storeu_si512(out + step * c, _mm512_maskz_permutexvar_epi8(~(__mmask64)0, pick, window));
  }
}

}  // namespace resize
#endif
