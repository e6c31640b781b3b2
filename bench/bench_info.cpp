// kelvo-bench-info: one line saying which versions of the image stages the
// filter runs on this machine with this environment (KELVO_VECTOR_LEVEL,
// KELVO_THREADS), for the benchmarks to print with their figures.
//
// Usage: kelvo-bench-info
#include "image/parallel.h"
#include "image/vector_level.h"

#include <cstdio>
#include <cstdlib>

int main()
{
  const char *asked = getenv("KELVO_VECTOR_LEVEL");
  if (asked != nullptr && VectorLevelFromName(asked) < 0)
    fprintf(stderr, "kelvo-bench-info: KELVO_VECTOR_LEVEL=%s is not portable, avx2 or avx512: ignored\n", asked);
  printf("vector level %s (processor: %s), %d stage threads\n", VectorLevelName(StageVectorLevel()),
         VectorLevelName(ProcessorVectorLevel()), StageThreads());
  return 0;
}
