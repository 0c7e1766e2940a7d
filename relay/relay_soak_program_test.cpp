// Minutes of steady encrypted game traffic through the real relay, both
// ways at 40 datagrams a second, a game client's ordinary pace: nothing
// lost, nothing changed, and the log exact to the byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <random>
#include <string>
#include <thread>

#include "cipher/session_cipher.h"
#include "testing/loopback.h"
#include "testing/relay_harness.h"

namespace tessard::testing {
namespace {

constexpr int kDatagramsEachWay = 4800;
constexpr auto kPeriod = std::chrono::microseconds(25000);  // 40 a second

// Random size 1 to 520 and random bytes, except that a packet never reads
// as a disconnect or a key request: those would end or restart the session.
std::string RandomGamePacket(std::mt19937& random) {
  std::uniform_int_distribution<int> size(1, 520);
  std::uniform_int_distribution<int> byte(0, 255);
  std::string bytes(static_cast<std::size_t>(size(random)), '\0');
  for (char& b : bytes) b = static_cast<char>(byte(random));
  if (bytes.size() >= 2 && bytes[0] == '\0' && (bytes[1] == '\x07' || bytes[1] == '\x01')) {
    bytes[1] = '\x03';
  }
  return bytes;
}

// Where two long texts first differ, for a readable failure.
std::string FirstDifference(const std::string& actual, const std::string& expected) {
  const auto mismatch =
      std::mismatch(actual.begin(), actual.end(), expected.begin(), expected.end());
  const auto at = static_cast<std::size_t>(mismatch.first - actual.begin());
  const std::size_t from = at < 80 ? 0 : at - 80;
  return "sizes " + std::to_string(actual.size()) + " and " + std::to_string(expected.size()) +
         ", first difference at byte " + std::to_string(at) + "; actual: \"" +
         actual.substr(from, 160) + "\" expected: \"" + expected.substr(from, 160) + "\"";
}

// The direction of one datagram, counting what went wrong with it.
struct Tally {
  int lost = 0;
  int changed = 0;
};

void Carry(RelayHarness& relay, UdpEndpoint& from, UdpEndpoint& to, const std::string& wire,
           Tally& tally) {
  relay.SendToRelay(from, relay.relayPort, wire);
  auto received = ReceiveWithin(to, kDeliveryTimeoutMs);
  if (received == nullptr) {
    ++tally.lost;
  } else if (Bytes(*received) != wire) {
    ++tally.changed;
  }
}

TEST(RelaySoak, CarriesSteadyEncryptedTrafficBothWaysWithoutLossAndLogsItExactly) {
  EncryptedSession session;
  ASSERT_TRUE(session.Start(0x5EEDF00D, 12, 77));
  auto& [relay, client, server, expected] = session;

  std::mt19937 random(20261208);
  Tally up;
  Tally down;
  // Each period the client speaks, and half a period later, once its
  // datagram has passed, the server: the log's order is then known.
  auto next = std::chrono::steady_clock::now();
  for (int i = 0; i < kDatagramsEachWay; ++i) {
    std::this_thread::sleep_until(next);
    const std::string upPlain = RandomGamePacket(random);
    Carry(relay, relay.clientGame, relay.serverGame, Encrypted(client, upPlain), up);
    expected.Dump(Direction::kClientToServer, upPlain);

    std::this_thread::sleep_until(next + kPeriod / 2);
    const std::string downPlain = RandomGamePacket(random);
    Carry(relay, relay.serverGame, relay.clientGame, Encrypted(server, downPlain), down);
    expected.Dump(Direction::kServerToClient, downPlain);
    next += kPeriod;
  }
  EXPECT_EQ(up.lost, 0);
  EXPECT_EQ(up.changed, 0);
  EXPECT_EQ(down.lost, 0);
  EXPECT_EQ(down.changed, 0);
  ASSERT_EQ(relay.StopByKey(), 0);
  const std::string log = relay.Log();
  const std::string expectedText = expected.FileText();
  EXPECT_TRUE(log == expectedText) << FirstDifference(log, expectedText);
  EXPECT_EQ(relay.Errors(), "");
}

}  // namespace
}  // namespace tessard::testing
