#include "cipher/session_cipher.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <vector>

namespace tessard {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::int32_t kServerKey = 0x1234ABCD;
constexpr std::uint32_t kGuard = 8;
constexpr std::int32_t kMinKey = std::numeric_limits<std::int32_t>::min();

// A header byte, size payload bytes of a fixed pattern, then kGuard guard bytes.
Bytes MakeDatagram(std::uint8_t first, std::uint32_t size) {
  const std::uint32_t header = first == 0x00 ? 2 : 1;
  Bytes bytes(header + size + kGuard, 0xEE);
  bytes[0] = first;
  if (header == 2) bytes[1] = 0x03;
  for (std::uint32_t i = 0; i < size; ++i)
    bytes[header + i] = static_cast<std::uint8_t>(i * 37 + 11);
  return bytes;
}

SessionCipher Keyed(std::int32_t serverKey) {
  SessionCipher cipher;
  cipher.SetServerKey(serverKey);
  return cipher;
}

// Applies Encrypt or Decrypt to the datagram, leaving the guard bytes out.
void Apply(const SessionCipher& cipher, bool encrypt, Bytes& bytes) {
  const auto length = static_cast<std::uint32_t>(bytes.size() - kGuard);
  encrypt ? cipher.Encrypt(bytes.data(), length) : cipher.Decrypt(bytes.data(), length);
}

// The transform as the protocol states it: a zero-filled 520-byte work area,
// all 130 words chained, the payload's bytes copied back.
Bytes StatedTransform(const SessionCipher& cipher, bool encrypt, Bytes bytes, std::uint32_t size) {
  const std::uint32_t header = bytes[0] == 0x00 ? 2 : 1;
  std::uint8_t work[520] = {};
  std::copy_n(bytes.begin() + header, size, work);
  auto chain = static_cast<std::uint32_t>(cipher.sessionKey);
  for (std::uint32_t i = 0; i < 130; ++i) {
    std::uint32_t word = 0;
    for (int b = 3; b >= 0; --b) word = (word << 8) | work[4 * i + b];
    const std::uint32_t key =
        cipher.keyTable.entries[2 * i] + 65536u * cipher.keyTable.entries[2 * i + 1];
    const std::uint32_t result = word ^ key ^ chain;
    for (int b = 0; b < 4; ++b) work[4 * i + b] = static_cast<std::uint8_t>(result >> (8 * b));
    chain = encrypt ? result : word;
  }
  std::copy_n(work, size, bytes.begin() + header);
  return bytes;
}

TEST(SessionCipherTest, NewCipherDoesNotEncrypt) {
  const SessionCipher cipher;
  EXPECT_EQ(cipher.keyRandom.state, 0u);
  EXPECT_EQ(cipher.tableRandom.state, 0u);
  EXPECT_TRUE(std::all_of(cipher.keyTable.entries.begin(), cipher.keyTable.entries.end(),
                          [](std::uint16_t entry) { return entry == 0; }));
  EXPECT_EQ(cipher.sessionKey, 0);
  EXPECT_EQ(cipher.clientKey, 0);
  for (bool encrypt : {true, false}) {
    Bytes bytes = MakeDatagram(0x01, 40);
    const Bytes before = bytes;
    Apply(cipher, encrypt, bytes);
    EXPECT_EQ(bytes, before);
  }
}

TEST(SessionCipherTest, SetServerKeyDerivesTheTable) {
  SessionCipher cipher = Keyed(1);
  EXPECT_EQ(cipher.sessionKey, 1);
  const std::uint16_t firstEntries[] = {16930, 50857, 35436, 63069, 31260, 51481};
  for (std::uint32_t i = 0; i < 6; ++i) EXPECT_EQ(cipher.keyTable.entries[i], firstEntries[i]);
  TableRandom reference(1);
  for (std::uint32_t i = 0; i < KeyTable::kEntryCount; ++i) reference.Next();
  EXPECT_EQ(cipher.tableRandom.state, reference.state);
  EXPECT_EQ(cipher.keyTable.entries[259], reference.state & 0xFFFF);

  // Keys with the top bit set seed the table unchanged, through Next().
  EXPECT_EQ(Keyed(static_cast<std::int32_t>(0x83B1801Au)).keyTable.entries[0], 28412u);
  EXPECT_EQ(Keyed(-1).keyTable.entries[0], 14094u);

  const KeyTable first = Keyed(kServerKey).keyTable;
  cipher.SetServerKey(kServerKey);
  EXPECT_EQ(cipher.keyTable.entries, first.entries);
  EXPECT_EQ(first.entries[0], TableRandom(kServerKey).Next());
}

TEST(SessionCipherTest, ServerKeyEqualToClientKeyTurnsEncryptionOff) {
  SessionCipher fresh;
  fresh.SetServerKey(0);
  EXPECT_EQ(fresh.sessionKey, 0);
  EXPECT_EQ(fresh.tableRandom.state, 0u);
  EXPECT_EQ(fresh.keyTable.entries, KeyTable{}.entries);

  // The table of the earlier session stays.
  SessionCipher cipher = Keyed(kServerKey);
  const SessionCipher before = cipher;
  cipher.clientKey = 77;
  cipher.SetServerKey(77);
  EXPECT_EQ(cipher.sessionKey, 0);
  EXPECT_EQ(cipher.keyTable.entries, before.keyTable.entries);
  EXPECT_EQ(cipher.tableRandom.state, before.tableRandom.state);
  Bytes bytes = MakeDatagram(0x01, 12);
  const Bytes plain = bytes;
  Apply(cipher, true, bytes);
  EXPECT_EQ(bytes, plain);

  // A server key of 0 against another client key still refills the table,
  // yet encryption stays off.
  SessionCipher zero;
  zero.clientKey = 77;
  zero.SetServerKey(0);
  EXPECT_EQ(zero.sessionKey, 0);
  EXPECT_EQ(zero.keyTable.entries[0], 123u);
  EXPECT_EQ(zero.keyTable.entries[1], 35768u);
  EXPECT_EQ(zero.keyTable.entries[2], 56723u);
  EXPECT_NE(zero.tableRandom.state, 0u);
  Apply(zero, false, bytes);
  EXPECT_EQ(bytes, plain);
}

TEST(SessionCipherTest, TransformsChainOnTheCiphertext) {
  // Table from key 1: word 0 is 0xC6A94222, word 1 is 0xF65D8A6C.
  const SessionCipher cipher = Keyed(1);
  Bytes encrypted = {0x01, 0, 0, 0, 0, 0, 0, 0, 0};
  cipher.Encrypt(encrypted.data(), 9);
  EXPECT_EQ(encrypted, (Bytes{0x01, 0x23, 0x42, 0xA9, 0xC6, 0x4F, 0xC8, 0xF4, 0x30}));
  Bytes decrypted = {0x01, 0, 0, 0, 0, 0, 0, 0, 0};
  cipher.Decrypt(decrypted.data(), 9);
  EXPECT_EQ(decrypted, (Bytes{0x01, 0x23, 0x42, 0xA9, 0xC6, 0x6C, 0x8A, 0x5D, 0xF6}));

  // With an all-zero table the first word meets the session key and every
  // later word the ciphertext word before it.
  SessionCipher zeroTable;
  zeroTable.sessionKey = 0x01020304;
  Bytes bytes = {0x00, 0x00, 0x10, 0x20, 0x30, 0x40, 0x01, 0x02, 0x03, 0x04, 0xFF};
  zeroTable.Encrypt(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
  EXPECT_EQ(bytes, (Bytes{0x00, 0x00, 0x14, 0x23, 0x32, 0x41, 0x15, 0x21, 0x31, 0x45, 0xEA}));
}

TEST(SessionCipherTest, TransformsMatchTheStatedWorkArea) {
  const SessionCipher cipher = Keyed(static_cast<std::int32_t>(0x83B1801Au));
  for (std::uint8_t first : {0x00, 0xC3}) {
    for (std::uint32_t size = 0; size <= 520; ++size) {
      for (bool encrypt : {true, false}) {
        Bytes bytes = MakeDatagram(first, size);
        const Bytes expected = StatedTransform(cipher, encrypt, bytes, size);
        Apply(cipher, encrypt, bytes);
        ASSERT_EQ(bytes, expected) << int{first} << " " << size << " " << encrypt;
      }
    }
  }
}

TEST(SessionCipherTest, RoundTripsKeepHeaderAndGuards) {
  const SessionCipher cipher = Keyed(kServerKey);
  for (std::uint8_t first : {0x00, 0x5A}) {
    for (std::uint32_t size : {0u, 1u, 2u, 3u, 4u, 5u, 517u, 518u, 519u, 520u}) {
      for (bool encryptFirst : {true, false}) {
        SCOPED_TRACE(testing::Message() << int{first} << " " << size << " " << encryptFirst);
        Bytes bytes = MakeDatagram(first, size);
        const Bytes plain = bytes;
        const std::uint32_t header = first == 0x00 ? 2 : 1;
        Apply(cipher, encryptFirst, bytes);
        EXPECT_TRUE(std::equal(plain.begin(), plain.begin() + header, bytes.begin()));
        EXPECT_TRUE(std::equal(plain.end() - kGuard, plain.end(), bytes.end() - kGuard));
        if (size > 0) {
          EXPECT_NE(bytes, plain);
        }
        Apply(cipher, !encryptFirst, bytes);
        EXPECT_EQ(bytes, plain);
      }
    }
  }
}

TEST(SessionCipherTest, ShortDatagrams) {
  const SessionCipher cipher = Keyed(kServerKey);
  for (bool encrypt : {true, false}) {
    for (const Bytes& unchanged : {Bytes{0x00}, Bytes{0x42}, Bytes{0x00, 0x99}}) {
      Bytes bytes = unchanged;
      encrypt ? cipher.Encrypt(bytes.data(), static_cast<std::uint32_t>(bytes.size()))
              : cipher.Decrypt(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
      EXPECT_EQ(bytes, unchanged);
    }
    Bytes bytes = {0x05, 0x99};
    encrypt ? cipher.Encrypt(bytes.data(), 2) : cipher.Decrypt(bytes.data(), 2);
    EXPECT_EQ(bytes[0], 0x05);
    EXPECT_NE(bytes[1], 0x99);
  }
}

TEST(SessionCipherTest, PrefixTransformsLikeTheWhole) {
  const SessionCipher cipher = Keyed(kServerKey);
  for (bool encrypt : {true, false}) {
    Bytes whole = MakeDatagram(0x01, 520);
    const Bytes plain = whole;
    Apply(cipher, encrypt, whole);
    for (std::uint32_t n = 0; n <= 520; ++n) {
      Bytes prefix(plain.begin(), plain.begin() + 1 + n);
      encrypt ? cipher.Encrypt(prefix.data(), 1 + n) : cipher.Decrypt(prefix.data(), 1 + n);
      ASSERT_TRUE(std::equal(prefix.begin(), prefix.end(), whole.begin())) << n;
    }
  }
}

TEST(SessionCipherTest, ChangedByteSpreadsForwardOnEncryptOnlyOneWordOnDecrypt) {
  const SessionCipher cipher = Keyed(kServerKey);
  constexpr std::uint32_t kSize = 39;
  constexpr std::uint32_t kChanged = 6;
  for (bool encrypt : {true, false}) {
    Bytes base = MakeDatagram(0x01, kSize);
    Bytes changed = base;
    changed[1 + kChanged] ^= 0x80;
    Apply(cipher, encrypt, base);
    Apply(cipher, encrypt, changed);
    std::vector<std::uint32_t> differing;
    for (std::uint32_t i = 0; i < kSize; ++i) {
      if (base[1 + i] != changed[1 + i]) differing.push_back(i);
    }
    const std::vector<std::uint32_t> expected =
        encrypt ? std::vector<std::uint32_t>{6, 10, 14, 18, 22, 26, 30, 34, 38}
                : std::vector<std::uint32_t>{6, 10};
    EXPECT_EQ(differing, expected);
  }
}

TEST(SessionCipherTest, RefusesEmptyAndOversizedDatagrams) {
  const SessionCipher cipher = Keyed(kServerKey);
  cipher.Encrypt(nullptr, 0);
  cipher.Decrypt(nullptr, 0);
  const struct {
    std::uint8_t first;
    std::uint32_t length;
    bool transformed;
  } cases[] = {
      {0x00, 0, false},  {0x01, 521, true},  {0x01, 522, false},
      {0x00, 522, true}, {0x00, 523, false}, {0x01, 100000, false},
  };
  for (bool encrypt : {true, false}) {
    for (const auto& c : cases) {
      SCOPED_TRACE(c.length);
      // Exactly length bytes, so a stray access beyond them is caught.
      Bytes bytes(c.length, 0x3C);
      Bytes guard = {0x00, 0x3C};
      std::uint8_t* data = c.length == 0 ? guard.data() : bytes.data();
      if (c.length > 0) bytes[0] = c.first;
      const Bytes before = bytes;
      encrypt ? cipher.Encrypt(data, c.length) : cipher.Decrypt(data, c.length);
      EXPECT_EQ(bytes != before, c.transformed);
      EXPECT_EQ(guard, (Bytes{0x00, 0x3C}));
    }
  }
}

TEST(SessionCipherTest, GenerateKey) {
  SessionCipher cipher;
  EXPECT_EQ(cipher.GenerateKey(0), -(2471 * 65536 + 2531));
  EXPECT_EQ(cipher.clientKey, -(2471 * 65536 + 2531));
  EXPECT_EQ(SessionCipher{}.GenerateKey(1000), -161941612);
  EXPECT_EQ(SessionCipher{}.GenerateKey(0xFFFFFFFF), -267710393);

  for (std::uint32_t tick = 0; tick < 4000; ++tick) {
    const std::int32_t key = cipher.GenerateKey(tick * 0x9E3779B9u);
    EXPECT_LE(key, 0);
    EXPECT_EQ(key, cipher.clientKey);
  }
}

TEST(SessionCipherTest, NegateAndValidateKeys) {
  EXPECT_EQ(SessionCipher::NegateKey(0), 0);
  EXPECT_EQ(SessionCipher::NegateKey(kMinKey), kMinKey);
  EXPECT_EQ(SessionCipher::NegateKey(-5), 5);

  const struct {
    std::int32_t clientKey;
    std::vector<std::int32_t> valid;
    std::vector<std::int32_t> invalid;
  } cases[] = {
      {-5, {-5, 5}, {0, 4, -4, kMinKey}},
      {0, {0}, {1, -1, kMinKey}},
      {kMinKey, {kMinKey}, {0, kMinKey + 1, std::numeric_limits<std::int32_t>::max()}},
  };
  for (const auto& c : cases) {
    SessionCipher cipher;
    cipher.clientKey = c.clientKey;
    for (std::int32_t key : c.valid) EXPECT_TRUE(cipher.IsValidServerKey(key)) << key;
    for (std::int32_t key : c.invalid) EXPECT_FALSE(cipher.IsValidServerKey(key)) << key;
  }
}

}  // namespace
}  // namespace tessard
