// The relay as a user meets it in Wireshark: copied into the personal extcap
// folder of a fresh home, listed by `tshark -D`, started by `tshark -i
// tessard` with the dialog's options as preferences, and stopped by tshark.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "testing/capture_program_fixture.h"
#include "testing/tshark.h"

namespace tessard::testing {
namespace {

namespace fs = std::filesystem;

class ExtcapTsharkTest : public CaptureProgramTest {
 protected:
  void SetUp() override {
    tshark = FindTshark();
    if (tshark.empty()) GTEST_SKIP() << "tshark is not installed (Debian package tshark)";
    // Wireshark 4.0 looks in the first folder, 4.1 and later in the second.
    for (const char* folder : {".config/wireshark/extcap", ".local/lib/wireshark/extcap"}) {
      fs::create_directories(home / folder);
      fs::copy_file(RelayExecutable(), home / folder / "tessard");
    }
  }

  // Starts tshark with arguments and the fresh home, its output to outName.
  void StartTshark(const std::string& arguments, const std::string& outName) {
    const fs::path script = relay.directory / (outName + ".sh");
    std::ofstream(script) << "#!/bin/sh\nHOME='" << home.string() << "' exec '" << tshark << "' "
                          << arguments << "\n";
    fs::permissions(script, fs::perms::owner_all);
    ASSERT_TRUE(process.Start(script.string(), relay.directory.string(),
                              (relay.directory / outName).string(),
                              (relay.directory / (outName + ".errors")).string()));
  }

  std::string tshark;
  const fs::path home = relay.directory / "home";
  ChildProcess process;
};

TEST_F(ExtcapTsharkTest, TsharkListsTheRelayAndCapturesASessionLive) {
  ASSERT_NO_FATAL_FAILURE(StartTshark("-D", "interfaces.txt"));
  ASSERT_EQ(process.WaitForExit(30000), 0);
  EXPECT_NE(ReadWholeFile(relay.directory / "interfaces.txt")
                .find(". tessard (Tessard relay: decrypted game traffic)\n"),
            std::string::npos);

  constexpr int kSeconds = 6;
  const std::string logPath = (relay.directory / "packets.txt").string();
  ASSERT_NO_FATAL_FAILURE(
      StartTshark("-i tessard -o extcap.tessard.listenport:" + std::to_string(relay.relayPort) +
                      " -o extcap.tessard.serveraddress:127.0.0.1 -o extcap.tessard.serverport:" +
                      std::to_string(relay.serverPort) + " -o 'extcap.tessard.logfile:" + logPath +
                      "' -a duration:" + std::to_string(kSeconds) + " -w live.pcapng",
                  "capture.txt"));
  // Relaying once the auxiliary pair carries a probe; each probe is captured.
  int probes = 0;
  for (int attempt = 0; attempt < 200 && probes == 0 && process.Running(); ++attempt) {
    relay.SendToRelay(relay.clientAux, static_cast<std::uint16_t>(relay.relayPort + 1), "probe");
    while (ReceiveWithin(relay.serverAux, probes == 0 ? 50 : kSilenceTimeoutMs)) ++probes;
  }
  ASSERT_GT(probes, 0) << ReadWholeFile(relay.directory / "capture.txt.errors");
  for (int i = 0; i < probes; ++i) {
    Expect(1, kOutbound, At(relay.clientAux), At(relay.serverAux), "probe", "", started);
  }
  ASSERT_NO_FATAL_FAILURE(CarrySession());

  // tshark stops the relay when its time is up.
  ASSERT_EQ(process.WaitForExit((kSeconds + 30) * 1000), 0);
  EXPECT_EQ(relay.Log(), log.FileText()) << "the log is whole";
  UdpEndpoint game;
  game.Open(relay.relayPort);
  EXPECT_TRUE(game.IsBound()) << "the relay has ended";

  std::vector<std::vector<std::string>> frames;
  std::string error;
  ASSERT_TRUE(ReadFrames(
      tshark, relay.directory, "live.pcapng",
      {"frame.interface_name", "frame.packet_flags_direction", "udp.payload", "frame.comment"},
      &frames, &error))
      << error;
  ASSERT_EQ(frames.size(), expected.size());
  for (std::size_t i = 0; i < frames.size(); ++i) {
    const CaptureRecord& record = expected[i];
    const std::vector<std::string> want = {record.interface == 0 ? "game" : "auxiliary",
                                           std::to_string(record.flags), Hex(record.payload),
                                           record.comment};
    EXPECT_EQ(frames[i], want) << "frame " << i;
  }
}

}  // namespace
}  // namespace tessard::testing
