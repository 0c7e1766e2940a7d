#include "cipher/table_random.h"

namespace tessard {
namespace {

// Schrage's decomposition of 2^31 - 1: 127773 * 16807 + 2836.
constexpr std::uint32_t kMultiplier = 16807;
constexpr std::uint32_t kQuotientDivisor = 127773;
constexpr std::uint32_t kRemainderFactor = 2836;
constexpr std::uint32_t kIncrement = 123;
// Reciprocal of 127773 scaled by 2^48, as a compiler would emit for the division.
constexpr std::uint64_t kReciprocal = 0x834E0B5Fu;

// The step shared by both draws, from state and its quotient by 127773.
std::uint32_t Step(std::uint32_t state, std::int32_t quotient) {
  const std::uint32_t remainder = state % kQuotientDivisor;
  const std::uint32_t next = kMultiplier * remainder -
                             kRemainderFactor * static_cast<std::uint32_t>(quotient) + kIncrement;
  // Only a negative result is corrected; 0 stays 0.
  return next > 0x7FFFFFFFu ? next + 0x7FFFFFFFu : next;
}

}  // namespace

void TableRandom::Seed(std::uint32_t value) { state = value; }

std::uint16_t TableRandom::Next() {
  // The product is read as signed and shifted arithmetically, so a state of
  // 0xF98E7FFF or more yields a negative quotient; that is the protocol's
  // behaviour, kept on purpose.
  const auto product = static_cast<std::int64_t>(state * kReciprocal);
  auto quotient = static_cast<std::int32_t>(product >> 48);
  if (quotient < 0) quotient += 1;
  state = Step(state, quotient);
  return static_cast<std::uint16_t>(state);
}

std::uint16_t TableRandom::NextSigned() {
  state =
      Step(state, static_cast<std::int32_t>(state) / static_cast<std::int32_t>(kQuotientDivisor));
  return static_cast<std::uint16_t>(state);
}

}  // namespace tessard
