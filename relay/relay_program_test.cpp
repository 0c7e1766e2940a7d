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

// Carries bytes from one fake peer through the relay and returns what the
// other peer received, or "<nothing>".
std::string Carry(RelayHarness& relay, UdpEndpoint& from, std::uint16_t port, UdpEndpoint& to,
                  const std::string& bytes) {
  relay.SendToRelay(from, port, bytes);
  auto received = ReceiveWithin(to, kDeliveryTimeoutMs);
  return received ? Bytes(*received) : "<nothing>";
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

TEST(RelayProgram, DefaultsWithoutASettingsFile) {
  RelayHarness relay;
  ASSERT_TRUE(relay.Start(""));
  // Port 15000 may be taken on this machine; the console is written before
  // the relay binds, so it reads the same either way.
  relay.relay.WriteToStandardInput("q");
  relay.WaitForExit();
  EXPECT_EQ(relay.Console(), ExpectedConsole("127.0.0.1:382", 15000, "packets.txt"));
}

TEST(RelayProgram, CarriesBothPairsByteForByteBothWays) {
  RelayHarness relay;
  ASSERT_TRUE(relay.StartRouted());
  const std::uint16_t auxPort = static_cast<std::uint16_t>(relay.relayPort + 1);
  for (const std::size_t length :
       {std::size_t{1}, std::size_t{8}, std::size_t{519}, std::size_t{520}}) {
    const std::string up = PatternBytes(length, 7);
    const std::string down = PatternBytes(length, 200);
    EXPECT_EQ(Carry(relay, relay.clientGame, relay.relayPort, relay.serverGame, up), up);
    EXPECT_EQ(Carry(relay, relay.serverGame, relay.relayPort, relay.clientGame, down), down);
    EXPECT_EQ(Carry(relay, relay.clientAux, auxPort, relay.serverAux, up), up);
    EXPECT_EQ(Carry(relay, relay.serverAux, auxPort, relay.clientAux, down), down);
  }
  // Too long to deliver whole: refused, and never delivered later.
  relay.SendToRelay(relay.clientGame, relay.relayPort, PatternBytes(521, 1));
  relay.SendToRelay(relay.clientAux, auxPort, PatternBytes(521, 1));
  EXPECT_EQ(ReceiveWithin(relay.serverGame, kSilenceTimeoutMs), nullptr);
  EXPECT_EQ(ReceiveWithin(relay.serverAux, kSilenceTimeoutMs), nullptr);
  EXPECT_EQ(Carry(relay, relay.clientGame, relay.relayPort, relay.serverGame, "after"), "after");
  EXPECT_EQ(relay.StopByKey(), 0);
}

TEST(RelayProgram, ServerTrafficFollowsTheLatestClient) {
  RelayHarness relay;
  ASSERT_TRUE(relay.Start(relay.RoutedSettings()));
  // Before any client has spoken, server datagrams go nowhere, and the
  // relay keeps running.
  relay.SendToRelay(relay.serverGame, relay.relayPort, "early");
  EXPECT_EQ(ReceiveWithin(relay.clientGame, kSilenceTimeoutMs), nullptr);
  ASSERT_TRUE(relay.WaitUntilRelaying());

  EXPECT_EQ(Carry(relay, relay.clientGame, relay.relayPort, relay.serverGame, "one"), "one");
  UdpEndpoint secondClient;
  secondClient.Open(0);
  EXPECT_EQ(Carry(relay, secondClient, relay.relayPort, relay.serverGame, "two"), "two");
  EXPECT_EQ(Carry(relay, relay.serverGame, relay.relayPort, secondClient, "reply"), "reply");
  EXPECT_EQ(ReceiveWithin(relay.clientGame, kSilenceTimeoutMs), nullptr);

  // The server's address from another port is a client like any other.
  UdpEndpoint serverSideStranger;
  serverSideStranger.Open(0);
  EXPECT_EQ(Carry(relay, serverSideStranger, relay.relayPort, relay.serverGame, "odd"), "odd");
  EXPECT_EQ(Carry(relay, relay.serverGame, relay.relayPort, serverSideStranger, "back"), "back");
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
  squatter.Open(relay.relayPort);
  ASSERT_TRUE(squatter.IsBound());
  ASSERT_TRUE(relay.Start(relay.RoutedSettings()));
  EXPECT_EQ(relay.WaitForExit(), 1);
  EXPECT_EQ(relay.Errors(), "tessard: cannot open game port " + std::to_string(relay.relayPort) +
                                ": WSAEADDRINUSE (10048)\n");
}

TEST(RelayProgram, CarriesTheGamePairWhenTheAuxiliaryPortIsTaken) {
  RelayHarness relay;
  const std::uint16_t auxPort = static_cast<std::uint16_t>(relay.relayPort + 1);
  UdpEndpoint squatter;
  squatter.Open(auxPort);
  ASSERT_TRUE(squatter.IsBound());
  ASSERT_TRUE(relay.Start(relay.RoutedSettings()));
  std::string carried;
  for (int attempt = 0; attempt < 20 && carried != "game"; ++attempt) {
    relay.SendToRelay(relay.clientGame, relay.relayPort, "game");
    auto received = ReceiveWithin(relay.serverGame, 100);
    if (received) carried = Bytes(*received);
  }
  EXPECT_EQ(carried, "game");
  EXPECT_EQ(relay.StopByKey(), 0);
  EXPECT_EQ(relay.Errors(), "tessard: cannot open auxiliary port " + std::to_string(auxPort) +
                                ": WSAEADDRINUSE (10048)\n");
}

TEST(RelayProgram, RelaysWithoutALogItCannotOpen) {
  RelayHarness relay;
  ASSERT_TRUE(relay.Start(relay.RoutedSettings("Log=missing/packets.txt\r\n")));
  ASSERT_TRUE(relay.WaitUntilRelaying());
  EXPECT_EQ(Carry(relay, relay.clientGame, relay.relayPort, relay.serverGame, "hi"), "hi");
  EXPECT_EQ(relay.StopByKey(), 0);
  const std::string errors = relay.Errors();
  EXPECT_EQ(errors.rfind("tessard: cannot open log file missing/packets.txt: ", 0), 0u) << errors;
  EXPECT_NE(errors.find("; relaying without a log\n"), std::string::npos) << errors;
}

TEST(RelayProgram, WarnsOfAnUnresolvableServer) {
  RelayHarness relay;
  ASSERT_TRUE(relay.Start("[Server]\nIP=999.999.999.999\nPort=" + std::to_string(relay.serverPort) +
                          "\n[Proxy]\nPort=" + std::to_string(relay.relayPort) + "\n"));
  EXPECT_EQ(relay.StopByKey(), 0);
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
