// The block draw of the generator (genrand_block): the word loops, shared
// by the portable version (mt19937ar.cpp) and the version built for AVX2
// (mt19937ar_avx2.cpp), which compiles the same loops with wider vectors.
// Everything here has internal linkage, so that no copy built for one
// processor is ever called from another's code.
#pragma once

#include <cstddef>
#include <cstdint>

namespace mt19937 {

constexpr int N = 624;
constexpr int M = 397;
constexpr uint32_t MATRIX_A = 0x9908b0dfU;    // constant vector a
constexpr uint32_t UPPER_MASK = 0x80000000U;  // most significant w-r bits
constexpr uint32_t LOWER_MASK = 0x7fffffffU;  // least significant r bits

// The next state word from words k, k + 1 and k + M (indices mod N), with
// the matrix term formed without a table so that the loops vectorise.
static inline __attribute__((always_inline)) uint32_t Twist(uint32_t k0, uint32_t k1, uint32_t kM)
{
  const uint32_t y = (k0 & UPPER_MASK) | (k1 & LOWER_MASK);
  return kM ^ (y >> 1) ^ ((0U - (y & 0x1U)) & MATRIX_A);
}

static inline __attribute__((always_inline)) uint32_t Temper(uint32_t y)
{
  y ^= (y >> 11);
  y ^= (y << 7) & 0x9d2c5680U;
  y ^= (y << 15) & 0xefc60000U;
  y ^= (y >> 18);
  return y;
}

// The generator's state (mt19937ar.cpp): the state vector, and the index
// of its next output word (N + 1: never seeded).
extern uint32_t mt[N];
extern int mti;

// Regenerates all N words at once.  The first loop reads only words it has
// not written yet, the second reads words written N - M = 227 steps before.
static inline __attribute__((always_inline)) void Regenerate()
{
  int kk;
  for (kk = 0; kk < N - M; kk++)
    mt[kk] = Twist(mt[kk], mt[kk + 1], mt[kk + M]);
  for (; kk < N - 1; kk++)
    mt[kk] = Twist(mt[kk], mt[kk + 1], mt[kk + (M - N)]);
  mt[N - 1] = Twist(mt[N - 1], mt[0], mt[M - 1]);
  mti = 0;
}

// The next n outputs of the seeded state into out.
static inline __attribute__((always_inline)) void BlockBody(uint32_t *out, size_t n)
{
  while (n > 0)
  {
    if (mti >= N)
      Regenerate();
    const size_t take = (size_t)(N - mti) < n ? (size_t)(N - mti) : n;
    const uint32_t *src = mt + mti;
    for (size_t i = 0; i < take; i++)
      out[i] = Temper(src[i]);
    mti += (int)take;
    out += take;
    n -= take;
  }
}

#if defined(__x86_64__) && defined(__GNUC__)
#define KELVO_MT_X86 1
// BlockBody built for AVX2: eight words a vector.
void BlockAvx2(uint32_t *out, size_t n);
#endif

}  // namespace mt19937
