// The relay as a black box: the real executable, real sockets on loopback,
// its console, its standard error and its exit status.
#include <gtest/gtest.h>

#include <string>

#include "testing/loopback.h"
#include "testing/relay_harness.h"

namespace tessard::testing {
namespace {

std::string ExpectedConsole(const std::string& server, int listenPort, const std::string& log) {
  return "Packet-logging Proxy Server (Build 1)\n"
         "Loading settings...  Done.\n\n"
         "Mapping route to host " +
         server +
         "\n"
         "Ready to rock on port " +
         std::to_string(listenPort) +
         "!\n\n"
         "Log file open: " +
         log + "\n";
}

std::string PatternBytes(std::size_t length, unsigned seed) {
  std::string bytes(length, '\0');
  for (std::size_t i = 0; i < length; ++i) bytes[i] = static_cast<char>((i * 131 + seed) & 0xFF);
  return bytes;
}

TEST(RelayProgram, AnnouncesItsRouteAndStopsAtAKeyPress) {
  RelayHarness relay;
  ASSERT_TRUE(relay.StartRouted());
  EXPECT_EQ(relay.StopByKey(), 0);
  EXPECT_EQ(relay.Console(), ExpectedConsole("127.0.0.1:" + std::to_string(relay.serverPort),
                                             relay.relayPort, "packets.txt"));
  EXPECT_EQ(relay.Errors(), "");
  EXPECT_TRUE(std::filesystem::exists(relay.directory / "packets.txt"));
}

// The one test on fixed ports: only the default ports can show the
// defaults. Where another program holds them, it is skipped.
TEST(RelayProgram, DefaultsWithoutASettingsFile) {
  constexpr std::uint16_t kDefaultPort = 15000;
  const char* const kTaken = "the default ports 15000 and 15001 are in use here";
  RelayHarness relay;
  {
    UdpEndpoint game;
    UdpEndpoint aux;
    game.Open(kDefaultPort);
    aux.Open(kDefaultPort + 1);
    if (!game.IsBound() || !aux.IsBound()) GTEST_SKIP() << kTaken;
  }
  ASSERT_TRUE(relay.Start(""));
  const int status = relay.StopByKey();
  if (relay.RelayPortsTaken()) GTEST_SKIP() << kTaken << " (taken after the check)";
  EXPECT_EQ(status, 0);
  EXPECT_EQ(relay.Errors(), "");
  EXPECT_EQ(relay.Console(), ExpectedConsole("127.0.0.1:382", kDefaultPort, "packets.txt"));
}

TEST(RelayProgram, CarriesBothPairsByteForByteBothWays) {
  RelayHarness relay;
  ASSERT_TRUE(relay.StartRouted());
  const std::uint16_t auxPort = static_cast<std::uint16_t>(relay.relayPort + 1);
  for (const std::size_t length :
       {std::size_t{1}, std::size_t{8}, std::size_t{519}, std::size_t{520}}) {
    const std::string up = PatternBytes(length, 7);
    const std::string down = PatternBytes(length, 200);
    EXPECT_EQ(relay.Carry(relay.clientGame, relay.relayPort, relay.serverGame, up), up);
    EXPECT_EQ(relay.Carry(relay.serverGame, relay.relayPort, relay.clientGame, down), down);
    EXPECT_EQ(relay.Carry(relay.clientAux, auxPort, relay.serverAux, up), up);
    EXPECT_EQ(relay.Carry(relay.serverAux, auxPort, relay.clientAux, down), down);
  }
  // Too long to deliver whole: refused, and never delivered later.
  relay.SendToRelay(relay.clientGame, relay.relayPort, PatternBytes(521, 1));
  relay.SendToRelay(relay.clientAux, auxPort, PatternBytes(521, 1));
  EXPECT_EQ(ReceiveWithin(relay.serverGame, kSilenceTimeoutMs), nullptr);
  EXPECT_EQ(ReceiveWithin(relay.serverAux, kSilenceTimeoutMs), nullptr);
  EXPECT_EQ(relay.Carry(relay.clientGame, relay.relayPort, relay.serverGame, "after"), "after");
  EXPECT_EQ(relay.StopByKey(), 0);
}

// Empty datagrams (a port scanner's, or among the server's own) are
// dropped unlogged, and the socket they came to is still read: every
// ordinary datagram is carried, the one queued right behind an empty one
// too.
TEST(RelayProgram, CarriesEveryDatagramAroundEmptyOnes) {
  constexpr int kEachWay = 20;
  RelayHarness relay;
  ASSERT_TRUE(relay.StartRouted());
  UdpEndpoint scanner;
  scanner.Open(0);
  ASSERT_TRUE(scanner.IsBound());
  ExpectedLog expected;
  int carried = 0;
  for (; carried < 2 * kEachWay; ++carried) {
    const bool up = carried % 2 == 0;
    UdpEndpoint& from = up ? relay.clientGame : relay.serverGame;
    UdpEndpoint& to = up ? relay.serverGame : relay.clientGame;
    relay.SendToRelay(scanner, relay.relayPort, "");
    relay.SendToRelay(from, relay.relayPort, "");
    const std::string bytes =
        GamePacket(static_cast<std::size_t>(carried % 40 + 2), static_cast<unsigned>(carried));
    if (relay.CarryGame(from, to, bytes) != bytes) break;
    expected.Dump(up ? Direction::kClientToServer : Direction::kServerToClient, bytes);
  }
  EXPECT_EQ(carried, 2 * kEachWay) << "datagrams carried before the first lost one";
  EXPECT_EQ(relay.StopByKey(), 0);
  EXPECT_EQ(relay.Log(), expected.FileText());
}

TEST(RelayProgram, ServerTrafficFollowsTheLatestClient) {
  RelayHarness relay;
  ASSERT_TRUE(relay.StartRouted());
  // Before any client has spoken on the game pair, server datagrams go
  // nowhere, and the relay keeps running.
  relay.SendToRelay(relay.serverGame, relay.relayPort, "early");
  EXPECT_EQ(ReceiveWithin(relay.clientGame, kSilenceTimeoutMs), nullptr);
  ASSERT_TRUE(relay.relay.Running());

  EXPECT_EQ(relay.Carry(relay.clientGame, relay.relayPort, relay.serverGame, "one"), "one");
  UdpEndpoint secondClient;
  secondClient.Open(0);
  EXPECT_EQ(relay.Carry(secondClient, relay.relayPort, relay.serverGame, "two"), "two");
  EXPECT_EQ(relay.Carry(relay.serverGame, relay.relayPort, secondClient, "reply"), "reply");
  EXPECT_EQ(ReceiveWithin(relay.clientGame, kSilenceTimeoutMs), nullptr);

  // The server's address from another port is a client like any other.
  UdpEndpoint serverSideStranger;
  serverSideStranger.Open(0);
  EXPECT_EQ(relay.Carry(serverSideStranger, relay.relayPort, relay.serverGame, "odd"), "odd");
  EXPECT_EQ(relay.Carry(relay.serverGame, relay.relayPort, serverSideStranger, "back"), "back");
  EXPECT_EQ(relay.StopByKey(), 0);
}

TEST(RelayProgram, StopsOnTerminationRequest) {
  RelayHarness relay;
  ASSERT_TRUE(relay.StartRouted());
  if (!relay.relay.RequestStop()) GTEST_SKIP() << kNoStopRequest;
  EXPECT_EQ(relay.WaitForExit(), 0);
}

TEST(RelayProgram, RefusesToRunWhenTheGamePortIsTaken) {
  RelayHarness relay;
  UdpEndpoint squatter;
  squatter.Open(0);
  ASSERT_TRUE(squatter.IsBound());
  relay.relayPort = squatter.LocalPort();
  ASSERT_TRUE(relay.Start(relay.RoutedSettings()));
  EXPECT_EQ(relay.WaitForExit(), 1);
  EXPECT_EQ(relay.Errors(), "tessard: cannot open game port " + std::to_string(relay.relayPort) +
                                ": WSAEADDRINUSE (10048)\n");
}

TEST(RelayProgram, CarriesTheGamePairWhenTheAuxiliaryPortIsTaken) {
  RelayHarness relay;
  UdpEndpoint squatter;
  std::string carried;
  // The squatter holds the auxiliary port; the game port may still be
  // taken by another program before the relay binds it.
  for (int start = 0; start < 5 && carried != "game"; ++start) {
    if (start > 0) relay.MoveToFreshPorts();
    squatter.Open(static_cast<std::uint16_t>(relay.relayPort + 1));
    if (!squatter.IsBound()) continue;
    ASSERT_TRUE(relay.Start(relay.RoutedSettings()));
    for (int attempt = 0; attempt < 20 && carried != "game" && relay.relay.Running(); ++attempt) {
      relay.SendToRelay(relay.clientGame, relay.relayPort, "game");
      auto received = ReceiveWithin(relay.serverGame, 100);
      if (received) carried = Bytes(*received);
    }
  }
  EXPECT_EQ(carried, "game");
  EXPECT_EQ(relay.StopByKey(), 0);
  EXPECT_EQ(relay.Errors(), "tessard: cannot open auxiliary port " +
                                std::to_string(relay.relayPort + 1) + ": WSAEADDRINUSE (10048)\n");
}

TEST(RelayProgram, RelaysWithoutALogItCannotOpen) {
  RelayHarness relay;
  ASSERT_TRUE(relay.StartRouted("Log=missing/packets.txt\r\n"));
  EXPECT_EQ(relay.Carry(relay.clientGame, relay.relayPort, relay.serverGame, "hi"), "hi");
  EXPECT_EQ(relay.StopByKey(), 1) << "the log asked for was not written";
  const std::string errors = relay.Errors();
  EXPECT_EQ(errors.rfind("tessard: cannot open log file missing/packets.txt: ", 0), 0u) << errors;
  EXPECT_NE(errors.find("; relaying without a log\n"), std::string::npos) << errors;
}

TEST(RelayProgram, WarnsOfAnUnresolvableServer) {
  RelayHarness relay;
  int status = -1;
  ASSERT_TRUE(relay.RetryOnTakenPorts([&] {
    status = -1;
    if (!relay.Start("[Server]\nIP=999.999.999.999\nPort=" + std::to_string(relay.serverPort) +
                     "\n[Proxy]\nPort=" + std::to_string(relay.relayPort) + "\n")) {
      return false;
    }
    status = relay.StopByKey();
    return true;
  }));
  EXPECT_EQ(status, 0);
  EXPECT_EQ(relay.Console(), ExpectedConsole("255.255.255.255:" + std::to_string(relay.serverPort),
                                             relay.relayPort, "packets.txt"));
  EXPECT_EQ(relay.Errors(),
            "tessard: cannot resolve server host \"999.999.999.999\"; sending to "
            "255.255.255.255\n");
}

TEST(RelayProgram, RefusesToStartInADirectoryTooLongForTheSettingsPath) {
  // 246 characters: short enough for Windows to take as a working directory
  // (below 248), too long once the separator and TESSARD.INI are added.
  constexpr std::size_t kLength = 246;
  RelayHarness relay;
  std::filesystem::path deep = relay.directory;
  ASSERT_LE(deep.string().size() + 2, kLength);
  while (deep.string().size() < kLength) {
    const std::size_t left = kLength - deep.string().size();
    deep /= std::string(left > 41 ? 30 : left - 1, 'd');
  }
  ASSERT_EQ(deep.string().size(), kLength);
  std::filesystem::create_directories(deep);
  ASSERT_TRUE(relay.Start("", deep));
  EXPECT_EQ(relay.WaitForExit(), 1);
  EXPECT_EQ(relay.Console(), "Packet-logging Proxy Server (Build 1)\nLoading settings..\n");
  EXPECT_EQ(relay.Errors(),
            "tessard: the current directory is too long: the path of TESSARD.INI in it must fit "
            "in 255 characters\n");
}

}  // namespace
}  // namespace tessard::testing
