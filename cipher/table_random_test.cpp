#include "cipher/table_random.h"

#include <gtest/gtest.h>

#include <vector>

namespace tessard {
namespace {

struct Draw {
  std::uint32_t state;
  std::uint16_t value;
};

struct DrawCase {
  std::uint32_t seed;
  std::vector<Draw> draws;
};

TEST(TableRandomTest, NextFromSeeds) {
  const DrawCase cases[] = {
      {1,
       {{16930, 16930},
        {284542633, 50857},
        {2009434732, 35436},
        {1241708125, 63069},
        {142375452, 31260},
        {607439129, 51481}}},
      {0, {{123, 123}, {2067384, 35768}, {386784659, 56723}}},
      {0x7FFFFFFF, {{123, 123}}},
      {0x80000000, {{16930, 16930}}},
      {0x83B1801A, {{2052157180, 28412}}},
      // The last state whose product keeps the top bit clear, and the first
      // whose quotient turns negative.
      {0xF98E7FFE, {{2054520108, 32044}}},
      {0xF98E7FFF, {{92907690, 43178}}},
      {0xFFFFFFFF, {{185874190, 14094}, {1546288715, 32331}}},
  };
  for (const DrawCase& c : cases) {
    SCOPED_TRACE(c.seed);
    TableRandom random(c.seed);
    for (const Draw& draw : c.draws) {
      EXPECT_EQ(random.Next(), draw.value);
      EXPECT_EQ(random.state, draw.state);
    }
  }
}

TEST(TableRandomTest, NextSignedDiffersOnlyWithTheTopBitSet) {
  const struct {
    std::uint32_t seed;
    Draw draw;
  } cases[] = {
      {1, {16930, 16930}},
      {0x7FFFFFFF, {123, 123}},
      {0x80000000, {95346234, 56890}},
      {0xFFFFFFFF, {95346234, 56890}},
      {0x83B1801A, {0xFFFFFFFF, 65535}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.seed);
    TableRandom random;
    random.Seed(c.seed);
    EXPECT_EQ(random.NextSigned(), c.draw.value);
    EXPECT_EQ(random.state, c.draw.state);
  }
}

}  // namespace
}  // namespace tessard
