// MT19937 (mt19937ar): the reference algorithm, one process-wide instance
// in static storage.  All arithmetic is unsigned 32-bit modulo 2^32.  The
// block draw's loops are in mt19937ar_block.h.
#include "mt19937ar.h"

#include "image/vector_level.h"
#include "mt19937ar_block.h"

using namespace mt19937;

namespace mt19937 {

uint32_t mt[N];
int mti = N + 1;

}  // namespace mt19937

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

void genrand_block(uint32_t *out, size_t n)
{
  if (mti == N + 1)  // never seeded: a default initial seed is used
    init_genrand(5489U);
#ifdef KELVO_MT_X86
  if (StageVectorLevel() >= kVectorAvx2)
  {
    BlockAvx2(out, n);
    return;
  }
#endif
  BlockBody(out, n);
}
