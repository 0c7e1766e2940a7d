// The relay's per-datagram path on arbitrary traffic: each input is a run of
// datagrams with directions, taken through the working copy, the inspection
// and the packet log. The log text must read back to exactly the bytes that
// were dumped.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz/dump_text_parser.h"
#include "log/packet_log.h"
#include "net/datagram.h"
#include "net/net_startup.h"
#include "net/udp_endpoint.h"
#include "relay/game_traffic.h"
#include "testing/loopback.h"

namespace tessard::fuzzing {
namespace {

std::string logText;

void CaptureLog(const char* text) { logText += text; }

// The endpoint that forwards, and a receiver for what it sends (the
// repeated disconnects), drained after every input.
struct Sockets {
  UdpEndpoint sender;
  UdpEndpoint receiver;
  Sockets() {
    NetStartup();
    receiver.Open(0);
    sender.Open(0);
    if (!receiver.IsBound() || !sender.IsBound()) {
      std::fprintf(stderr, "cannot open loopback endpoints\n");
      std::abort();
    }
    sender.SetDestination(testing::LoopbackAddress(), receiver.LocalPort());
  }
};

Sockets& TheSockets() {
  static Sockets* sockets = new Sockets();
  return *sockets;
}

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "inspection fuzzer: %s\n", what.c_str());
  std::abort();
}

}  // namespace
}  // namespace tessard::fuzzing

// Each datagram is two header bytes and its contents: bit 0 of the first
// byte gives the direction, the rest of the header the length (1 to 520),
// cut short where the input ends.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tessard;
  using namespace tessard::fuzzing;
  Sockets& sockets = TheSockets();
  decryptionEnabled = false;
  keyRequested = false;
  sessionCipher = SessionCipher{};
  logText.clear();
  SetLogWriter(CaptureLog);

  const NetAddress client(testing::LoopbackAddress(), 4242);
  std::vector<ParsedDump> dumped;
  std::size_t at = 0;
  while (at + 2 <= size) {
    const auto direction =
        (data[at] & 1) != 0 ? Direction::kClientToServer : Direction::kServerToClient;
    std::size_t length = 1 + ((static_cast<std::size_t>(data[at] >> 1) << 8) | data[at + 1]) %
                                 static_cast<std::size_t>(kMaxDatagramSize);
    at += 2;
    if (length > size - at) length = size - at;
    if (length == 0) break;
    const Datagram datagram(client, data + at, static_cast<std::int32_t>(length));
    at += length;
    PrepareWorkCopy(datagram);
    const InspectedDatagram inspected = InspectGameDatagram(datagram, direction, sockets.sender);
    dumped.push_back(ParsedDump{
        direction,
        std::vector<std::uint8_t>(inspected.payload, inspected.payload + inspected.length)});
  }
  FlushLog();
  SetLogWriter(nullptr);
  while (sockets.receiver.Receive() != nullptr) {
  }

  std::vector<ParsedDump> parsed;
  std::string reason;
  if (!ParseDumps(logText, parsed, reason)) Fail("log text does not parse: " + reason);
  if (parsed.size() != dumped.size()) Fail("dump count differs");
  for (std::size_t i = 0; i < parsed.size(); ++i) {
    if (parsed[i].direction != dumped[i].direction) Fail("direction differs");
    if (parsed[i].bytes != dumped[i].bytes) Fail("dumped bytes differ");
  }
  return 0;
}
