// The session cipher on arbitrary keys and payloads: Encrypt and Decrypt
// undo each other, and neither touches a byte outside the payload (the
// buffer is exactly as long as the payload, so AddressSanitizer sees).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "cipher/session_cipher.h"
#include "fuzz/fuzz_check.h"
#include "util/byte_readers.h"

using tessard::fuzzing::Check;

// Four bytes of client key, four of server key, then 1 to 520 bytes of
// payload.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using tessard::SessionCipher;
  if (size < 9) return 0;
  std::size_t length = size - 8;
  if (length > SessionCipher::kMaxPayload) length = SessionCipher::kMaxPayload;
  static SessionCipher cipher;
  cipher = SessionCipher{};
  cipher.clientKey = static_cast<std::int32_t>(tessard::GetU32(data, 0));
  cipher.SetServerKey(static_cast<std::int32_t>(tessard::GetU32(data, 4)));

  const std::vector<std::uint8_t> plain(data + 8, data + 8 + length);
  std::vector<std::uint8_t> buffer(plain);
  cipher.Encrypt(buffer.data(), static_cast<std::uint32_t>(buffer.size()));
  cipher.Decrypt(buffer.data(), static_cast<std::uint32_t>(buffer.size()));
  Check(buffer == plain, "Decrypt(Encrypt(x)) != x");
  cipher.Decrypt(buffer.data(), static_cast<std::uint32_t>(buffer.size()));
  cipher.Encrypt(buffer.data(), static_cast<std::uint32_t>(buffer.size()));
  Check(buffer == plain, "Encrypt(Decrypt(x)) != x");
  return 0;
}
