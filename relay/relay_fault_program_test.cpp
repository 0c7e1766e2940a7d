// The real relay when its surroundings misbehave: a server that is not
// there, a log it cannot create, a client that moves to another port.
#include <gtest/gtest.h>

#include <string>

#include "cipher/session_cipher.h"
#include "testing/loopback.h"
#include "testing/relay_harness.h"

namespace tessard::testing {
namespace {

std::string Numbered(const std::string& text, int number) { return text + std::to_string(number); }

// The next datagram at endpoint that is not one of the "lost" ones: a slow
// relay (under wine) may still be carrying those when the server is back.
std::string NextAfterTheLost(UdpEndpoint& endpoint) {
  for (int skipped = 0; skipped <= 20; ++skipped) {
    auto received = ReceiveWithin(endpoint, kDeliveryTimeoutMs);
    if (received == nullptr) break;
    const std::string bytes = Bytes(*received);
    if (bytes.rfind("lost ", 0) != 0) return bytes;
  }
  return "<nothing>";
}

TEST(RelayFaults, KeepsRunningWhileTheServerPortsAreClosed) {
  RelayHarness relay;
  ASSERT_TRUE(relay.StartRouted());
  const auto auxPort = static_cast<std::uint16_t>(relay.relayPort + 1);
  ASSERT_EQ(relay.CarryGame(relay.clientGame, relay.serverGame, "before"), "before");

  // Datagrams sent into nothing: the host answers with port-unreachable
  // errors, which the relay's next receives may see.
  relay.serverGame.Close();
  relay.serverAux.Close();
  for (int i = 0; i < 20; ++i) {
    relay.SendToRelay(relay.clientGame, relay.relayPort, Numbered("lost game ", i));
    relay.SendToRelay(relay.clientAux, auxPort, Numbered("lost aux ", i));
  }
  EXPECT_EQ(ReceiveWithin(relay.clientGame, kSilenceTimeoutMs), nullptr);
  ASSERT_TRUE(relay.relay.Running());

  // The server comes back on the same ports: both pairs carry again, both ways.
  relay.serverGame.Open(relay.serverPort);
  ASSERT_TRUE(relay.serverGame.IsBound());
  relay.serverAux.Open(static_cast<std::uint16_t>(relay.serverPort + 1));
  ASSERT_TRUE(relay.serverAux.IsBound());
  ASSERT_TRUE(relay.WaitUntilRelaying());
  relay.SendToRelay(relay.clientGame, relay.relayPort, "after");
  EXPECT_EQ(NextAfterTheLost(relay.serverGame), "after");
  EXPECT_EQ(relay.CarryGame(relay.serverGame, relay.clientGame, "reply"), "reply");
  relay.SendToRelay(relay.serverAux, auxPort, "aux reply");
  auto auxReply = ReceiveWithin(relay.clientAux, kDeliveryTimeoutMs);
  ASSERT_NE(auxReply, nullptr);
  EXPECT_EQ(Bytes(*auxReply), "aux reply");
  EXPECT_EQ(relay.StopByKey(), 0);
  EXPECT_EQ(relay.Errors(), "");
}

// A log path whose parent is a regular file cannot be created even by root.
TEST(RelayFaults, RelaysOnWhenTheLogCannotBeCreatedUnderAFile) {
  RelayHarness relay;
  WriteWholeFile(relay.directory / "blocker", "a file, not a directory");
  ASSERT_TRUE(relay.StartRouted("Log=blocker/packets.txt\r\n"));
  for (int i = 0; i < 5; ++i) {
    const std::string up = Numbered("up ", i);
    const std::string down = Numbered("down ", i);
    EXPECT_EQ(relay.CarryGame(relay.clientGame, relay.serverGame, up), up);
    EXPECT_EQ(relay.CarryGame(relay.serverGame, relay.clientGame, down), down);
  }
  EXPECT_EQ(relay.StopByKey(), 1) << "the log asked for was not written";
  const std::string errors = relay.Errors();
  EXPECT_EQ(errors.rfind("tessard: cannot open log file blocker/packets.txt: ", 0), 0u) << errors;
  EXPECT_NE(errors.find("; relaying without a log\n"), std::string::npos) << errors;
  EXPECT_EQ(errors.find('\n'), errors.size() - 1) << "one line only: " << errors;
  EXPECT_EQ(ReadWholeFile(relay.directory / "blocker"), "a file, not a directory");
}

// A client behind a NAT may reappear on another port mid-session: traffic
// follows it, and the session's decryption carries on.
TEST(RelayFaults, FollowsAClientThatChangesItsPortMidSession) {
  EncryptedSession session;
  ASSERT_TRUE(session.Start(0x600DCAFE, 5, 3));
  auto& [relay, client, server, expected] = session;

  UdpEndpoint moved;
  moved.Open(0);
  ASSERT_TRUE(moved.IsBound());
  for (int i = 0; i < 6; ++i) {
    UdpEndpoint& from = i < 3 ? relay.clientGame : moved;
    const std::string up = std::string("\x00\x03", 2) + Numbered("from the client, round ", i);
    const std::string upWire = Encrypted(client, up);
    ASSERT_EQ(relay.CarryGame(from, relay.serverGame, upWire), upWire);
    expected.Dump(Direction::kClientToServer, up);

    const std::string down = Numbered(std::string(1, '\x0E') + "from the server, round ", i);
    const std::string downWire = Encrypted(server, down);
    ASSERT_EQ(relay.CarryGame(relay.serverGame, from, downWire), downWire);
    expected.Dump(Direction::kServerToClient, down);
  }
  // Nothing more reaches the old port once the client has moved.
  EXPECT_EQ(ReceiveWithin(relay.clientGame, kSilenceTimeoutMs), nullptr);
  ASSERT_EQ(relay.StopByKey(), 0);
  EXPECT_EQ(relay.Log(), expected.FileText());
}

}  // namespace
}  // namespace tessard::testing
