#include "util/arithmetic.h"

namespace tessard {

std::uint32_t IntSqrt(std::uint32_t value) {
  std::uint32_t root = 0;
  std::uint32_t rest = value;
  for (int s = 15; s >= 0; --s) {
    // (root + 2^s)^2 - root^2; it never exceeds 32 bits.
    const std::uint32_t trial = ((root << 1) + (1u << s)) << s;
    if (rest >= trial) {
      root += 1u << s;
      rest -= trial;
    }
  }
  return root;
}

std::uint32_t AbsDiff(std::uint32_t a, std::uint32_t b) { return b < a ? a - b : b - a; }

std::int32_t AbsDiffSigned(std::int32_t a, std::int32_t b) {
  const std::uint32_t ua = static_cast<std::uint32_t>(a);
  const std::uint32_t ub = static_cast<std::uint32_t>(b);
  return static_cast<std::int32_t>(b < a ? ua - ub : ub - ua);
}

std::int32_t Sign(std::int32_t value) { return value > 0 ? 1 : value < 0 ? -1 : 0; }

std::int16_t Sign16(std::int16_t value) {
  return static_cast<std::int16_t>(value > 0 ? 1 : value < 0 ? -1 : 0);
}

std::uint32_t SatSub(std::uint32_t a, std::uint32_t b) { return a > b ? a - b : 0; }

std::uint16_t SatSub16(std::uint16_t a, std::uint16_t b) {
  return a > b ? static_cast<std::uint16_t>(a - b) : 0;
}

std::int32_t SatSubSigned(std::int32_t a, std::int32_t b) {
  if (a <= b) return 0;
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) - static_cast<std::uint32_t>(b));
}

std::uint16_t SatSubSigned16(std::int16_t a, std::int16_t b) {
  // Both promote to int, where the difference cannot overflow.
  return a > b ? static_cast<std::uint16_t>(a - b) : 0;
}

std::uint32_t Min(std::uint32_t a, std::uint32_t b) { return a > b ? b : a; }
std::uint16_t Min16(std::uint16_t a, std::uint16_t b) { return a > b ? b : a; }
std::int32_t MinSigned(std::int32_t a, std::int32_t b) { return a > b ? b : a; }
std::int16_t MinSigned16(std::int16_t a, std::int16_t b) { return a > b ? b : a; }

void Swap(std::uint32_t* p, std::uint32_t* q) {
  if (p == q) return;
  *p ^= *q;
  *q ^= *p;
  *p ^= *q;
}

void Swap16(std::uint16_t* p, std::uint16_t* q) {
  if (p == q) return;
  *p = static_cast<std::uint16_t>(*p ^ *q);
  *q = static_cast<std::uint16_t>(*q ^ *p);
  *p = static_cast<std::uint16_t>(*p ^ *q);
}

std::int32_t MulHigh(std::int32_t a, std::int32_t b) {
  const std::int64_t product = static_cast<std::int64_t>(a) * b;
  return static_cast<std::int32_t>(product >> 32);
}

void DivMod(std::int32_t dividend, std::int32_t divisor, std::int32_t* remainderOut,
            std::int32_t* quotientOut) {
  *remainderOut = dividend % divisor;
  *quotientOut = dividend / divisor;
}

std::uint32_t DistanceSquared(std::uint32_t x1, std::uint32_t y1, std::uint32_t x2,
                              std::uint32_t y2) {
  const std::uint32_t dx = AbsDiff(x1, x2);
  const std::uint32_t dy = AbsDiff(y1, y2);
  return dx * dx + dy * dy;
}

std::uint32_t Distance(std::uint32_t x1, std::uint32_t y1, std::uint32_t x2, std::uint32_t y2) {
  return IntSqrt(DistanceSquared(x1, y1, x2, y2));
}

std::uint32_t RotateLeft(std::uint32_t value, std::uint32_t count) {
  count &= 31;
  return count == 0 ? value : (value << count) | (value >> (32 - count));
}

std::uint32_t RotateRight(std::uint32_t value, std::uint32_t count) {
  count &= 31;
  return count == 0 ? value : (value >> count) | (value << (32 - count));
}

std::uint32_t Rotate(std::uint32_t value, std::int32_t count) {
  if (count > 0) return RotateLeft(value, static_cast<std::uint32_t>(count));
  // Negated unsigned, so that -2147483648 does not overflow.
  return RotateRight(value, 0u - static_cast<std::uint32_t>(count));
}

void CopyBytes(const std::uint8_t* source, std::uint8_t* destination, std::uint32_t count) {
  for (std::uint32_t i = 0; i < count; ++i) destination[i] = source[i];
}

}  // namespace tessard
