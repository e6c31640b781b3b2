// The limit on the processor-specific versions of the image stages, and
// what this processor offers.
#include "vector_level.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

namespace {

const char *const kLevelNames[] = {"portable", "avx2", "avx512"};

// The start: the level KELVO_VECTOR_LEVEL names, else all levels.
int LimitFromEnvironment()
{
  const int level = VectorLevelFromName(getenv("KELVO_VECTOR_LEVEL"));
  return level < 0 ? (int)kVectorAvx512 : level;
}

std::atomic<int> limit{LimitFromEnvironment()};

}  // namespace

int VectorLevelFromName(const char *name)
{
  if (name != nullptr)
    for (int level = kVectorPortable; level <= kVectorAvx512; level++)
      if (strcmp(name, kLevelNames[level]) == 0)
        return level;
  return -1;
}

const char *VectorLevelName(int level)
{
  return level >= kVectorPortable && level <= kVectorAvx512 ? kLevelNames[level] : "unknown";
}

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
