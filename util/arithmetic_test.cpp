#include "util/arithmetic.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace tessard {
namespace {

TEST(IntSqrtTest, FloorsAtTheBoundaries) {
  EXPECT_EQ(IntSqrt(0), 0u);
  EXPECT_EQ(IntSqrt(15), 3u);
  EXPECT_EQ(IntSqrt(16), 4u);
  EXPECT_EQ(IntSqrt(0xFFFE0000), 65534u);
  EXPECT_EQ(IntSqrt(0xFFFE0001), 65535u);
  EXPECT_EQ(IntSqrt(0xFFFFFFFF), 65535u);
  for (std::uint32_t root = 1; root < 65536; root += 257) {
    EXPECT_EQ(IntSqrt(root * root - 1), root - 1);
    EXPECT_EQ(IntSqrt(root * root), root);
  }
}

TEST(DistanceTest, WorksOnUnsignedAndTwosComplementCoordinates) {
  EXPECT_EQ(Distance(0, 0, 3, 4), 5u);
  EXPECT_EQ(Distance(10, 10, 13, 14), 5u);
  EXPECT_EQ(Distance(13, 14, 10, 10), 5u);
  EXPECT_EQ(Distance(0, 0, 46340, 46340), 65534u);
  EXPECT_EQ(Distance(0xFFFFFFFF, 0, 1, 0), 2u);
  EXPECT_EQ(DistanceSquared(0xFFFFFFFD, 0xFFFFFFFC, 0, 0), 25u);
  EXPECT_EQ(AbsDiff(3, 10), 7u);
  EXPECT_EQ(AbsDiffSigned(-2147483647 - 1, 2147483647), -1);  // 2^32 - 1 cut to 32 bits
  EXPECT_EQ(AbsDiffSigned(-3, 4), 7);
}

TEST(SignAndSatSubTest, SignedAndUnsignedComparisons) {
  EXPECT_EQ(Sign(-5), -1);
  EXPECT_EQ(Sign(0), 0);
  EXPECT_EQ(Sign(7), 1);
  EXPECT_EQ(Sign16(static_cast<std::int16_t>(0x8000)), -1);
  EXPECT_EQ(Sign16(0x7FFF), 1);
  EXPECT_EQ(SatSub(3, 5), 0u);
  EXPECT_EQ(SatSub(5, 3), 2u);
  EXPECT_EQ(SatSubSigned(-1, -3), 2);
  EXPECT_EQ(SatSubSigned(-3, -1), 0);
  EXPECT_EQ(SatSubSigned(2147483647, -2147483647 - 1), -1);
  EXPECT_EQ(SatSubSigned16(32767, -32768), 0xFFFF);
  EXPECT_EQ(SatSubSigned16(-32768, 32767), 0);
}

TEST(SixteenBitHelpersTest, LookOnlyAtTheLowSixteenBits) {
  // Callers hand these wider values; only the low half may count.
  std::uint32_t high5 = 0x10005, high3 = 0x10003, high1 = 0x10001, allOnes = 0xFFFF;
  EXPECT_EQ(SatSub16(high5, 3), 2);
  EXPECT_EQ(SatSub16(high3, 5), 0);
  EXPECT_EQ(Min16(2, high1), 1);
  EXPECT_EQ(MinSigned16(allOnes, 1), -1);
  EXPECT_EQ(Min16(0xFFFF, 1), 1);  // compared unsigned
  EXPECT_EQ(Min(7, 3), 3u);
  EXPECT_EQ(MinSigned(-1, 1), -1);
}

TEST(SwapTest, ExchangesAndKeepsAValueSwappedWithItself) {
  std::uint32_t a = 0x12345678, b = 0x9ABCDEF0;
  Swap(&a, &b);
  EXPECT_EQ(a, 0x9ABCDEF0u);
  EXPECT_EQ(b, 0x12345678u);
  Swap(&a, &a);
  EXPECT_EQ(a, 0x9ABCDEF0u);
  std::uint16_t c = 0x1234, d = 0xABCD;
  Swap16(&c, &d);
  EXPECT_EQ(c, 0xABCD);
  EXPECT_EQ(d, 0x1234);
  Swap16(&d, &d);
  EXPECT_EQ(d, 0x1234);
}

TEST(MulHighTest, HighHalfOfTheSignedProduct) {
  EXPECT_EQ(MulHigh(0x7FFFFFFF, 0x7FFFFFFF), 0x3FFFFFFF);
  EXPECT_EQ(MulHigh(-1, 1), -1);
  EXPECT_EQ(MulHigh(0x10000, 0x10000), 1);
  EXPECT_EQ(MulHigh(-2147483647 - 1, -2147483647 - 1), 0x40000000);
  EXPECT_EQ(MulHigh(-2147483647 - 1, 2147483647), -0x40000000);
}

TEST(DivModTest, TruncatesTowardZero) {
  std::int32_t remainder = 0, quotient = 0;
  DivMod(-7, 2, &remainder, &quotient);
  EXPECT_EQ(remainder, -1);
  EXPECT_EQ(quotient, -3);
  DivMod(7, -2, &remainder, &quotient);
  EXPECT_EQ(remainder, 1);
  EXPECT_EQ(quotient, -3);
}

TEST(RotateTest, CountsModuloThirtyTwoAndNegativeCounts) {
  EXPECT_EQ(RotateLeft(0x80000001, 1), 0x00000003u);
  EXPECT_EQ(RotateRight(0x80000001, 1), 0xC0000000u);
  EXPECT_EQ(RotateLeft(0x12345678, 36), 0x23456781u);
  EXPECT_EQ(RotateRight(0x12345678, 32), 0x12345678u);
  EXPECT_EQ(RotateLeft(0x12345678, 0), 0x12345678u);
  EXPECT_EQ(RotateRight(0x12345678, 0), 0x12345678u);
  EXPECT_EQ(Rotate(0x12345678, -4), 0x81234567u);
  EXPECT_EQ(Rotate(0x12345678, 4), 0x23456781u);
  EXPECT_EQ(Rotate(0x12345678, -2147483647 - 1), 0x12345678u);
  EXPECT_EQ(Rotate(0x12345678, -36), 0x81234567u);
}

TEST(CopyBytesTest, SourceFirstAndZeroCountCopiesNothing) {
  const std::uint8_t source[4] = {1, 2, 3, 4};
  std::uint8_t destination[4] = {9, 9, 9, 9};
  CopyBytes(source, destination, 0);
  EXPECT_EQ(destination[0], 9);
  CopyBytes(source, destination, 3);
  EXPECT_EQ(destination[0], 1);
  EXPECT_EQ(destination[2], 3);
  EXPECT_EQ(destination[3], 9);
}

}  // namespace
}  // namespace tessard
