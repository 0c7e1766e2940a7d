#include "util/random.h"

#include <gtest/gtest.h>

namespace tessard {
namespace {

TEST(CombinedRandomTest, DefaultSequenceAndReal) {
  CombinedRandom random;
  EXPECT_EQ(random.Next(), -180446479);
  EXPECT_EQ(random.First(), 1853876423);
  EXPECT_EQ(random.Second(), 113160661);
  CombinedRandom copy = random;
  EXPECT_EQ(random.Next(), -1131800394);
  EXPECT_EQ(random.Next(), 596134166);
  EXPECT_EQ(copy.Next(), -1131800394);
  EXPECT_DOUBLE_EQ(CombinedRandom().NextReal(), -0.04201346986042649);
}

TEST(CombinedRandomTest, SeedsAndDegenerateStates) {
  CombinedRandom random;
  random.Seed(65421664, 1481316021);
  EXPECT_EQ(random.Next(), 2147483562);  // z == 0 is replaced
  EXPECT_EQ(random.First(), 2147483562);
  EXPECT_EQ(random.Second(), 1);
  random.Seed(0);
  EXPECT_EQ(random.First(), 55555);
  EXPECT_EQ(random.Second(), 0);
  EXPECT_EQ(random.Next(), -2071989356);
  EXPECT_EQ(random.Next(), -684174243);
  EXPECT_EQ(random.Second(), 0);
  random.Seed(0, 0);
  EXPECT_EQ(random.Next(), -2147483563);
  EXPECT_EQ(random.Next(), -2147483563);
  // Extreme stored states are brought into range without overflow.
  random.Seed(-2147483647 - 1, 2147483647);
  random.Next();
  EXPECT_GE(random.First(), 0);
  EXPECT_LE(random.First(), 2147483562);
  EXPECT_GE(random.Second(), 0);
  EXPECT_LE(random.Second(), 2147483398);
}

TEST(LaggedRandomTest, SeedingWarmUpAndSequence) {
  LaggedRandom random;
  EXPECT_EQ(random.Words()[0], 0x6FE50A0Du);
  EXPECT_EQ(random.Words()[1], 0xC6EB7BE7u);
  EXPECT_EQ(random.Words()[2], 0x9B6E2AACu);
  EXPECT_EQ(random.ReplaceIndex(), 2);
  EXPECT_EQ(random.AddIndex(), 9);
  EXPECT_EQ(random.Next(), 0x7C429263u);
  EXPECT_EQ(random.Next(), 0xD34221A5u);
  EXPECT_EQ(random.Next(), 0x261225D7u);
  EXPECT_EQ(random.Next(), 0x9638DE33u);
  LaggedRandom zero, ones;
  zero.Seed(0);
  ones.Seed(0xFFFFFFFF);
  EXPECT_EQ(zero.Next(), 0x436AA4DCu);
  EXPECT_EQ(zero.Next(), 0x2B55810Bu);
  for (int i = 0; i < 2; ++i) ones.Next();
  for (int i = 0; i < 30; ++i) ASSERT_EQ(zero.Next(), ones.Next());
}

}  // namespace
}  // namespace tessard
