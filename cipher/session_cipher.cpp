#include "cipher/session_cipher.h"

#include <cstring>

#include "platform/platform.h"
#include "util/byte_readers.h"

namespace tessard {
namespace {

// The protocol transforms a 520-byte work area, the payload followed by
// zeros, chaining on the ciphertext word, and copies back only the payload's
// bytes. Result word i depends on words 0 to i alone, so running the chain in
// place over the payload and padding its last partial word with zeros gives
// the same bytes without the fill and the two copies.
template <bool kEncrypt>
void Transform(const SessionCipher& cipher, std::uint8_t* data, std::uint32_t length) {
  if (cipher.sessionKey == 0 || length == 0) return;
  const std::uint32_t header = (data[0] == 0x00 && length >= 2) ? 2 : 1;
  const std::uint32_t size = length - header;
  if (size > SessionCipher::kMaxPayload) return;
  std::uint8_t* payload = data + header;

  auto chain = static_cast<std::uint32_t>(cipher.sessionKey);
  const std::uint32_t fullWords = size / 4;
  for (std::uint32_t i = 0; i < fullWords; ++i) {
    const std::uint32_t word = GetU32(payload, 4 * i);
    const std::uint32_t result = word ^ cipher.keyTable.Word(i) ^ chain;
    PutU32(payload, 4 * i, result);
    chain = kEncrypt ? result : word;
  }
  if (const std::uint32_t tail = size % 4; tail != 0) {
    std::uint8_t last[4] = {};
    std::memcpy(last, payload + 4 * fullWords, tail);
    PutU32(last, 0, GetU32(last, 0) ^ cipher.keyTable.Word(fullWords) ^ chain);
    std::memcpy(payload + 4 * fullWords, last, tail);
  }
}

}  // namespace

void SessionCipher::SetServerKey(std::int32_t serverKey) {
  if (serverKey == clientKey) {
    sessionKey = 0;
    return;
  }
  sessionKey = serverKey;
  tableRandom.Seed(static_cast<std::uint32_t>(serverKey));
  for (std::uint16_t& entry : keyTable.entries) entry = tableRandom.Next();
}

std::int32_t SessionCipher::GenerateKey() { return GenerateKey(platform::TickCount()); }

std::int32_t SessionCipher::GenerateKey(std::uint32_t tickCount) {
  const std::uint32_t t = tickCount * 0xCCCCCCCDu;
  const std::uint32_t high = keyRandom.Next();
  const std::uint32_t low = keyRandom.Next();
  std::uint32_t key = (high << 16) + (t >> 3) + low;
  key = (key ^ t) - t;
  clientKey = static_cast<std::int32_t>(key);
  // A client key is never positive; 0 and -2^31 are kept as they are.
  if (clientKey > 0) clientKey = NegateKey(clientKey);
  return clientKey;
}

std::int32_t SessionCipher::NegateKey(std::int32_t key) {
  return static_cast<std::int32_t>(0u - static_cast<std::uint32_t>(key));
}

bool SessionCipher::IsValidServerKey(std::int32_t key) const {
  return key == clientKey || key == NegateKey(clientKey);
}

void SessionCipher::Encrypt(std::uint8_t* data, std::uint32_t length) const {
  Transform<true>(*this, data, length);
}

void SessionCipher::Decrypt(std::uint8_t* data, std::uint32_t length) const {
  Transform<false>(*this, data, length);
}

}  // namespace tessard
