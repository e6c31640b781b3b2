// MT19937 (mt19937ar): the reference algorithm, one process-wide instance
// in static storage.  All arithmetic is unsigned 32-bit modulo 2^32.
#include "mt19937ar.h"

#include "image/vector_level.h"

namespace {

constexpr int N = 624;
constexpr int M = 397;
constexpr uint32_t MATRIX_A = 0x9908b0dfU;    // constant vector a
constexpr uint32_t UPPER_MASK = 0x80000000U;  // most significant w-r bits
constexpr uint32_t LOWER_MASK = 0x7fffffffU;  // least significant r bits

uint32_t mt[N];   // the state vector
int mti = N + 1;  // N + 1: never seeded

}  // namespace

void init_genrand(uint32_t s)
{
  mt[0] = s;
  for (mti = 1; mti < N; mti++)
    mt[mti] = 1812433253U * (mt[mti - 1] ^ (mt[mti - 1] >> 30)) + (uint32_t)mti;
}

void init_by_array(const uint32_t init_key[], int key_length)
{
  init_genrand(19650218U);
  int i = 1;
  int j = 0;
  for (int k = (N > key_length ? N : key_length); k; k--)
  {
    mt[i] = (mt[i] ^ ((mt[i - 1] ^ (mt[i - 1] >> 30)) * 1664525U)) + init_key[j] + (uint32_t)j;  // non linear
    i++;
    j++;
    if (i >= N)
    {
      mt[0] = mt[N - 1];
      i = 1;
    }
    if (j >= key_length)
      j = 0;
  }
  for (int k = N - 1; k; k--)
  {
    mt[i] = (mt[i] ^ ((mt[i - 1] ^ (mt[i - 1] >> 30)) * 1566083941U)) - (uint32_t)i;  // non linear
    i++;
    if (i >= N)
    {
      mt[0] = mt[N - 1];
      i = 1;
    }
  }
  mt[0] = 0x80000000U;  // MSB is 1, assuring a non-zero initial array
}

uint32_t genrand_int32(void)
{
  static const uint32_t mag01[2] = {0x0U, MATRIX_A};  // mag01[x] = x * MATRIX_A for x = 0, 1
  uint32_t y;

  if (mti >= N)  // generate N words at one time
  {
    if (mti == N + 1)  // never seeded: a default initial seed is used
      init_genrand(5489U);

    int kk;
    for (kk = 0; kk < N - M; kk++)
    {
      y = (mt[kk] & UPPER_MASK) | (mt[kk + 1] & LOWER_MASK);
      mt[kk] = mt[kk + M] ^ (y >> 1) ^ mag01[y & 0x1U];
    }
    for (; kk < N - 1; kk++)
    {
      y = (mt[kk] & UPPER_MASK) | (mt[kk + 1] & LOWER_MASK);
      mt[kk] = mt[kk + (M - N)] ^ (y >> 1) ^ mag01[y & 0x1U];
    }
    y = (mt[N - 1] & UPPER_MASK) | (mt[0] & LOWER_MASK);
    mt[N - 1] = mt[M - 1] ^ (y >> 1) ^ mag01[y & 0x1U];

    mti = 0;
  }

  y = mt[mti++];

  // Tempering
  y ^= (y >> 11);
  y ^= (y << 7) & 0x9d2c5680U;
  y ^= (y << 15) & 0xefc60000U;
  y ^= (y >> 18);

  return y;
}

namespace {

// Regenerate all N words at once.  The same steps as the reference, with
// the matrix term formed without a table so that the loops vectorise: the
// first loop reads only words it has not written yet, the second reads
// words written N - M = 227 steps before.
inline __attribute__((always_inline)) void Regenerate()
{
  if (mti == N + 1)
    init_genrand(5489U);
  int kk;
  for (kk = 0; kk < N - M; kk++)
  {
    const uint32_t y = (mt[kk] & UPPER_MASK) | (mt[kk + 1] & LOWER_MASK);
    mt[kk] = mt[kk + M] ^ (y >> 1) ^ ((0U - (y & 0x1U)) & MATRIX_A);
  }
  for (; kk < N - 1; kk++)
  {
    const uint32_t y = (mt[kk] & UPPER_MASK) | (mt[kk + 1] & LOWER_MASK);
    mt[kk] = mt[kk + (M - N)] ^ (y >> 1) ^ ((0U - (y & 0x1U)) & MATRIX_A);
  }
  const uint32_t y = (mt[N - 1] & UPPER_MASK) | (mt[0] & LOWER_MASK);
  mt[N - 1] = mt[M - 1] ^ (y >> 1) ^ ((0U - (y & 0x1U)) & MATRIX_A);
  mti = 0;
}

// The block draw; built a second time for AVX2 below, where its loops work
// eight words at a time (the same word operations, so the same numbers).
inline __attribute__((always_inline)) void Block(uint32_t *out, size_t n)
{
  while (n > 0)
  {
    if (mti >= N)
      Regenerate();
    const size_t take = (size_t)(N - mti) < n ? (size_t)(N - mti) : n;
    const uint32_t *src = mt + mti;
    for (size_t i = 0; i < take; i++)
    {
      uint32_t y = src[i];
      y ^= (y >> 11);
      y ^= (y << 7) & 0x9d2c5680U;
      y ^= (y << 15) & 0xefc60000U;
      y ^= (y >> 18);
      out[i] = y;
    }
    mti += (int)take;
    out += take;
    n -= take;
  }
}

#if defined(__x86_64__) && defined(__GNUC__)
__attribute__((target("avx2"))) void BlockAvx2(uint32_t *out, size_t n) { Block(out, n); }
#endif

}  // namespace

void genrand_block(uint32_t *out, size_t n)
{
#if defined(__x86_64__) && defined(__GNUC__)
  if (StageVectorLevel() >= kVectorAvx2)
  {
    BlockAvx2(out, n);
    return;
  }
#endif
  Block(out, n);
}
