// The limit on the processor-specific versions of the image stages, and
// what this processor offers.
#include "vector_level.h"

#include <atomic>

namespace {

std::atomic<int> limit{kVectorAvx512};

}  // namespace

void SetVectorLimit(int level) { limit.store(level); }

int VectorLimit() { return limit.load(); }

int ProcessorVectorLevel()
{
  static const int level = [] {
#if defined(__x86_64__) && defined(__GNUC__)
    if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
        __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512dq") &&
        __builtin_cpu_supports("avx512vbmi"))
      return (int)kVectorAvx512;
    if (__builtin_cpu_supports("avx2"))
      return (int)kVectorAvx2;
#endif
    return (int)kVectorPortable;
  }();
  return level;
}

int StageVectorLevel()
{
  const int processor = ProcessorVectorLevel(), limit = VectorLimit();
  return processor < limit ? processor : limit;
}
