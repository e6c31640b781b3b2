// The MT19937 generator: the published check values, the unseeded
// default, init_genrand against std::mt19937 (the same recurrence) across
// regenerations of the state, and init_by_array with keys of every length
// against the reference generator of tests/oracle.
#include "oracle/oracle.h"
#include "random/mt19937ar.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <vector>

namespace {

TEST(Mt19937, UnseededStartsFromSeed5489)
{
  // The generator is process-wide: check the never-seeded path in a fresh
  // process (the threadsafe death-test style re-runs this binary for it).
#if defined(KELVO_EMULATED)
  GTEST_SKIP() << "under qemu-user without binfmt this binary cannot re-run itself";
#endif
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
  const uint32_t key[4] = {0x123, 0x234, 0x345, 0x456};
  init_by_array(key, 4);
  for (uint32_t want : {1067595299u, 955945823u, 477289528u, 4107218783u, 4228976476u})
    EXPECT_EQ(genrand_int32(), want);
}

// Each seeding restarts the sequence wherever the previous one left it.
TEST(Mt19937, InitGenrandMatchesStandardEngineAcrossRegenerations)
{
  for (uint32_t seed : {0u, 1u, 5489u, 19650218u, 0xffffffffu, 1u})
  {
    init_genrand(seed);
    std::mt19937 ref(seed);
    for (int n = 0; n < 3 * 624 + 5; n++)
      ASSERT_EQ(genrand_int32(), ref()) << "seed " << seed << " output " << n + 1;
  }
}

// Keys shorter than the state, as long, and longer (mixed in over
// key_length steps, every word counting), each seeded after the previous
// key's outputs.
TEST(Mt19937, KeySeedingMatchesTheReference)
{
  for (size_t len : {1u, 4u, 623u, 624u, 625u, 700u, 1500u, 4u})
  {
    std::vector<uint32_t> key(len);
    for (size_t k = 0; k < len; k++)
      key[k] = (uint32_t)(k * 2654435761u + 12345u);
    init_by_array(key.data(), (int)len);
    OracleInitByArray(key.data(), (int)len);
    for (int n = 0; n < 1300; n++)
      ASSERT_EQ(genrand_int32(), OracleGenrandInt32()) << "key length " << len << " output " << n + 1;
  }
}

}  // namespace
