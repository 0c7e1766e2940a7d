// Arithmetic on polynomials over GF(2) modulo the CRC-32 polynomial, in the
// bit order of the CRC register: reflected, bit 31 is x^0. The portable
// path and the carry-less folding both build their constants from it.
// Internal to the library; not installed.
#pragma once

#include <cstdint>

namespace tessard::crc32_polynomial {

// The CRC-32 polynomial without its x^32 term, reflected.
constexpr std::uint32_t kPolynomial = 0xEDB88320;
// 1, that is x^0.
constexpr std::uint32_t kOne = 0x80000000;

// a times x, modulo the polynomial.
constexpr std::uint32_t TimesX(std::uint32_t a) {
  return (a >> 1) ^ (kPolynomial & (0u - (a & 1)));
}

// a times b, modulo the polynomial.
constexpr std::uint32_t Multiply(std::uint32_t a, std::uint32_t b) {
  std::uint32_t product = 0;
  for (int bit = 31; bit >= 0; --bit) {
    product ^= b & (0u - ((a >> bit) & 1));
    b = TimesX(b);
  }
  return product;
}

// x^n, modulo the polynomial.
constexpr std::uint32_t PowerOfX(int n) {
  std::uint32_t value = kOne;
  for (int i = 0; i < n; ++i) value = TimesX(value);
  return value;
}

static_assert(Multiply(PowerOfX(5), PowerOfX(40)) == PowerOfX(45));
static_assert(Multiply(kOne, kPolynomial) == kPolynomial);

}  // namespace tessard::crc32_polynomial
