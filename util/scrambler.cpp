#include "util/scrambler.h"

#include <cstring>
#include <memory>
#include <new>

#include "util/checksums.h"

namespace tessard {
namespace {

constexpr std::uint8_t kEscapedZero = 237;

std::uint8_t NextKey(std::uint8_t key, std::uint8_t value) {
  return static_cast<std::uint8_t>(key ^ (value << (value & 3)));
}

const std::uint8_t* Bytes(const char* text) { return reinterpret_cast<const std::uint8_t*>(text); }

}  // namespace

void Scramble(const char* source, char* destination) {
  const std::size_t n = std::strlen(source);
  const std::uint8_t* in = Bytes(source);
  std::uint8_t key = XorChecksum(in, static_cast<std::uint32_t>(n));
  for (std::size_t i = 0; i < n; ++i) {
    const std::uint8_t value = static_cast<std::uint8_t>(in[i] ^ key);
    key = NextKey(key, value);
    destination[i] = static_cast<char>(value == 0 ? kEscapedZero : value);
  }
  destination[n] = '\0';
}

void Unscramble(const char* source, char* destination, std::uint8_t key) {
  const std::size_t n = std::strlen(source);
  const std::uint8_t* in = Bytes(source);
  for (std::size_t i = 0; i < n; ++i) {
    const std::uint8_t value = in[i] == kEscapedZero ? 0 : in[i];
    destination[i] = static_cast<char>(value ^ key);
    key = NextKey(key, value);
  }
}

bool IsUnprintable(std::uint8_t b) { return b <= 32 || b >= 127; }

void UnscrambleInPlace(char* text) {
  const std::size_t n = std::strlen(text);
  std::unique_ptr<char[]> buffer(new (std::nothrow) char[n + 1]);
  if (!buffer) return;
  buffer[n] = '\0';
  const std::uint8_t* decoded = Bytes(buffer.get());
  if (n % 2 == 1) {
    for (int key = 0; key < 256; ++key) {
      Unscramble(text, buffer.get(), static_cast<std::uint8_t>(key));
      bool printable = true;
      for (std::size_t i = 0; i < n && printable; ++i) printable = !IsUnprintable(decoded[i]);
      if (printable) break;
    }
  } else {
    // Decoding under a wrong start key XORs every byte by the same amount,
    // and for an even length those cancel: the XOR of this decoding is
    // the true start key.
    Unscramble(text, buffer.get(), 0);
    Unscramble(text, buffer.get(), XorChecksum(decoded, static_cast<std::uint32_t>(n)));
  }
  std::memcpy(text, buffer.get(), n);
}

}  // namespace tessard
