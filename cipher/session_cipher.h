// The cipher state of one game connection: the key exchange and the
// in-place transform of datagram payloads.
#pragma once

#include <cstdint>

#include "cipher/key_table.h"
#include "cipher/lcg_random.h"
#include "cipher/table_random.h"

namespace tessard {

struct SessionCipher {
  // Largest payload a transform accepts: the size of the key table.
  static constexpr std::uint32_t kMaxPayload = KeyTable::kWordCount * 4;

  LcgRandom keyRandom;          // only for making client keys; never seeded
  TableRandom tableRandom;      // fills keyTable
  KeyTable keyTable;            // not read while sessionKey is 0
  std::int32_t sessionKey = 0;  // 0: no encryption
  std::int32_t clientKey = 0;

  // A server key equal to clientKey turns encryption off and keeps the
  // table; any other key becomes sessionKey and the table is refilled with
  // 260 draws of tableRandom seeded with it.
  void SetServerKey(std::int32_t serverKey);

  // Makes a client key from two keyRandom draws and the platform's tick
  // count, stores it in clientKey and returns it. Never positive.
  std::int32_t GenerateKey();
  // The same with the tick count given.
  std::int32_t GenerateKey(std::uint32_t tickCount);

  // The two's-complement negation of key, wrapping: -2^31 stays -2^31.
  static std::int32_t NegateKey(std::int32_t key);

  // True when key equals clientKey or its negation.
  bool IsValidServerKey(std::int32_t key) const;

  // Transform the payload of a datagram in place; the header (byte 0, or
  // bytes 0 and 1 when byte 0 is 0x00 and length is at least 2) stays clear.
  // Nothing changes while sessionKey is 0, for a length of 0, or for a
  // payload longer than kMaxPayload. Nothing past length is read or written.
  void Encrypt(std::uint8_t* data, std::uint32_t length) const;
  void Decrypt(std::uint8_t* data, std::uint32_t length) const;
};

}  // namespace tessard
