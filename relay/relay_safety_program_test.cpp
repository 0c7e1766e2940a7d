// The real relay keeps its log whole and says what went wrong: a second
// relay that cannot start leaves the running one's log alone, a log that
// cannot be written is told and ends cleanly, and settings that cannot work
// are pointed out.
#include <gtest/gtest.h>

#include <string>

#include "testing/loopback.h"
#include "testing/relay_harness.h"

namespace tessard::testing {
namespace {

// Small datagrams from alternating sides, enough for the relay's store of
// 1000 pieces to be written out more than once; each carried intact.
bool CarryManyDatagrams(RelayHarness& relay, ExpectedLog& expected, int count) {
  return relay.CarryGameBothWays(
      expected, count, [](int i) { return std::string("\x05") + "datagram " + std::to_string(i); });
}

TEST(RelaySafety, ASecondRelayThatCannotStartLeavesTheRunningOnesLogAlone) {
  RelayHarness relay;
  ASSERT_TRUE(relay.StartRouted());
  ExpectedLog expected;
  ASSERT_TRUE(CarryManyDatagrams(relay, expected, 60));

  ChildProcess second;
  ASSERT_TRUE(second.Start(RelayExecutable(), relay.directory.string(),
                           (relay.directory / "console-2.txt").string(),
                           (relay.directory / "errors-2.txt").string()));
  EXPECT_EQ(second.WaitForExit(10000), 1);
  EXPECT_EQ(WithNewlines(ReadWholeFile(relay.directory / "errors-2.txt")),
            "tessard: cannot open game port " + std::to_string(relay.relayPort) +
                ": WSAEADDRINUSE (10048)\n");

  ASSERT_TRUE(CarryManyDatagrams(relay, expected, 10));
  EXPECT_EQ(relay.StopByKey(), 0);
  EXPECT_EQ(relay.Log(), expected.FileText());
}

TEST(RelaySafety, ALogOnAFullDeviceIsToldOnceWhileRelayingGoesOn) {
  RelayHarness relay;
  ASSERT_TRUE(relay.StartRouted("Log=/dev/full\r\n"));
  if (relay.Errors().find("cannot open log file") != std::string::npos) {
    relay.StopByKey();
    GTEST_SKIP() << "this system has no /dev/full to open: " << relay.Errors();
  }
  ExpectedLog ignored;
  ASSERT_TRUE(CarryManyDatagrams(relay, ignored, 60));
  const std::string line =
      "tessard: cannot write log file /dev/full: No space left on device; nothing more is "
      "logged\n";
  EXPECT_EQ(relay.ErrorsOnceTheyMention(line), line) << "told while the relay runs";
  ASSERT_TRUE(CarryManyDatagrams(relay, ignored, 60));
  EXPECT_EQ(relay.StopByKey(), 1);
  EXPECT_EQ(relay.Errors(), line) << "told once only";
}

TEST(RelaySafety, WarnsOfServerAddressesThatCannotBeAServer) {
  const struct {
    const char* address;
    const char* warning;
  } cases[] = {
      {"0.0.0.0",
       "tessard: server address 0.0.0.0 names no host: datagrams sent there reach this machine, "
       "and their answers would be taken for a new client's\n"},
      {"255.255.255.255",
       "tessard: server address 255.255.255.255 is the broadcast address: no datagram can be "
       "sent there\n"},
  };
  for (const auto& unusable : cases) {
    RelayHarness relay;
    std::string errors;
    relay.RetryOnTakenPorts([&] {
      const std::string settings = "[Proxy]\r\nPort=" + std::to_string(relay.relayPort) +
                                   "\r\n[Server]\r\nIP=" + unusable.address + "\r\n";
      errors = relay.Start(settings) ? relay.ErrorsOnceTheyMention("\n") : "";
      return true;
    });
    EXPECT_EQ(errors, unusable.warning);
    EXPECT_EQ(relay.StopByKey(), 0);
    EXPECT_NE(
        relay.Console().find(std::string("Mapping route to host ") + unusable.address + ":382\n"),
        std::string::npos)
        << relay.Console();
  }
}

TEST(RelaySafety, TellsTheGamePortTheSystemChose) {
  RelayHarness relay;
  ASSERT_TRUE(relay.Start("[Proxy]\r\nPort=0\r\n[Server]\r\nIP=127.0.0.1\r\nPort=" +
                          std::to_string(relay.serverPort) + "\r\n"));
  const std::string prefix = "tessard: game port 0: the system chose port ";
  const std::string errors = relay.ErrorsOnceTheyMention(prefix);
  ASSERT_EQ(errors.rfind(prefix, 0), 0u) << errors;
  const int chosen = std::stoi(errors.substr(prefix.size()));
  ASSERT_GT(chosen, 0);
  ASSERT_LT(chosen, 65536);

  relay.SendToRelay(relay.clientGame, static_cast<std::uint16_t>(chosen), "found you");
  auto received = ReceiveWithin(relay.serverGame, kDeliveryTimeoutMs);
  ASSERT_NE(received, nullptr);
  EXPECT_EQ(Bytes(*received), "found you");
  EXPECT_EQ(relay.StopByKey(), 0);
  EXPECT_NE(relay.Console().find("Ready to rock on port 0!\n"), std::string::npos);
}

// A directory in the settings file's place cannot be read, even by an
// administrator, so this needs no dropped privileges.
TEST(RelaySafety, TellsOfASettingsFileItCannotRead) {
  RelayHarness relay;
  std::filesystem::create_directories(relay.directory / "TESSARD.INI");
  ASSERT_TRUE(relay.Start(""));
  const std::string errors = relay.ErrorsOnceTheyMention("\n");
  const std::string expectedStart =
      "tessard: cannot read settings file " + (relay.directory / "TESSARD.INI").string() + ": ";
  EXPECT_EQ(errors.rfind(expectedStart, 0), 0u) << errors;
  EXPECT_NE(errors.find("; using the defaults\n"), std::string::npos) << errors;
  // The defaults: port 15000 may be taken here, and then the relay ends by
  // itself; either way the console shows the default route.
  relay.relay.WriteToStandardInput("q");
  relay.WaitForExit();
  EXPECT_NE(relay.Console().find("Mapping route to host 127.0.0.1:382\n"
                                 "Ready to rock on port 15000!\n"),
            std::string::npos)
      << relay.Console();
}

}  // namespace
}  // namespace tessard::testing
