#include "util/random.h"

namespace tessard {
namespace {

constexpr std::int64_t kFirstModulus = 2147483563;
constexpr std::int64_t kSecondModulus = 2147483399;

// One Schrage step of state * multiplier mod modulus, with
// modulus = multiplier * quotient + remainder. Done in 64 bits so that any
// stored state is safe.
std::int32_t SchrageStep(std::int32_t state, std::int64_t multiplier, std::int64_t quotient,
                         std::int64_t remainder, std::int64_t modulus) {
  const std::int64_t q = state / quotient;
  const std::int64_t r = state % quotient;
  std::int64_t next = multiplier * r - remainder * q;
  if (next < 0) next += modulus;
  return static_cast<std::int32_t>(next);
}

}  // namespace

void CombinedRandom::Seed(std::int32_t value) {
  first = value ^ 55555;
  second = value;
}

void CombinedRandom::Seed(std::int32_t first, std::int32_t second) {
  this->first = first;
  this->second = second;
}

std::int32_t CombinedRandom::Next() {
  first = SchrageStep(first, 40014, 53668, 12211, kFirstModulus);
  second = SchrageStep(second, 40692, 52774, 3791, kSecondModulus);
  const std::uint32_t z = static_cast<std::uint32_t>(first) + static_cast<std::uint32_t>(second) -
                          static_cast<std::uint32_t>(kFirstModulus);
  if (z == 0) return 2147483562;
  return static_cast<std::int32_t>(z);
}

double CombinedRandom::NextReal() { return static_cast<double>(Next()) / 4294967295.0; }

LaggedRandom::LaggedRandom() { Seed(55555); }

void LaggedRandom::Seed(std::uint32_t value) {
  // The xorshift keeps a non-zero value non-zero, and only a zero seed
  // would give zero words.
  if (value == 0) value = 0xFFFFFFFF;
  for (std::uint32_t& word : words) {
    value ^= value << 13;
    value ^= value >> 17;
    value ^= value << 5;
    word = value;
  }
  replaceIndex = 0;
  addIndex = 7;
  for (int i = 0; i < 9; ++i) Next();
}

std::uint32_t LaggedRandom::Next() {
  std::uint32_t t = words[replaceIndex] + words[addIndex];
  t = (t >> 13) | (t << 19);
  words[replaceIndex] = t;
  if (--replaceIndex < 0) replaceIndex = kWordCount - 1;
  if (--addIndex < 0) addIndex = kWordCount - 1;
  return t;
}

}  // namespace tessard
