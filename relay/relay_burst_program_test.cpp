// Bursts of encrypted game traffic at thousands of datagrams a second, one
// direction after the other, with auxiliary traffic beside them: the relay
// must keep up with the wire, losing, reordering and changing nothing, and
// log every game datagram exactly.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "testing/loopback.h"
#include "testing/relay_harness.h"

namespace tessard::testing {
namespace {

// Datagrams a second: wine's sockets carry fewer than Linux's.
constexpr int kBurstRate = TESSARD_BURST_RATE;
constexpr int kGameDatagrams = 3000;
constexpr int kAuxEvery = 10;  // one auxiliary datagram beside every tenth game one

using Clock = std::chrono::steady_clock;

void DrainInto(UdpEndpoint& endpoint, std::vector<std::string>& received) {
  while (auto datagram = endpoint.Receive()) {
    std::string bytes = Bytes(*datagram);
    if (bytes != "probe") received.push_back(std::move(bytes));  // the harness's start-up probes
  }
}

// The first place where received departs from sent, for a short failure
// message instead of thousands of payloads.
std::string Departure(const std::vector<std::string>& sent,
                      const std::vector<std::string>& received) {
  for (std::size_t i = 0; i < sent.size(); ++i) {
    if (i >= received.size()) {
      return std::to_string(sent.size() - received.size()) + " of " + std::to_string(sent.size()) +
             " lost; the first missing is number " + std::to_string(i);
    }
    if (received[i] != sent[i]) {
      return "number " + std::to_string(i) + " is lost, changed or out of order; " +
             std::to_string(received.size()) + " of " + std::to_string(sent.size()) + " arrived";
    }
  }
  if (received.size() > sent.size()) return "more received than sent";
  return "";
}

// Stopped by a key, the relay writes out a log that must be exactly the
// expected one; thousands of dumps are not printed when it is not.
void StopAndCompareLog(RelayHarness& relay, const ExpectedLog& expected) {
  EXPECT_EQ(relay.StopByKey(), 0);
  EXPECT_TRUE(relay.Log() == expected.FileText())
      << "the log differs: " << relay.Log().size() << " bytes, expected "
      << expected.FileText().size();
}

struct Way {
  Direction direction;
  UdpEndpoint& gameFrom;
  UdpEndpoint& gameTo;
  UdpEndpoint& auxFrom;
  UdpEndpoint& auxTo;
  SessionCipher& sender;
};

TEST(RelayBurst, CarriesThousandsOfDatagramsASecondEachWayAndLogsEveryOne) {
  EncryptedSession session;
  ASSERT_TRUE(session.Start(0x1CEB00DA, 3, 4242));
  auto& [relay, client, server, expected] = session;
  const auto auxPort = static_cast<std::uint16_t>(relay.relayPort + 1);

  const Way ways[] = {
      {Direction::kClientToServer, relay.clientGame, relay.serverGame, relay.clientAux,
       relay.serverAux, client},
      {Direction::kServerToClient, relay.serverGame, relay.clientGame, relay.serverAux,
       relay.clientAux, server},
  };
  unsigned seed = 0;
  for (const Way& way : ways) {
    SCOPED_TRACE(way.direction == Direction::kClientToServer ? "client to server"
                                                             : "server to client");
    std::vector<std::string> gameSent, gameReceived, auxSent, auxReceived;
    const auto period = std::chrono::nanoseconds(1000000000 / kBurstRate);
    const auto start = Clock::now();
    for (int i = 0; i < kGameDatagrams; ++i) {
      // Paced against the clock, with the receivers drained before each
      // pause so that the fake peers' own queues never overflow. Sleeping,
      // not spinning: under wine every socket call of the test is work for
      // the wine server that the relay shares.
      if (Clock::now() < start + period * i) {
        DrainInto(way.gameTo, gameReceived);
        DrainInto(way.auxTo, auxReceived);
        std::this_thread::sleep_until(start + period * i);
      }
      const std::string plain = GamePacket(static_cast<std::size_t>(i * 37 % 520 + 1), ++seed);
      gameSent.push_back(Encrypted(way.sender, plain));
      expected.Dump(way.direction, plain);
      relay.SendToRelay(way.gameFrom, relay.relayPort, gameSent.back());
      if (i % kAuxEvery == 0) {
        auxSent.push_back(std::string("aux ") + std::to_string(i));
        relay.SendToRelay(way.auxFrom, auxPort, auxSent.back());
      }
    }
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    while ((gameReceived.size() < gameSent.size() || auxReceived.size() < auxSent.size()) &&
           Clock::now() < deadline) {
      DrainInto(way.gameTo, gameReceived);
      DrainInto(way.auxTo, auxReceived);
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_EQ(Departure(gameSent, gameReceived), "") << "game pair";
    EXPECT_EQ(Departure(auxSent, auxReceived), "") << "auxiliary pair";
  }
  StopAndCompareLog(relay, expected);
}

// Both of the relay's sockets full at once, each with datagrams from both
// sides: a wake-up takes batches from both, and still each direction
// arrives in the order sent, and the log holds the game datagrams in the
// order they reached the game port. Held off the processor meanwhile where
// the platform allows, so that nothing is taken before all is queued.
TEST(RelayBurst, BothSocketsFullAtOnceKeepTheOrderOfEachWayAndOfTheLog) {
  EncryptedSession session;
  ASSERT_TRUE(session.Start(0x0BADCAFE, 3, 777));
  auto& [relay, client, server, expected] = session;
  const auto auxPort = static_cast<std::uint16_t>(relay.relayPort + 1);
  // The server's auxiliary datagrams need a client to go to.
  ASSERT_EQ(relay.Carry(relay.clientAux, auxPort, relay.serverAux, "hello"), "hello");
  // Each socket, the relay's and the peers', must hold all that is sent.
  const int eachWay = std::min(300, DatagramsASocketHolds() / 2);
  const bool held = relay.relay.Hold(true);

  std::vector<std::string> toServer, toClient, auxToServer, auxToClient;
  unsigned seed = 100;
  for (int i = 0; i < eachWay; ++i) {
    const std::string up = GamePacket(static_cast<std::size_t>(i * 53 % 520 + 1), ++seed);
    const std::string down = GamePacket(static_cast<std::size_t>(i * 29 % 520 + 1), ++seed);
    toServer.push_back(Encrypted(client, up));
    expected.Dump(Direction::kClientToServer, up);
    relay.SendToRelay(relay.clientGame, relay.relayPort, toServer.back());
    toClient.push_back(Encrypted(server, down));
    expected.Dump(Direction::kServerToClient, down);
    relay.SendToRelay(relay.serverGame, relay.relayPort, toClient.back());
    auxToServer.push_back("up " + std::to_string(i));
    relay.SendToRelay(relay.clientAux, auxPort, auxToServer.back());
    auxToClient.push_back("down " + std::to_string(i));
    relay.SendToRelay(relay.serverAux, auxPort, auxToClient.back());
  }
  if (held) relay.relay.Hold(false);

  std::vector<std::string> gotServer, gotClient, gotAuxServer, gotAuxClient;
  const auto deadline = Clock::now() + std::chrono::seconds(10);
  while ((gotServer.size() < toServer.size() || gotClient.size() < toClient.size() ||
          gotAuxServer.size() < auxToServer.size() || gotAuxClient.size() < auxToClient.size()) &&
         Clock::now() < deadline) {
    DrainInto(relay.serverGame, gotServer);
    DrainInto(relay.clientGame, gotClient);
    DrainInto(relay.serverAux, gotAuxServer);
    DrainInto(relay.clientAux, gotAuxClient);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  EXPECT_EQ(Departure(toServer, gotServer), "") << "game, client to server";
  EXPECT_EQ(Departure(toClient, gotClient), "") << "game, server to client";
  EXPECT_EQ(Departure(auxToServer, gotAuxServer), "") << "auxiliary, client to server";
  EXPECT_EQ(Departure(auxToClient, gotAuxClient), "") << "auxiliary, server to client";
  StopAndCompareLog(relay, expected);
}

}  // namespace
}  // namespace tessard::testing
