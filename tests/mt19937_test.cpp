// The MT19937 generator: the published check values, init_genrand against
// std::mt19937 and init_by_array against the reference across regenerations
// of the state.
#include "oracle/oracle.h"
#include "random/mt19937ar.h"

#include <gtest/gtest.h>

#include <random>

namespace {

TEST(Mt19937, SeedingMatchesTheReferences)
{
  const uint32_t key[4] = {0x123, 0x234, 0x345, 0x456};
  init_by_array(key, 4);
  for (uint32_t want : {1067595299u, 955945823u, 477289528u, 4107218783u, 4228976476u})
    EXPECT_EQ(genrand_int32(), want);
  // Each seeding restarts the sequence wherever the last one left it.
  for (uint32_t seed : {0u, 1u, 5489u, 0xffffffffu, 1u})
  {
    init_genrand(seed);
    std::mt19937 ref(seed);
    for (int n = 0; n < 3 * 624 + 5; n++)
      ASSERT_EQ(genrand_int32(), ref()) << "seed " << seed << " output " << n + 1;
  }
  // Keys shorter than the state, as long, and longer.
  for (size_t len : {1u, 623u, 624u, 625u, 1500u, 4u})
  {
    std::vector<uint32_t> k(len);
    for (size_t i = 0; i < len; i++)
      k[i] = (uint32_t)(i * 2654435761u + 12345u);
    init_by_array(k.data(), (int)len);
    OracleInitByArray(k.data(), (int)len);
    for (int n = 0; n < 1300; n++)
      ASSERT_EQ(genrand_int32(), OracleGenrandInt32()) << "key length " << len << " output " << n + 1;
  }
}

}  // namespace
