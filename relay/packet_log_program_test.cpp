// The decrypting packet log as a user sees it: a fake client and a fake
// server that really encrypt, the real relay between them, and its log
// file compared byte for byte with the text it must hold.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cipher/session_cipher.h"
#include "testing/loopback.h"
#include "testing/relay_harness.h"

namespace tessard::testing {
namespace {

const std::string kDisconnect("\x00\x07", 2);

void ExpectArrivesAgain(UdpEndpoint& endpoint, const std::string& bytes) {
  auto again = ReceiveWithin(endpoint, kDeliveryTimeoutMs);
  ASSERT_NE(again, nullptr) << "a disconnect must arrive twice";
  EXPECT_EQ(Bytes(*again), bytes);
}

// The fake peers and the relay, with the bookkeeping of what the log must
// show.
class KeyExchangeTest : public ::testing::Test, protected EncryptedSession {
 protected:
  void SetUp() override { ASSERT_TRUE(relay.StartRouted()); }

  std::string ClientSends(const std::string& bytes) {
    return relay.CarryGame(relay.clientGame, relay.serverGame, bytes);
  }

  std::string ServerSends(const std::string& bytes) {
    return relay.CarryGame(relay.serverGame, relay.clientGame, bytes);
  }

  // A key request from the client and the server's answer, both carried
  // unchanged; both fake peers then encrypt with the agreed key.
  void Connect(std::int32_t serverKey, std::int8_t protocol, std::uint32_t tickCount) {
    ASSERT_TRUE(ExchangeKeys(relay, relay.clientGame, client, server, serverKey, protocol,
                             tickCount, expected));
  }

  // Encrypted traffic both ways: the wire carries the ciphertext
  // unchanged, the log shows the plain text.
  void Converse(int rounds, std::size_t maxSize) {
    for (int round = 0; round < rounds; ++round) {
      const std::size_t size = 1 + (static_cast<std::size_t>(round) * 97) % maxSize;
      const std::string up = GamePacket(size, static_cast<unsigned>(round));
      const std::string upWire = Encrypted(client, up);
      ASSERT_EQ(ClientSends(upWire), upWire);
      EXPECT_EQ(Decrypted(server, upWire), up);
      expected.Dump(Direction::kClientToServer, up);

      const std::string down = GamePacket(maxSize + 1 - size, static_cast<unsigned>(round) + 500);
      const std::string downWire = Encrypted(server, down);
      ASSERT_EQ(ServerSends(downWire), downWire);
      expected.Dump(Direction::kServerToClient, down);
    }
  }

