#include "testing/capture_program_fixture.h"

#include <chrono>

namespace tessard::testing {

std::uint64_t CaptureProgramTest::NowMicroseconds() {
  return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                        std::chrono::system_clock::now().time_since_epoch())
                                        .count());
}

std::string CaptureProgramTest::At(const UdpEndpoint& endpoint) {
  return EndpointText(0x7F000001, endpoint.LocalPort());
}

std::string CaptureProgramTest::ExpectedConsole() const {
  return "Packet-logging Proxy Server (Build 1)\n"
         "Loading settings...  Done.\n\n"
         "Mapping route to host 127.0.0.1:" +
         std::to_string(relay.serverPort) + "\nReady to rock on port " +
         std::to_string(relay.relayPort) +
         "!\n\n"
         "Log file open: packets.txt\n"
         "Capture file open: game.pcapng\n";
}

void CaptureProgramTest::StartWithCapture() {
  ASSERT_TRUE(relay.StartRouted("Capture=game.pcapng\r\n"));
  int probes = 1;
  while (ReceiveWithin(relay.serverAux, kSilenceTimeoutMs)) ++probes;
  for (int i = 0; i < probes; ++i) {
    Expect(1, kOutbound, At(relay.clientAux), At(relay.serverAux), "probe", "", started);
  }
}

void CaptureProgramTest::Expect(std::uint32_t interface, std::uint32_t flags,
                                const std::string& source, const std::string& destination,
                                const std::string& payload, const std::string& comment,
                                std::uint64_t sentAt) {
  CaptureRecord record;
  record.interface = interface;
  record.flags = flags;
  record.source = source;
  record.destination = destination;
  record.payload = payload;
  record.comment = comment;
  expected.push_back(record);
  sentTimes.push_back(sentAt);
  takenBy.push_back(NowMicroseconds());
}

void CaptureProgramTest::Carry(UdpEndpoint& from, std::uint16_t port, UdpEndpoint& to,
                               const std::string& wire, std::uint32_t interface,
                               const std::string& shown) {
  const std::uint64_t sentAt = NowMicroseconds();
  relay.SendToRelay(from, port, wire);
  auto received = ReceiveWithin(to, kDeliveryTimeoutMs);
  ASSERT_NE(received, nullptr);
  ASSERT_EQ(Bytes(*received), wire);
  const bool up = &from == &relay.clientGame || &from == &relay.clientAux;
  Expect(interface, up ? kOutbound : kInbound, At(from), At(to), shown, "", sentAt);
}

void CaptureProgramTest::CarryGame(UdpEndpoint& from, UdpEndpoint& to, const std::string& wire,
                                   const std::string& plain) {
  ASSERT_NO_FATAL_FAILURE(Carry(from, relay.relayPort, to, wire, 0, plain));
  log.Dump(&from == &relay.clientGame ? Direction::kClientToServer : Direction::kServerToClient,
           plain);
}

void CaptureProgramTest::CarryAux(UdpEndpoint& from, UdpEndpoint& to, const std::string& bytes) {
  ASSERT_NO_FATAL_FAILURE(
      Carry(from, static_cast<std::uint16_t>(relay.relayPort + 1), to, bytes, 1, bytes));
}

void CaptureProgramTest::CarrySession() {
  // No client has spoken: the relay sends this to 0.0.0.0 port 0.
  const std::string early = std::string("\x0E") + "early bird";
  const std::uint64_t earlyAt = NowMicroseconds();
  relay.SendToRelay(relay.serverGame, relay.relayPort, early);
  Expect(0, kInbound, At(relay.serverGame), "0.0.0.0:0", early, "", earlyAt);
  log.Dump(Direction::kServerToClient, early);

  const std::uint64_t exchangeAt = NowMicroseconds();
  ASSERT_TRUE(ExchangeKeys(relay, relay.clientGame, client, server, 0x5EED1234, 1, 4242, log));
  Expect(0, kOutbound, At(relay.clientGame), At(relay.serverGame), KeyRequest(client.clientKey, 1),
         "Connection from " + At(relay.clientGame) + " (proto 1)", exchangeAt);
  Expect(0, kInbound, At(relay.serverGame), At(relay.clientGame), KeyResponse(0x5EED1234),
         "SubSpace decryption enabled.", exchangeAt);
  takenBy[takenBy.size() - 3] = takenBy.back();  // the early one was taken before the request

  const std::size_t sizes[] = {1, 520, 2, 17, 300, 519};
  for (std::size_t round = 0; round < std::size(sizes); ++round) {
    const std::string up = GamePacket(sizes[round], static_cast<unsigned>(round));
    ASSERT_NO_FATAL_FAILURE(
        CarryGame(relay.clientGame, relay.serverGame, Encrypted(client, up), up));
    const std::string down = GamePacket(521 - sizes[round], static_cast<unsigned>(round) + 50);
    ASSERT_NO_FATAL_FAILURE(
        CarryGame(relay.serverGame, relay.clientGame, Encrypted(server, down), down));
    const std::string aux = GamePacket(1 + round * 40, static_cast<unsigned>(round) + 90);
    if (round % 2 == 0) {
      ASSERT_NO_FATAL_FAILURE(CarryAux(relay.clientAux, relay.serverAux, aux));
    } else {
      ASSERT_NO_FATAL_FAILURE(CarryAux(relay.serverAux, relay.clientAux, aux));
    }
  }

  // Too long to be taken: neither carried nor recorded nor logged.
  relay.SendToRelay(relay.clientGame, relay.relayPort, std::string(521, '\x42'));
  ASSERT_EQ(ReceiveWithin(relay.serverGame, kSilenceTimeoutMs), nullptr);

  // A disconnect reaches the server twice and is recorded once, as the
  // log shows it: decrypted while decryption was still on.
  const std::string bye = std::string("\x00\x07", 2) + "bye";
  ASSERT_NO_FATAL_FAILURE(
      CarryGame(relay.clientGame, relay.serverGame, Encrypted(client, bye), bye));
  auto again = ReceiveWithin(relay.serverGame, kDeliveryTimeoutMs);
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(Bytes(*again), Encrypted(client, bye));

  // Decryption is off again: recorded as it travels.
  const std::string clear = GamePacket(40, 7);
  ASSERT_NO_FATAL_FAILURE(CarryGame(relay.serverGame, relay.clientGame, clear, clear));
}

std::vector<CaptureRecord> CaptureProgramTest::Recorded() {
  const CaptureContents contents = ReadCapture(relay.Log("game.pcapng"));
  EXPECT_EQ(contents.error, "");
  EXPECT_EQ(contents.interfaceNames, (std::vector<std::string>{"game", "auxiliary"}));
  return contents.records;
}

}  // namespace tessard::testing
