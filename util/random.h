// Two self-contained pseudo-random generators; each object carries its
// whole state, and a copy continues the same sequence independently. Not
// for cryptographic use.
#pragma once

#include <array>
#include <cstdint>

namespace tessard {

// Two multiplicative congruential components (L'Ecuyer's multipliers and
// moduli, stepped by Schrage's method) joined by their sum less the first
// modulus.
class CombinedRandom {
 public:
  // first 99999, second 55555.
  CombinedRandom() = default;

  // first = value XOR 55555, second = value.
  void Seed(std::int32_t value);
  // Stores both states unchanged; the next draw brings them into range.
  void Seed(std::int32_t first, std::int32_t second);
  // Steps both components; returns first + second - 2147483563 (mod 2^32),
  // except that 0 becomes 2147483562.
  std::int32_t Next();
  // Next() / 4294967295.0: between about -0.5 and +0.5.
  double NextReal();

  std::int32_t First() const { return first; }
  std::int32_t Second() const { return second; }

 private:
  std::int32_t first = 99999;
  std::int32_t second = 55555;
};

// An eleven-word additive lagged generator, X(n) = (X(n-11) + X(n-7))
// rotated right by 13, seeded through a 32-bit xorshift.
class LaggedRandom {
 public:
  static constexpr int kWordCount = 11;

  // Seed(55555).
  LaggedRandom();

  // Refills the words from value (0 counts as 0xFFFFFFFF) and makes nine
  // warm-up draws.
  void Seed(std::uint32_t value);
  // The next word of the sequence.
  std::uint32_t Next();

  std::int32_t ReplaceIndex() const { return replaceIndex; }
  std::int32_t AddIndex() const { return addIndex; }
  const std::array<std::uint32_t, kWordCount>& Words() const { return words; }

 private:
  std::int32_t replaceIndex = 0;
  std::int32_t addIndex = 7;
  std::array<std::uint32_t, kWordCount> words{};
};

}  // namespace tessard
