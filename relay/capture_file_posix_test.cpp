// Capture file tests that need POSIX: a file-size limit to make a write
// stop part way, and tshark, the real reader, started through a script.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/child_process.h"
#include "relay/capture_file.h"
#include "relay/capture_file_testing.h"

namespace tessard {
namespace {

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
  const std::size_t block = PacketBlockSize(payload.size(), 0);

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

// tshark's path, or empty when it is not installed.
std::string FindTshark() {
  const char* path = std::getenv("PATH");
  std::stringstream directories(path == nullptr ? "/usr/bin" : path);
  for (std::string directory; std::getline(directories, directory, ':');) {
    const fs::path candidate = fs::path(directory) / "tshark";
    if (!directory.empty() && fs::exists(candidate)) return candidate.string();
  }
  return {};
}

std::string Hex(const std::vector<std::uint8_t>& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  for (const std::uint8_t byte : bytes) {
    text += kDigits[byte >> 4];
    text += kDigits[byte & 15];
  }
  return text;
}

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

  // No name look-ups (-n); checksums checked; one line per frame.
  std::ofstream(PathOf("read.sh"))
      << "#!/bin/sh\nexec '" << tshark
      << "' -n -r game.pcapng -o ip.check_checksum:TRUE -T fields -E separator=/t"
         " -e frame.interface_id -e frame.interface_name -e frame.time_epoch"
         " -e frame.packet_flags_direction -e ip.src -e udp.srcport -e ip.dst -e udp.dstport"
         " -e ip.checksum.status -e udp.length -e udp.payload -e frame.comment\n";
  fs::permissions(PathOf("read.sh"), fs::perms::owner_all);
  testing::ChildProcess reader;
  ASSERT_TRUE(reader.Start(PathOf("read.sh"), directory.string(), PathOf("frames.txt"),
                           PathOf("errors.txt")));
  const int status = reader.WaitForExit(60000);
  ASSERT_EQ(status, 0) << std::ifstream(PathOf("errors.txt")).rdbuf();

  const std::string expected =
      "0\tgame\t1700000000.000001000\t1\t127.0.0.2\t382\t0.0.0.0\t0\t1\t528\t" + Hex(largest) +
      "\t\n"
      "0\tgame\t1700000000.250002000\t2\t127.0.0.1\t52000\t127.0.0.2\t382\t1\t16\t" +
      Hex(keyRequest) +
      "\tConnection from 127.0.0.1:52000 (proto 1)\n"
      "0\tgame\t1700000000.500003000\t1\t127.0.0.2\t382\t127.0.0.1\t52000\t1\t14\t" +
      Hex(keyResponse) +
      "\tSubSpace decryption enabled.\n"
      "1\tauxiliary\t1700000000.750004000\t2\t127.0.0.1\t52001\t127.0.0.2\t383\t1\t13\t" +
      Hex(odd) + "\t\n";
  // The direction shows as "0x00000001" in some versions, "1" in others.
  std::ifstream frames(PathOf("frames.txt"));
  std::string seen;
  for (std::string line; std::getline(frames, line);) {
    std::vector<std::string> fields;
    std::stringstream split(line);
    for (std::string field; std::getline(split, field, '\t');) fields.push_back(field);
    if (!line.empty() && line.back() == '\t') fields.emplace_back();
    ASSERT_EQ(fields.size(), 12u) << line;
    fields[3] = std::to_string(std::stoul(fields[3], nullptr, 0));
    for (const std::string& field : fields)
      seen += field + (&field == &fields.back() ? "\n" : "\t");
  }
  EXPECT_EQ(seen, expected);
}

}  // namespace
}  // namespace tessard
