// Capture file tests that need POSIX: a file-size limit to make a write
// stop part way, and tshark, the real reader, started through a script.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "capture/capture_file.h"
#include "relay/traffic_capture.h"
#include "testing/capture_file_fixture.h"
#include "testing/tshark.h"

namespace tessard {
namespace {

using testing::CaptureFileTest;
using testing::FindTshark;
using testing::Hex;
using testing::ReadFrames;

namespace fs = std::filesystem;

std::uint32_t Address(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d) {
  const std::uint8_t bytes[4] = {a, b, c, d};
  std::uint32_t address;
  std::memcpy(&address, bytes, 4);
  return address;
}

CapturedDatagram Datagram(CaptureInterface interface, CaptureDirection direction,
                          CaptureEndpoint source, CaptureEndpoint destination,
                          const std::vector<std::uint8_t>& payload, const char* comment) {
  CapturedDatagram datagram;
  datagram.interface = interface;
  datagram.direction = direction;
  datagram.source = source;
  datagram.destination = destination;
  datagram.payload = payload.data();
  datagram.length = payload.size();
  datagram.comment = comment;
  return datagram;
}

TEST_F(CaptureFileTest, AWriteCutShortLeavesOnlyWholeBlocksAndNothingAfter) {
  const std::string path = PathOf("game.pcapng");
  const std::vector<std::uint8_t> payload(100, 0x42);
  const CaptureEndpoint client{Address(127, 0, 0, 1), 52000};
  const CaptureEndpoint server{Address(127, 0, 0, 1), 382};
  const CapturedDatagram datagram = Datagram(CaptureInterface::kGame, CaptureDirection::kOutbound,
                                             client, server, payload, nullptr);
  const std::size_t header = CaptureFileHeader().size();
  std::vector<std::uint8_t> blockBytes;
  AppendPacketBlock(datagram, blockBytes);
  const std::size_t block = blockBytes.size();

  // Past the limit a write takes what fits, and the next one fails with
  // EFBIG (and SIGXFSZ, ignored here), as on a disk that fills up.
  rlimit saved{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  const auto previousHandler = signal(SIGXFSZ, SIG_IGN);
  rlimit limited = saved;
  limited.rlim_cur = header + block + block / 2;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);

  CaptureFile capture;
  const bool opened = capture.Open(path.c_str());
  const bool first = capture.Record(datagram);
  const bool second = capture.Record(datagram);
  setrlimit(RLIMIT_FSIZE, &saved);
  const bool third = capture.Record(datagram);
  signal(SIGXFSZ, previousHandler);

  EXPECT_TRUE(opened);
  EXPECT_TRUE(first);
  EXPECT_FALSE(second);
  EXPECT_FALSE(third);
  EXPECT_TRUE(capture.Failed());
  EXPECT_STRNE(capture.Reason(), "");
  EXPECT_EQ(fs::file_size(path), header + block);  // the torn block is gone, no more came
  capture.Close();
}

int failuresTold = 0;
void CountFailure(const char*, bool, bool) { ++failuresTold; }

// The relay's side of a failed write: told once, whatever comes after, and
// the capture counts as incomplete at the end.
TEST_F(CaptureFileTest, ARelayCaptureTellsItsFirstFailedWriteOnly) {
  const std::string path = PathOf("game.pcapng");
  const std::vector<std::uint8_t> payload(200, 0x17);
  const tessard::Datagram datagram(NetAddress(Address(127, 0, 0, 1), 52000), payload.data(),
                                   static_cast<std::int32_t>(payload.size()));
  const NetAddress server(Address(127, 0, 0, 1), 382);

  rlimit saved{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  const auto previousHandler = signal(SIGXFSZ, SIG_IGN);
  rlimit limited = saved;
  // The header and one record fit, with room for part of the next.
  std::vector<std::uint8_t> wholeFile = CaptureFileHeader();
  CapturedDatagram record;
  record.payload = payload.data();
  record.length = payload.size();
  AppendPacketBlock(record, wholeFile);
  limited.rlim_cur = wholeFile.size() + 10;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);

  failuresTold = 0;
  TrafficCapture capture;
  const bool opened = capture.Open(path.c_str(), CountFailure);
  for (int i = 0; i < 4; ++i) {
    capture.RecordAuxiliary(1700000000000000u, datagram.source, datagram.bytes.get(),
                            datagram.length, server, Direction::kClientToServer);
  }
  setrlimit(RLIMIT_FSIZE, &saved);
  capture.RecordAuxiliary(1700000000000000u, datagram.source, datagram.bytes.get(), datagram.length,
                          server, Direction::kClientToServer);
  signal(SIGXFSZ, previousHandler);
  const bool whole = capture.Close();

  EXPECT_TRUE(opened);
  EXPECT_EQ(failuresTold, 1);
  EXPECT_FALSE(whole);
  EXPECT_EQ(fs::file_size(path), wholeFile.size());
}

std::string Text(const std::vector<std::uint8_t>& bytes) { return {bytes.begin(), bytes.end()}; }

TEST_F(CaptureFileTest, TsharkReadsEveryFrameAsWritten) {
  const std::string tshark = FindTshark();
  if (tshark.empty()) GTEST_SKIP() << "tshark is not installed (Debian package tshark)";

  const CaptureEndpoint client{Address(127, 0, 0, 1), 52000};
  const CaptureEndpoint auxClient{Address(127, 0, 0, 1), 52001};
  const CaptureEndpoint server{Address(127, 0, 0, 2), 382};
  const CaptureEndpoint auxServer{Address(127, 0, 0, 2), 383};
  const CaptureEndpoint nobody{};
  const std::vector<std::uint8_t> keyRequest = {0x00, 0x01, 0x78, 0x56, 0x34, 0x12, 0x01, 0x00};
  const std::vector<std::uint8_t> keyResponse = {0x00, 0x02, 0x87, 0xA9, 0xCB, 0xED};
  const std::vector<std::uint8_t> odd = {0xFF, 0x00, 0x7F, 0x80, 0x0A};
  std::vector<std::uint8_t> largest(520);
  for (std::size_t i = 0; i < largest.size(); ++i) largest[i] = static_cast<std::uint8_t>(i * 7);

  std::vector<CapturedDatagram> datagrams = {
      Datagram(CaptureInterface::kGame, CaptureDirection::kInbound, server, nobody, largest,
               nullptr),
      Datagram(CaptureInterface::kGame, CaptureDirection::kOutbound, client, server, keyRequest,
               "Connection from 127.0.0.1:52000 (proto 1)"),
      Datagram(CaptureInterface::kGame, CaptureDirection::kInbound, server, client, keyResponse,
               "SubSpace decryption enabled."),
      Datagram(CaptureInterface::kAuxiliary, CaptureDirection::kOutbound, auxClient, auxServer, odd,
               nullptr)};
  const std::string path = PathOf("game.pcapng");
  CaptureFile capture;
  ASSERT_TRUE(capture.Open(path.c_str()));
  std::uint64_t time = 1700000000000001u;
  for (CapturedDatagram& datagram : datagrams) {
    datagram.timestampMicroseconds = time;
    time += 250001;
    ASSERT_TRUE(capture.Record(datagram));
  }
  ASSERT_TRUE(capture.Close());

  std::vector<std::vector<std::string>> frames;
  std::string error;
  ASSERT_TRUE(
      ReadFrames(tshark, directory, "game.pcapng",
                 {"frame.interface_id", "frame.interface_name", "frame.time_epoch",
                  "frame.packet_flags_direction", "ip.src", "udp.srcport", "ip.dst", "udp.dstport",
                  "ip.checksum.status", "udp.length", "udp.payload", "frame.comment"},
                 &frames, &error))
      << error;

  const std::string expected =
      "0\tgame\t1700000000.000001000\t1\t127.0.0.2\t382\t0.0.0.0\t0\t1\t528\t" +
      Hex(Text(largest)) +
      "\t\n"
      "0\tgame\t1700000000.250002000\t2\t127.0.0.1\t52000\t127.0.0.2\t382\t1\t16\t" +
      Hex(Text(keyRequest)) +
      "\tConnection from 127.0.0.1:52000 (proto 1)\n"
      "0\tgame\t1700000000.500003000\t1\t127.0.0.2\t382\t127.0.0.1\t52000\t1\t14\t" +
      Hex(Text(keyResponse)) +
      "\tSubSpace decryption enabled.\n"
      "1\tauxiliary\t1700000000.750004000\t2\t127.0.0.1\t52001\t127.0.0.2\t383\t1\t13\t" +
      Hex(Text(odd)) + "\t\n";
  std::string seen;
  for (const std::vector<std::string>& frame : frames) {
    for (std::size_t i = 0; i < frame.size(); ++i)
      seen += frame[i] + (i + 1 < frame.size() ? "\t" : "\n");
  }
  EXPECT_EQ(seen, expected);
}

}  // namespace
}  // namespace tessard