  void ExpectLogAfterStop() {
    ASSERT_EQ(relay.StopByKey(), 0);
    EXPECT_EQ(relay.Log(), expected.FileText());
  }
};

TEST_F(KeyExchangeTest, LogsTheConnectionAndDecryptsEverythingAfterTheKeyResponse) {
  Connect(0x1234ABCD, 17, 0);
  Converse(6, 520);
  ExpectLogAfterStop();
}

TEST_F(KeyExchangeTest, DisconnectsArriveTwiceAndASecondExchangeStartsAfresh) {
  Connect(0x0BADF00D, 1, 100);
  Converse(2, 64);

  // A disconnect from the client reaches the server twice; it is dumped
  // from the copy decrypted while decryption was still on.
  const std::string disconnect = Encrypted(client, kDisconnect + "bye");
  ASSERT_EQ(ClientSends(disconnect), disconnect);
  ExpectArrivesAgain(relay.serverGame, disconnect);
  expected.Dump(Direction::kClientToServer, kDisconnect + "bye");

  // Decryption is off now: a datagram is dumped as it travels.
  const std::string clear = GamePacket(30, 9);
  ASSERT_EQ(ClientSends(clear), clear);
  expected.Dump(Direction::kClientToServer, clear);

  Connect(-77, -3, 5000);
  Converse(2, 100);

  ASSERT_EQ(ServerSends(kDisconnect), kDisconnect);
  ExpectArrivesAgain(relay.clientGame, kDisconnect);
  expected.Dump(Direction::kServerToClient, kDisconnect);
  ASSERT_EQ(ServerSends(clear), clear);
  expected.Dump(Direction::kServerToClient, clear);
  ExpectLogAfterStop();
}

TEST_F(KeyExchangeTest, IgnoresMisshapenKeyRequestsAndASecondKeyResponse) {
  // Not eight bytes long: no connection line, only the dump.
  const std::string request = KeyRequest(-5, 2);
  for (const std::string& misshapen : {request.substr(0, 7), request + "x"}) {
    ASSERT_EQ(ClientSends(misshapen), misshapen);
    expected.Dump(Direction::kClientToServer, misshapen);
  }
  // Too short to hold a key: forwarded and dumped, nothing else.
  const std::string shortResponse("\x00\x02\x01", 3);
  ASSERT_EQ(ServerSends(shortResponse), shortResponse);
  expected.Dump(Direction::kServerToClient, shortResponse);
  ASSERT_EQ(ServerSends(std::string(1, '\x00')), std::string(1, '\x00'));
  expected.Dump(Direction::kServerToClient, std::string(1, '\x00'));

  Connect(424242, 9, 7);
  // While decryption is on, another key response changes nothing; it is
  // itself dumped through the current key.
  const std::string another = KeyResponse(999);
  ASSERT_EQ(ServerSends(another), another);
  expected.Dump(Direction::kServerToClient, Decrypted(server, another));
  Converse(2, 40);
  ExpectLogAfterStop();
}

// A client that asks for keys again while decryption is on: it repeats
// its request, or it connects again without a disconnect (it crashed, its
// network dropped). Key requests and their answers are read as sent;
// everything else through the keys in force when it arrives.
TEST_F(KeyExchangeTest, AKeyRequestIsReadAsSentAndItsAnswerSetsUpNewKeys) {
  constexpr std::int32_t kServerKey = 0x1234ABCD;
  constexpr std::int32_t kNewServerKey = -0x5EED;
  Connect(kServerKey, 5, 10);
  const SessionCipher& old = client;
  SessionCipher renewed;
  const std::int32_t newClientKey = renewed.GenerateKey(4000);
  renewed.SetServerKey(kNewServerKey);

  const std::string connection =
      "c2s       Connection from 127.0.0.1:" + std::to_string(relay.clientGame.LocalPort()) +
      " (proto ";
  const std::string enabled = "s2c       SubSpace decryption enabled.\n";
  const std::string repeated = KeyRequest(old.clientKey, 5);
  const std::string request = KeyRequest(newClientKey, 7);
  const std::string stray = KeyResponse(31337);
  std::string p[6];
  for (unsigned i = 0; i < 6; ++i) p[i] = GamePacket(30 + i, i);
  const struct {
    const char* what;
    bool fromClient;
    std::string wire, shown, event;
  } steps[] = {
      {"a repeated key request", true, repeated, repeated, connection + "5)\n"},
      {"its answer, the same keys", false, KeyResponse(kServerKey), KeyResponse(kServerKey),
       enabled},
      {"traffic under those keys", true, Encrypted(old, p[0]), p[0], ""},
      {"a reconnect's key request", true, request, request, connection + "7)\n"},
      {"in flight under the old keys, down", false, Encrypted(old, p[1]), p[1], ""},
      {"in flight under the old keys, up", true, Encrypted(old, p[2]), p[2], ""},
      {"the answer", false, KeyResponse(kNewServerKey), KeyResponse(kNewServerKey), enabled},
      {"under the new keys, up", true, Encrypted(renewed, p[3]), p[3], ""},
      {"under the new keys, down", false, Encrypted(renewed, p[4]), p[4], ""},
      {"a key response that no request came before", false, stray, Decrypted(renewed, stray), ""},
      {"still under the new keys", true, Encrypted(renewed, p[5]), p[5], ""},
  };
  for (const auto& step : steps) {
    SCOPED_TRACE(step.what);
    ASSERT_EQ(step.fromClient ? ClientSends(step.wire) : ServerSends(step.wire), step.wire);
    expected.Line(step.event);
    expected.Dump(step.fromClient ? Direction::kClientToServer : Direction::kServerToClient,
                  step.shown);
  }
  ExpectLogAfterStop();
}

TEST_F(KeyExchangeTest, LongTrafficCrossesManyWriteOutsIntact) {
  Connect(31337, 4, 1);
  // Tens of thousands of pieces: the store of 1000 is written out dozens of times.
  Converse(55, 520);
  ExpectLogAfterStop();
}

TEST_F(KeyExchangeTest, ATerminationRequestLosesNothingLogged) {
  Connect(0x55AA55AA, 3, 2);
  std::vector<std::string> plain;
  for (int i = 0; i < 40; ++i) {
    plain.push_back(GamePacket(1 + static_cast<std::size_t>(i) * 13, static_cast<unsigned>(i)));
    const std::string wire = Encrypted(client, plain.back());
    relay.SendToRelay(relay.clientGame, relay.relayPort, wire);
  }
  // Stop once part of the burst has gone through.
  std::size_t carried = 0;
  while (carried < 10 && ReceiveWithin(relay.serverGame, kDeliveryTimeoutMs)) ++carried;
  if (!relay.relay.RequestStop()) GTEST_SKIP() << kNoStopRequest;
  ASSERT_EQ(relay.WaitForExit(), 0);
  while (ReceiveWithin(relay.serverGame, kSilenceTimeoutMs)) ++carried;
  ASSERT_GE(carried, 10u);
  for (std::size_t i = 0; i < carried; ++i) expected.Dump(Direction::kClientToServer, plain[i]);
  EXPECT_EQ(relay.Log(), expected.FileText());
}

// Spelled out in full, so that every build must write exactly these bytes:
// line ends, control bytes and the end-of-file mark ^Z go through the
// text-mode log untouched, whatever the platform.
TEST(PacketLogFile, HoldsTheSameBytesOnEveryPlatform) {
  RelayHarness relay;
  ASSERT_TRUE(relay.StartRouted());
  const std::string up("\r\n\x1A\0A", 5);
  relay.SendToRelay(relay.clientGame, relay.relayPort, up);
  ASSERT_NE(ReceiveWithin(relay.serverGame, kDeliveryTimeoutMs), nullptr);
  relay.SendToRelay(relay.serverGame, relay.relayPort, "\n");
  ASSERT_NE(ReceiveWithin(relay.clientGame, kDeliveryTimeoutMs), nullptr);
  ASSERT_EQ(relay.StopByKey(), 0);
  EXPECT_EQ(relay.Log(), "c2s 0000  0D 0A 1A 00 41" + std::string(36, ' ') + "....A\r\n\r\n" +
                             "s2c 0000  0A" + std::string(48, ' ') + ".\r\n\r\n");
}

}  // namespace
}  // namespace tessard::testing
