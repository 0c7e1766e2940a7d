// The real relay never lets one of its outputs spoil another file: a
// capture that names the log file, an output that names the settings file,
// a file that another running relay is writing; and it never carries a
// datagram that comes from its own ports.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "testing/capture_records.h"
#include "testing/loopback.h"
#include "testing/relay_harness.h"
#include "testing/relay_outputs_fixture.h"

namespace tessard::testing {
namespace {

namespace fs = std::filesystem;

// The files of a directory, but for the harness's console and error files.
std::vector<std::string> FilesIn(const fs::path& directory) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(directory)) {
    const std::string name = entry.path().filename().string();
    if (name != "console.txt" && name != "errors.txt") names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

TEST_F(RelayOutputsTest, ACaptureThatIsTheLogFileIsRefusedAndTheLogIsWrittenAsEver) {
  const std::string oldLog = "an older log, to be emptied\r\n";
  const fs::path logPath = relay.directory / "packets.txt";
  fs::create_directory(relay.directory / "sub");
  std::vector<std::string> spellings = {"./packets.txt", "sub/../packets.txt", logPath.string()};
  // Links are made to an older log, which the relay empties as usual.
  WriteWholeFile(logPath, oldLog);
  std::error_code linkError;
  fs::create_hard_link(logPath, relay.directory / "hard.pcapng", linkError);
  if (!linkError) spellings.push_back("hard.pcapng");
  fs::create_symlink("packets.txt", relay.directory / "soft.pcapng", linkError);
  if (!linkError) spellings.push_back("soft.pcapng");
  // Where names are case-insensitive (Windows), another case is the same file.
  if (fs::exists(relay.directory / "PACKETS.TXT")) spellings.push_back("PACKETS.TXT");

  for (const std::string& capture : spellings) {
    SCOPED_TRACE(capture);
    WriteWholeFile(logPath, oldLog);
    log = ExpectedLog{};
    ASSERT_TRUE(relay.StartRouted("Capture=" + capture + "\r\n"));
    ASSERT_TRUE(CarryGame(6));
    EXPECT_EQ(relay.StopByKey(), 1) << "the capture asked for was not written";
    EXPECT_EQ(relay.Errors(), "tessard: cannot use " + capture +
                                  " as the capture file: it is the log file packets.txt; "
                                  "relaying without a capture\n");
    EXPECT_EQ(relay.Log(), log.FileText());
  }
}

TEST_F(RelayOutputsTest, AnOutputThatIsTheSettingsFileStopsTheRelayBeforeItOpensAnything) {
  const fs::path settingsPath = relay.directory / "TESSARD.INI";
  const struct {
    std::string key;
    std::string name;
  } cases[] = {{"Log=TESSARD.INI", "log"},
               {"Log=./TESSARD.INI", "log"},
               {"Capture=TESSARD.INI", "capture"},
               {"Capture=" + settingsPath.string(), "capture"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.key);
    const std::string settings = relay.RoutedSettings(c.key + "\r\n");
    ASSERT_TRUE(relay.Start(settings));
    EXPECT_EQ(relay.WaitForExit(), 1);
    const std::string path = c.key.substr(c.key.find('=') + 1);
    EXPECT_EQ(relay.Errors(), "tessard: cannot use " + path + " as the " + c.name +
                                  " file: it is the settings file " + settingsPath.string() +
                                  "; stopping without touching any file\n");
    EXPECT_EQ(ReadWholeFile(settingsPath), settings);
    EXPECT_EQ(FilesIn(relay.directory), std::vector<std::string>{"TESSARD.INI"});
  }
}

// A second relay, on ports and in a directory of its own, is given a file
// that the first one is writing.
TEST_F(RelayOutputsTest, ASecondRelayLeavesTheFilesOfARunningOneAlone) {
  ASSERT_TRUE(relay.StartRouted("Capture=game.pcapng\r\n"));
  const std::string runningLog = (relay.directory / "packets.txt").string();
  const std::string runningCapture = (relay.directory / "game.pcapng").string();
  const struct {
    std::string keys;
    std::string refused;
  } cases[] = {
      {"Log=" + runningLog + "\r\nCapture=own.pcapng\r\n", "log file " + runningLog},
      {"Capture=" + runningCapture + "\r\n", "capture file " + runningCapture},
      {"Log=" + runningCapture + "\r\n", "log file " + runningCapture},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.keys);
    ASSERT_TRUE(CarryGame(4));
    RelayHarness second;
    int status = -1;
    second.RetryOnTakenPorts([&] {
      status = second.Start(second.RoutedSettings(c.keys)) ? second.WaitForExit() : -1;
      return true;
    });
    EXPECT_EQ(status, 1);
    EXPECT_EQ(second.Errors(), "tessard: cannot open " + c.refused +
                                   ": another running relay or program is writing it; stopping "
                                   "without touching any file\n");
    EXPECT_EQ(FilesIn(second.directory), std::vector<std::string>{"TESSARD.INI"});
  }
  ASSERT_TRUE(CarryGame(4));
  EXPECT_EQ(relay.StopByKey(), 0);
  EXPECT_EQ(relay.Errors(), "");
  EXPECT_EQ(relay.Log(), log.FileText());
  const CaptureContents capture = ReadCapture(relay.Log("game.pcapng"));
  EXPECT_EQ(capture.error, "");
  // Every game datagram carried has its record; the auxiliary probes that
  // showed the relay ready come first.
  ASSERT_GE(capture.records.size(), static_cast<std::size_t>(carried));
  EXPECT_EQ(capture.records.back().payload, GamePacket(40, static_cast<unsigned>(carried - 1)));
}

// A server address that points back at the relay: what the relay sends
// there arrives from its own port, and is dropped instead of carried again.
TEST_F(RelayOutputsTest, ADatagramFromTheRelaysOwnPortIsNeitherCarriedLoggedNorCaptured) {
  const bool started = relay.RetryOnTakenPorts([&] {
    const std::string port = std::to_string(relay.relayPort);
    if (!relay.Start("[Proxy]\r\nPort=" + port +
                     "\r\nCapture=game.pcapng\r\n[Server]\r\nIP=127.0.0.1\r\nPort=" + port +
                     "\r\n")) {
      return false;
    }
    // The capture is opened once both ports are bound.
    for (int i = 0; i < 150 && !fs::exists(relay.directory / "game.pcapng"); ++i) {
      if (relay.RelayPortsTaken()) return false;
      platform::SleepAlertable(20);
    }
    return true;
  });
  ASSERT_TRUE(started);
  const std::string up = GamePacket(30, 1);
  const std::string aux = GamePacket(12, 2);
  relay.SendToRelay(relay.clientGame, relay.relayPort, up);
  relay.SendToRelay(relay.clientAux, static_cast<std::uint16_t>(relay.relayPort + 1), aux);
  EXPECT_EQ(ReceiveWithin(relay.clientGame, kSilenceTimeoutMs), nullptr);
  EXPECT_EQ(ReceiveWithin(relay.clientAux, kSilenceTimeoutMs), nullptr);
  EXPECT_EQ(relay.StopByKey(), 0);
  log.Dump(Direction::kClientToServer, up);
  EXPECT_EQ(relay.Log(), log.FileText());
  const CaptureContents capture = ReadCapture(relay.Log("game.pcapng"));
  EXPECT_EQ(capture.error, "");
  ASSERT_EQ(capture.records.size(), 2u);
  EXPECT_EQ(capture.records[0].payload, up);
  EXPECT_EQ(capture.records[1].payload, aux);
}

}  // namespace
}  // namespace tessard::testing
