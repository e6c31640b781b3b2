// The MT19937 generator of Part 4.1: the reference check values, the
// unseeded default, the 624/625 regeneration boundary, long and short keys
// and re-seeding.
//
// Independent references: std::mt19937 seeded with one word uses the same
// recurrence as init_genrand (but NOT the same as init_by_array through
// std::seed_seq), and a std::mt19937 can be loaded with any state vector
// through operator>>, so the twist and tempering are checked against the
// standard library, not against this implementation itself.
#include "random/mt19937ar.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <sstream>
#include <vector>

namespace {

const uint32_t kKey[4] = {0x123, 0x234, 0x345, 0x456};

std::vector<uint32_t> Draw(size_t n)
{
  std::vector<uint32_t> v(n);
  for (auto &x : v)
    x = genrand_int32();
  return v;
}

// Inverse of the tempering: the state word that gave output y.
uint32_t Untemper(uint32_t y)
{
  auto unshiftRight = [](uint32_t v, int s) {
    uint32_t x = v;
    for (int i = 0; i < 32 / s + 1; i++)
      x = v ^ (x >> s);
    return x;
  };
  auto unshiftLeft = [](uint32_t v, int s, uint32_t mask) {
    uint32_t x = v;
    for (int i = 0; i < 32 / s + 1; i++)
      x = v ^ ((x << s) & mask);
    return x;
  };
  y = unshiftRight(y, 18);
  y = unshiftLeft(y, 15, 0xefc60000U);
  y = unshiftLeft(y, 7, 0x9d2c5680U);
  y = unshiftRight(y, 11);
  return y;
}

// A std::mt19937 whose next output comes from regenerating the given state
// vector, as genrand_int32 does when its index has reached 624.
std::mt19937 EngineWithState(const std::vector<uint32_t> &state)
{
  std::stringstream s;
  for (uint32_t w : state)
    s << w << ' ';
  s << 624;  // libstdc++ also reads the index; other libraries stop at 624 words
  std::mt19937 e;
  s >> e;
  return e;
}

// init_by_array written out from the description of Part 4.1, with the
// index wrapping done by modular arithmetic; returns the state vector.
std::vector<uint32_t> KeyedState(const std::vector<uint32_t> &key)
{
  std::vector<uint32_t> mt(624);
  mt[0] = 19650218U;
  for (uint32_t i = 1; i < 624; i++)
    mt[i] = 1812433253U * (mt[i - 1] ^ (mt[i - 1] >> 30)) + i;
  size_t i = 1;
  const size_t steps = key.size() > 624 ? key.size() : 624;
  for (size_t k = 0; k < steps; k++)
  {
    const size_t j = k % key.size();
    mt[i] = (mt[i] ^ ((mt[i - 1] ^ (mt[i - 1] >> 30)) * 1664525U)) + key[j] + (uint32_t)j;
    if (++i == 624)
    {
      mt[0] = mt[623];
      i = 1;
    }
  }
  for (size_t k = 0; k < 623; k++)
  {
    mt[i] = (mt[i] ^ ((mt[i - 1] ^ (mt[i - 1] >> 30)) * 1566083941U)) - (uint32_t)i;
    if (++i == 624)
    {
      mt[0] = mt[623];
      i = 1;
    }
  }
  mt[0] = 0x80000000U;
  return mt;
}

TEST(Mt19937, UnseededStartsFromSeed5489)
{
  // The generator is process-wide: check the never-seeded path in a fresh
  // process (the threadsafe death-test style re-runs this binary for it).
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        std::mt19937 ref(5489u);
        bool ok = genrand_int32() == 3499211612u && ref() == 3499211612u;
        for (int n = 1; n < 2000; n++)
          ok = ok && genrand_int32() == ref();
        std::exit(ok ? 0 : 1);
      },
      testing::ExitedWithCode(0), "");
}

TEST(Mt19937, KeyCheckValues)
{
  init_by_array(kKey, 4);
  EXPECT_EQ(Draw(5), (std::vector<uint32_t>{1067595299u, 955945823u, 477289528u, 4107218783u, 4228976476u}));
}

TEST(Mt19937, InitGenrandMatchesStandardEngineAcrossRegenerations)
{
  for (uint32_t seed : {0u, 1u, 5489u, 19650218u, 0xffffffffu})
  {
    init_genrand(seed);
    std::mt19937 ref(seed);
    for (int n = 0; n < 3 * 624 + 5; n++)
      ASSERT_EQ(genrand_int32(), ref()) << "seed " << seed << " output " << n + 1;
  }
}

TEST(Mt19937, RegenerationBoundaryAfterKeySeeding)
{
  init_by_array(kKey, 4);
  // Outputs 1 to 624 come from the first regeneration ...
  std::vector<uint32_t> first = Draw(624);
  EXPECT_EQ(first[0], 1067595299u);
  std::vector<uint32_t> state(624);
  for (size_t k = 0; k < 624; k++)
    state[k] = Untemper(first[k]);
  // ... and the 625th triggers the next one, from exactly that vector.
  std::mt19937 ref = EngineWithState(state);
  for (int n = 625; n <= 2000; n++)
    ASSERT_EQ(genrand_int32(), ref()) << "output " << n;
}

TEST(Mt19937, KeySeedingMatchesTheDescription)
{
  // The description-based state reproduces the check values ...
  std::mt19937 ref = EngineWithState(KeyedState({0x123, 0x234, 0x345, 0x456}));
  EXPECT_EQ(ref(), 1067595299u);
  EXPECT_EQ(ref(), 955945823u);

  // ... and agrees with init_by_array for keys of 1 word, of 624 words, and
  // longer than 624 words (mixed in over key_length steps).
  for (size_t len : {1u, 5u, 623u, 624u, 625u, 700u, 1500u})
  {
    std::vector<uint32_t> key(len);
    for (size_t k = 0; k < len; k++)
      key[k] = (uint32_t)(k * 2654435761u + 12345u);
    init_by_array(key.data(), (int)len);
    std::mt19937 e = EngineWithState(KeyedState(key));
    for (int n = 0; n < 700; n++)
      ASSERT_EQ(genrand_int32(), e()) << "key length " << len << " output " << n + 1;
  }
}

TEST(Mt19937, LongKeyUsesEveryWord)
{
  std::vector<uint32_t> key(700, 7u);
  init_by_array(key.data(), 700);
  std::vector<uint32_t> a = Draw(10);
  init_by_array(key.data(), 624);  // only the first 624 words
  std::vector<uint32_t> b = Draw(10);
  key[699] = 8u;  // the last word matters
  init_by_array(key.data(), 700);
  std::vector<uint32_t> c = Draw(10);
  EXPECT_NE(a, b);
  EXPECT_NE(a, c);
}

TEST(Mt19937, ReseedingRestartsTheSequence)
{
  init_by_array(kKey, 4);
  std::vector<uint32_t> a = Draw(1500);
  init_by_array(kKey, 4);
  std::vector<uint32_t> b = Draw(1500);
  EXPECT_EQ(a, b);
  init_genrand(42);
  std::vector<uint32_t> c = Draw(700);
  init_genrand(42);
  EXPECT_EQ(Draw(700), c);
}

}  // namespace
