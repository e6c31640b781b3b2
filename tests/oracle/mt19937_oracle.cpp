// The reference MT19937 (mt19937ar), one word at a time, with a state of its
// own so that it and the filter's generator do not disturb each other.
#include "oracle/oracle.h"

namespace {

constexpr int N = 624, M = 397;
uint32_t mt[N];
int mti = N + 1;  // never seeded

void InitGenrand(uint32_t s)
{
  mt[0] = s;
  for (mti = 1; mti < N; mti++)
    mt[mti] = 1812433253U * (mt[mti - 1] ^ (mt[mti - 1] >> 30)) + (uint32_t)mti;
}

uint32_t Twist(uint32_t upper, uint32_t lower) // (upper's top bit | lower's other bits) >> 1, xor a
{
  const uint32_t y = (upper & 0x80000000U) | (lower & 0x7fffffffU);
  return (y >> 1) ^ (y & 1 ? 0x9908b0dfU : 0);
}

}  // namespace

void OracleInitByArray(const uint32_t init_key[], int key_length)
{
  InitGenrand(19650218U);
  int i = 1, j = 0;
  for (int k = N > key_length ? N : key_length; k; k--)
  {
    mt[i] = (mt[i] ^ ((mt[i - 1] ^ (mt[i - 1] >> 30)) * 1664525U)) + init_key[j] + (uint32_t)j;
    if (++i >= N)
      mt[0] = mt[N - 1], i = 1;
    if (++j >= key_length)
      j = 0;
  }
  for (int k = N - 1; k; k--)
  {
    mt[i] = (mt[i] ^ ((mt[i - 1] ^ (mt[i - 1] >> 30)) * 1566083941U)) - (uint32_t)i;
    if (++i >= N)
      mt[0] = mt[N - 1], i = 1;
  }
  mt[0] = 0x80000000U;
}

uint32_t OracleGenrandInt32()
{
  if (mti >= N)
  {
    if (mti == N + 1)
      InitGenrand(5489U);
    for (int kk = 0; kk < N; kk++)
      mt[kk] = mt[(kk + M) % N] ^ Twist(mt[kk], mt[(kk + 1) % N]);
    mti = 0;
  }
  uint32_t y = mt[mti++];
  y ^= y >> 11;
  y ^= (y << 7) & 0x9d2c5680U;
  y ^= (y << 15) & 0xefc60000U;
  return y ^ (y >> 18);
}
