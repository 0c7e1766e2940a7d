#include "cipher/lcg_random.h"

#include <gtest/gtest.h>

namespace tessard {
namespace {

TEST(LcgRandomTest, DrawsFromStateZeroAndFromASeed) {
  LcgRandom random;
  for (std::uint32_t expected : {2471u, 2531u, 15766u, 24904u, 9683u}) {
    EXPECT_EQ(random.Next(), expected);
  }
  EXPECT_EQ(random.state, 0xA2974C77u);

  LcgRandom afterTwo;
  afterTwo.Next();
  afterTwo.Next();
  LcgRandom seeded(123);
  seeded.Seed(afterTwo.state);
  EXPECT_EQ(seeded.Next(), 15766u);
}

}  // namespace
}  // namespace tessard
