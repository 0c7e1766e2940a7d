// Writes the capture that the dissector benchmark reads: a key exchange on
// the server's default port, then encrypted game datagrams alternating
// between client and server, each 1 to 520 bytes long at random (a fixed
// seed), encrypted with the relay's own cipher.
// Usage: dissector_capture output.pcapng [datagrams]
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

#include "cipher/session_cipher.h"
#include "testing/relay_harness.h"
#include "testing/wire_capture.h"

int main(int argc, char** argv) {
  using namespace tessard;
  using namespace tessard::testing;
  if (argc < 2) {
    std::fprintf(stderr, "usage: dissector_capture output.pcapng [datagrams]\n");
    return 2;
  }
  const long count = argc > 2 ? std::atol(argv[2]) : 100000;
  const CaptureEndpoint client = Endpoint("10.0.0.1", 50000);
  const CaptureEndpoint server = Endpoint("10.0.0.9", 382);
  constexpr std::int32_t kClientKey = -1234567;
  constexpr std::int32_t kServerKey = 1234567;
  SessionCipher cipher;
  cipher.clientKey = kClientKey;
  cipher.SetServerKey(kServerKey);

  WireCapture capture;
  capture.Add(client, server, KeyRequest(kClientKey, 1));
  capture.Add(server, client, KeyResponse(kServerKey));
  std::mt19937 random(1);
  for (long i = 0; i < count; ++i) {
    std::string datagram(1 + random() % 520, '\0');
    for (char& c : datagram) c = static_cast<char>(random());
    if (datagram.size() >= 2 && datagram[0] == '\0') datagram[1] = '\x03';  // no 00 07
    const bool up = i % 2 == 0;
    capture.Add(up ? client : server, up ? server : client, Encrypted(cipher, datagram));
  }
  WriteWholeFile(argv[1], std::string(capture.File().begin(), capture.File().end()));
  return 0;
}
