// Small integer helpers of the protocol utility library. None of them checks
// its operands; the limits named below are the caller's to respect. The
// 16-bit helpers take 16-bit operands, so a wider argument counts only with
// its low 16 bits.
#pragma once

#include <cstdint>

namespace tessard {

// The floor of the square root of value, 0 .. 65535, exact for every input.
std::uint32_t IntSqrt(std::uint32_t value);

// |a - b| of two unsigned values.
std::uint32_t AbsDiff(std::uint32_t a, std::uint32_t b);
// a - b if b < a, else b - a, modulo 2^32.
std::int32_t AbsDiffSigned(std::int32_t a, std::int32_t b);

// 1, -1 or 0 for a positive, negative or zero value.
std::int32_t Sign(std::int32_t value);
std::int16_t Sign16(std::int16_t value);

// a - b when a > b, else 0.
std::uint32_t SatSub(std::uint32_t a, std::uint32_t b);
std::uint16_t SatSub16(std::uint16_t a, std::uint16_t b);
// a - b modulo 2^32 when a > b (signed comparison), else 0.
std::int32_t SatSubSigned(std::int32_t a, std::int32_t b);
// a - b when a > b (signed comparison), else 0; the difference, at most
// 65535, is returned exactly as an unsigned 16-bit value.
std::uint16_t SatSubSigned16(std::int16_t a, std::int16_t b);

// The smaller operand; the first one when they are equal.
std::uint32_t Min(std::uint32_t a, std::uint32_t b);
std::uint16_t Min16(std::uint16_t a, std::uint16_t b);
std::int32_t MinSigned(std::int32_t a, std::int32_t b);
std::int16_t MinSigned16(std::int16_t a, std::int16_t b);

// Exchanges *p and *q by three exclusive-ors. When p and q are the same
// location the value is left as it is (the exclusive-ors would zero it).
void Swap(std::uint32_t* p, std::uint32_t* q);
void Swap16(std::uint16_t* p, std::uint16_t* q);

// The high 32 bits of the signed 64-bit product a * b.
std::int32_t MulHigh(std::int32_t a, std::int32_t b);

// Writes dividend % divisor to *remainderOut and dividend / divisor to
// *quotientOut, truncating toward zero. The divisor must not be 0, and
// (-2147483648, -1) is outside the range.
void DivMod(std::int32_t dividend, std::int32_t divisor, std::int32_t* remainderOut,
            std::int32_t* quotientOut);

// dx * dx + dy * dy modulo 2^32, with dx and dy the absolute differences of
// the coordinates. Two's-complement coordinates work as signed ones while
// the true result is below 2^32.
std::uint32_t DistanceSquared(std::uint32_t x1, std::uint32_t y1, std::uint32_t x2,
                              std::uint32_t y2);
// IntSqrt(DistanceSquared(...)): the floored distance of the two points.
std::uint32_t Distance(std::uint32_t x1, std::uint32_t y1, std::uint32_t x2, std::uint32_t y2);

// value rotated by count mod 32 bits.
std::uint32_t RotateLeft(std::uint32_t value, std::uint32_t count);
std::uint32_t RotateRight(std::uint32_t value, std::uint32_t count);
// Left by count when count > 0, else right by -count: a left rotation by
// count mod 32 for every count.
std::uint32_t Rotate(std::uint32_t value, std::int32_t count);

// Copies count bytes from source to destination, one at a time, in
// ascending order. Note the order of the arguments: source first. The
// ranges must not overlap.
void CopyBytes(const std::uint8_t* source, std::uint8_t* destination, std::uint32_t count);

}  // namespace tessard
