// tshark, the real reader, on a capture the real relay wrote: the same
// frames, payloads, directions, addresses and comments as were carried.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "testing/capture_program_fixture.h"
#include "testing/tshark.h"

namespace tessard::testing {
namespace {

// "127.0.0.1:52000" as tshark's two fields.
std::vector<std::string> AddressAndPort(const std::string& endpoint) {
  const std::size_t colon = endpoint.find(':');
  return {endpoint.substr(0, colon), endpoint.substr(colon + 1)};
}

TEST_F(CaptureProgramTest, TsharkReadsTheRelaysCaptureAsCarried) {
  const std::string tshark = FindTshark();
  if (tshark.empty()) GTEST_SKIP() << "tshark is not installed (Debian package tshark)";
  ASSERT_NO_FATAL_FAILURE(StartWithCapture());
  ASSERT_NO_FATAL_FAILURE(CarrySession());
  ASSERT_EQ(relay.StopByKey(), 0);
  const std::vector<CaptureRecord> records = Recorded();
  ASSERT_EQ(records.size(), expected.size());

  std::vector<std::vector<std::string>> frames;
  std::string error;
  ASSERT_TRUE(ReadFrames(tshark, relay.directory, "game.pcapng",
                         {"frame.interface_name", "frame.time_epoch",
                          "frame.packet_flags_direction", "ip.src", "udp.srcport", "ip.dst",
                          "udp.dstport", "ip.checksum.status", "udp.payload", "frame.comment"},
                         &frames, &error))
      << error;
  ASSERT_EQ(frames.size(), expected.size());
  for (std::size_t i = 0; i < frames.size(); ++i) {
    const CaptureRecord& record = expected[i];
    const std::vector<std::string> source = AddressAndPort(record.source);
    const std::vector<std::string> destination = AddressAndPort(record.destination);
    const std::string seconds = std::to_string(records[i].time / 1000000);
    std::string micros = std::to_string(records[i].time % 1000000);
    micros.insert(0, 6 - micros.size(), '0');
    const std::vector<std::string> want = {record.interface == 0 ? "game" : "auxiliary",
                                           seconds + "." + micros + "000",
                                           std::to_string(record.flags),
                                           source[0],
                                           source[1],
                                           destination[0],
                                           destination[1],
                                           "1",  // checksum good
                                           Hex(record.payload),
                                           record.comment};
    EXPECT_EQ(frames[i], want) << "frame " << i;
  }
}

}  // namespace
}  // namespace tessard::testing
