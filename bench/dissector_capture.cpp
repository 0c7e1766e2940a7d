// Writes the captures that the dissector benchmark reads (a fixed seed):
//   mix    a key exchange on the server's default port, then encrypted
//          datagrams alternating between client and server, a mix of what
//          a game sends: reliable game packets, acknowledgements, clusters
//          of small packets, plain game packets; encrypted with the relay's
//          own cipher;
//   flood  key requests from many ports that no one answers, as a scan or
//          a flood sends them;
//   nested after a key exchange, chunk tails whose pieces are chunk headers
//          themselves: what a hostile peer sends to make a reader of the
//          capture do more work than the capture is worth.
// Usage: dissector_capture output.pcapng [datagrams] [mix|flood|nested]
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
  const std::string kind = argc > 3 ? argv[3] : "mix";
  const CaptureEndpoint client = Endpoint("10.0.0.1", 50000);
  const CaptureEndpoint server = Endpoint("10.0.0.9", 382);
  constexpr std::int32_t kClientKey = -1234567;
  constexpr std::int32_t kServerKey = 1234567;
  SessionCipher cipher;
  cipher.clientKey = kClientKey;
  cipher.SetServerKey(kServerKey);

  WireCapture capture;
  std::mt19937 random(1);
  if (kind == "flood") {
    // Two requests from each port, to a port no dissector claims.
    for (long i = 0; i < count; ++i) {
      const auto port = static_cast<std::uint16_t>(10000 + (i / 2) % 50000);
      capture.Add(Endpoint("10.0.0.1", port), Endpoint("10.0.0.9", 7000),
                  KeyRequest(static_cast<std::int32_t>(random()), 1));
    }
    WriteWholeFile(argv[1], std::string(capture.File().begin(), capture.File().end()));
    return 0;
  }
  capture.Add(client, server, KeyRequest(kClientKey, 1));
  capture.Add(server, client, KeyResponse(kServerKey));
  // A game packet of 2 to max bytes: a type byte that is not 0, then bytes.
  const auto gamePacket = [&](std::size_t max) {
    std::string packet(2 + random() % (max - 1), '\0');
    for (char& c : packet) c = static_cast<char>(random());
    packet[0] = static_cast<char>(1 + random() % 255);
    return packet;
  };
  const auto u32 = [](std::uint32_t value) {
    std::string bytes;
    for (int i = 0; i < 4; ++i) bytes += static_cast<char>(value >> (8 * i));
    return bytes;
  };
  const auto core = [](int type, const std::string& body) {
    std::string bytes(1, '\0');
    bytes += static_cast<char>(type);
    return bytes + body;
  };
  std::uint32_t reliableId[2] = {0, 0};
  if (kind == "nested") {
    // Chunk tails whose pieces are chunk headers, over and over: a reader
    // that fed each joined packet back into the flow would join a packet
    // that grows by a datagram with every datagram.
    std::string headers;
    while (headers.size() + 2 < 520) headers += core(0x08, "");
    for (long i = 0; i < count; ++i) {
      capture.Add(client, server, Encrypted(cipher, core(0x09, headers)));
    }
    WriteWholeFile(argv[1], std::string(capture.File().begin(), capture.File().end()));
    return 0;
  }
  for (long i = 0; i < count; ++i) {
    const bool up = i % 2 == 0;
    std::string datagram;
    switch (random() % 10) {
      case 0:
      case 1:
      case 2:  // a game packet, reliable
        datagram = core(0x03, u32(reliableId[up]++) + gamePacket(200));
        break;
      case 3:
      case 4:  // the acknowledgement of one
        datagram = core(0x04, u32(random() % 100000));
        break;
      case 5:
      case 6: {  // a cluster of acks and small game packets, some reliable
        std::string body;
        for (int n = 2 + random() % 4; n > 0; --n) {
          std::string packet;
          switch (random() % 3) {
            case 0:
              packet = core(0x04, u32(random() % 100000));
              break;
            case 1:
              packet = core(0x03, u32(reliableId[up]++) + gamePacket(30));
              break;
            default:
              packet = gamePacket(30);
              break;
          }
          body += static_cast<char>(packet.size());
          body += packet;
        }
        datagram = core(0x0E, body);
        break;
      }
      default:  // a plain game packet (position updates and the like)
        datagram = gamePacket(120);
        break;
    }
    capture.Add(up ? client : server, up ? server : client, Encrypted(cipher, datagram));
  }
  WriteWholeFile(argv[1], std::string(capture.File().begin(), capture.File().end()));
  return 0;
}
