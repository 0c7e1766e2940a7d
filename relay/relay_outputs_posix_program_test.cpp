// The real relay's outputs where only POSIX has the case: a FIFO whose
// reader is not there, leaves or stops reading, a file-size limit, and a
// datagram forged to come from the relay's own game port. None of them
// stops, blocks or kills the relay.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "testing/capture_records.h"
#include "testing/loopback.h"
#include "testing/relay_outputs_fixture.h"
#include "testing/tshark.h"

namespace tessard::testing {
namespace {

namespace fs = std::filesystem;

// Everything the FIFO holds now.
std::string Drain(int reader) {
  std::string bytes;
  char chunk[4096];
  for (ssize_t got; (got = read(reader, chunk, sizeof(chunk))) > 0;) bytes.append(chunk, got);
  return bytes;
}

enum class Reader { kNone, kLeaves, kStopsReading };

struct FifoCase {
  const char* name;
  Reader reader;
  bool stopBySignal;
  const char* told;
};

void PrintTo(const FifoCase& fifoCase, std::ostream* out) { *out << fifoCase.name; }

class FifoCaptureTest : public RelayOutputsTest, public ::testing::WithParamInterface<FifoCase> {};

INSTANTIATE_TEST_SUITE_P(
    Readers, FifoCaptureTest,
    ::testing::Values(
        FifoCase{"NoReader", Reader::kNone, false,
                 "tessard: cannot open capture file capture.fifo: no one is reading this FIFO "
                 "(start its reader first); relaying without a capture\n"},
        FifoCase{"AReaderThatLeaves", Reader::kLeaves, false,
                 "tessard: cannot write capture file capture.fifo: Broken pipe; the capture "
                 "starts again when a reader opens it\n"},
        FifoCase{"AReaderThatStopsReading", Reader::kStopsReading, true,
                 "tessard: cannot write capture file capture.fifo: its reader took nothing for "
                 "250 ms; nothing more is captured\n"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_P(FifoCaptureTest, NeitherStopsNorBlocksNorKillsTheRelay) {
  const FifoCase& c = GetParam();
  const std::string fifo = (relay.directory / "capture.fifo").string();
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  int reader = -1;
  if (c.reader != Reader::kNone) {
    reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_NE(reader, -1);
    // A pipe of one page fills after a few records.
    fcntl(reader, F_SETPIPE_SZ, 4096);
  }
  ASSERT_TRUE(relay.StartRouted("Capture=capture.fifo\r\n"));
  std::string captured;
  if (c.reader == Reader::kLeaves) {
    captured = Drain(reader);
    close(reader);
    reader = -1;
  }
  ASSERT_TRUE(CarryGame(16, 520)) << relay.Errors();
  EXPECT_EQ(relay.ErrorsOnceTheyMention("\n"), c.told) << "told while it relays";
  ASSERT_TRUE(CarryGame(4)) << relay.Errors();

  // A stop is never held up by the FIFO (the bound leaves room for a busy
  // machine; a relay blocked in a write never ends at all).
  const auto stopAt = std::chrono::steady_clock::now();
  if (c.stopBySignal) {
    ASSERT_TRUE(relay.relay.RequestStop());
    EXPECT_EQ(relay.WaitForExit(), 1);
  } else {
    EXPECT_EQ(relay.StopByKey(), 1);
  }
  EXPECT_LT(std::chrono::steady_clock::now() - stopAt, std::chrono::seconds(2));
  EXPECT_EQ(relay.Errors(), c.told) << "told once";
  EXPECT_EQ(relay.Log(), log.FileText());
  if (c.reader == Reader::kLeaves) {
    EXPECT_EQ(ReadCapture(captured).error, "");
  } else if (reader != -1) {
    // Records that found no room were left out whole.
    const CaptureContents contents = ReadCapture(Drain(reader));
    EXPECT_EQ(contents.error, "");
    EXPECT_GT(contents.records.size(), 0u);
    close(reader);
  }
}

class CaptureFifoTest : public RelayOutputsTest {
 protected:
  // A capture FIFO with a reader, and a relay writing into it that has
  // carried two datagrams.
  void StartWithFifoReader(const std::string& fifo, int* reader) {
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    *reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_NE(*reader, -1);
    ASSERT_TRUE(relay.StartRouted("Capture=capture.fifo\r\n"));
    ASSERT_TRUE(CarryGame(2));
  }
};

// A user closes Wireshark and opens it again on the running relay.
TEST_F(CaptureFifoTest, StartsAgainForItsNextReader) {
  const std::string fifo = (relay.directory / "capture.fifo").string();
  int reader = -1;
  ASSERT_NO_FATAL_FAILURE(StartWithFifoReader(fifo, &reader));
  // It leaves records unread, which the next reader must not get.
  close(reader);
  ASSERT_TRUE(CarryGame(2));
  const std::string left =
      "tessard: cannot write capture file capture.fifo: Broken pipe; the capture starts again "
      "when a reader opens it\n";
  EXPECT_EQ(relay.ErrorsOnceTheyMention("\n"), left);

  reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_NE(reader, -1);
  const std::string back =
      left + "tessard: capture file capture.fifo has a new reader: the capture starts again\n";
  // The relay looks for a reader a few times a second, as datagrams come.
  for (int i = 0; i < 60 && relay.Errors() != back; ++i) {
    ASSERT_TRUE(CarryGame(1));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  ASSERT_EQ(relay.Errors(), back);
  const int firstOfTheLast = carried;
  ASSERT_TRUE(CarryGame(3));
  EXPECT_EQ(relay.StopByKey(), 1) << "the capture is not whole";
  EXPECT_EQ(relay.Errors(), back);
  EXPECT_EQ(relay.Log(), log.FileText());

  const std::string second = Drain(reader);
  close(reader);
  const CaptureContents contents = ReadCapture(second);
  EXPECT_EQ(contents.error, "");
  EXPECT_EQ(contents.interfaceNames, (std::vector<std::string>{"game", "auxiliary"}));
  ASSERT_GE(contents.records.size(), 3u);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(contents.records[contents.records.size() - 3 + i].payload,
              GamePacket(40, static_cast<unsigned>(firstOfTheLast + i)));
  }
  const std::string tshark = FindTshark();
  if (tshark.empty()) GTEST_SKIP() << "tshark is not installed (Debian package tshark)";
  WriteWholeFile(relay.directory / "second.pcapng", second);
  std::vector<std::vector<std::string>> frames;
  std::string error;
  EXPECT_TRUE(
      ReadFrames(tshark, relay.directory, "second.pcapng", {"udp.payload"}, &frames, &error))
      << error;
  ASSERT_EQ(frames.size(), contents.records.size());
  EXPECT_EQ(frames.back()[0], Hex(contents.records.back().payload));
}

// A reader that closes the FIFO while the relay is idle and opens it again
// before the next datagram gets a capture of its own, from its header.
TEST_F(CaptureFifoTest, AReaderThatComesBackAtOnceGetsAHeader) {
  const std::string fifo = (relay.directory / "capture.fifo").string();
  int reader = -1;
  ASSERT_NO_FATAL_FAILURE(StartWithFifoReader(fifo, &reader));
  Drain(reader);
  close(reader);
  // Long enough for the relay to be woken, far shorter than a user's
  // pause; no datagram comes meanwhile.
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_NE(reader, -1);
  std::string second;
  for (int i = 0; i < 60 && ReadCapture(second).records.size() < 2; ++i) {
    ASSERT_TRUE(CarryGame(1));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    second += Drain(reader);
  }
  close(reader);
  const CaptureContents contents = ReadCapture(second);
  EXPECT_EQ(contents.error, "");
  EXPECT_EQ(contents.interfaceNames, (std::vector<std::string>{"game", "auxiliary"}));
  EXPECT_GE(contents.records.size(), 2u);
  EXPECT_EQ(relay.StopByKey(), 1) << "the capture is not whole";
}

// Wireshark on POSIX: a stop signal ends the relay at once with the log
// whole, and so does its reader leaving the pipe; neither is a failure.
TEST_F(RelayOutputsTest, AnExtcapCaptureEndsOnAStopSignalOrWhenItsReaderLeaves) {
  for (const bool readerLeaves : {false, true}) {
    SCOPED_TRACE(readerLeaves ? "the reader leaves" : "a stop signal");
    log = ExpectedLog();
    const std::string fifo = (relay.directory / "extcap.fifo").string();
    const std::string logPath = (relay.directory / "extcap.txt").string();
    fs::remove(fifo);
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_NE(reader, -1);
    ASSERT_TRUE(relay.relay.Start(
        {RelayExecutable(), "--capture", "--extcap-interface", "tessard", "--fifo", fifo,
         "--listen-port", std::to_string(relay.relayPort), "--server-port",
         std::to_string(relay.serverPort), "--log-file", logPath},
        relay.directory.string(), (relay.directory / "console.txt").string(),
        (relay.directory / "errors.txt").string()));
    ASSERT_TRUE(relay.WaitUntilRelaying()) << relay.Errors();
    ASSERT_TRUE(CarryGame(5)) << relay.Errors();
    // Every datagram's log lines are in the file before the stop.
    EXPECT_EQ(relay.Log("extcap.txt"), log.FileText());
    const std::string captured = Drain(reader);
    const auto stopAt = std::chrono::steady_clock::now();
    if (readerLeaves) {
      close(reader);
      reader = -1;
    } else {
      ASSERT_TRUE(relay.relay.RequestStop());
    }
    EXPECT_EQ(relay.WaitForExit(), 0) << relay.Errors();
    EXPECT_LT(std::chrono::steady_clock::now() - stopAt, std::chrono::seconds(1));
    EXPECT_EQ(relay.Errors(), "");
    EXPECT_EQ(relay.Log("extcap.txt"), log.FileText());
    const CaptureContents contents = ReadCapture(captured + (reader == -1 ? "" : Drain(reader)));
    EXPECT_EQ(contents.error, "");
    EXPECT_EQ(contents.records.size(), static_cast<std::size_t>(5 + 1)) << "and the probe";
    if (reader != -1) close(reader);
  }
}

TEST_F(RelayOutputsTest, AFileSizeLimitEndsEachOutputCleanlyWhileRelayingGoesOn) {
  constexpr rlim_t kLimit = 16 * 1024;
  rlimit saved{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  rlimit limited = saved;
  limited.rlim_cur = kLimit;
  // The relay inherits the limit; this process keeps it only while it starts.
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
  const bool started = relay.Start(relay.RoutedSettings("Capture=game.pcapng\r\n"));
  setrlimit(RLIMIT_FSIZE, &saved);
  ASSERT_TRUE(started);
  ASSERT_TRUE(relay.WaitUntilRelaying());

  ASSERT_TRUE(CarryGame(40, 520)) << relay.Errors();
  EXPECT_EQ(relay.StopByKey(), 1);
  EXPECT_EQ(relay.Errors(),
            "tessard: cannot write log file packets.txt: File too large; nothing more is logged\n"
            "tessard: cannot write capture file game.pcapng: File too large; nothing more is "
            "captured\n");
  const std::string written = relay.Log();
  const std::string whole = log.FileText();
  ASSERT_GT(written.size(), 0u);
  EXPECT_LE(written.size(), kLimit);
  EXPECT_EQ(whole.compare(0, written.size(), written), 0) << "a beginning of the log";
  EXPECT_EQ(written.substr(written.size() - 2), "\r\n") << "whole lines only";
  const CaptureContents capture = ReadCapture(relay.Log("game.pcapng"));
  EXPECT_EQ(capture.error, "") << "whole records only";
  EXPECT_GT(capture.records.size(), 0u);
  EXPECT_LE(relay.Log("game.pcapng").size(), kLimit);
}

// One UDP datagram from 127.0.0.1 at the relay's game port to that same
// port, through a raw socket (which needs CAP_NET_RAW); false when none
// can be had.
bool SendForged(std::uint16_t port, const std::string& payload) {
  const int raw = socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_UDP);
  if (raw == -1) return false;
  std::string datagram(8, '\0');
  datagram[0] = static_cast<char>(port >> 8);
  datagram[1] = static_cast<char>(port & 0xFF);
  datagram[2] = datagram[0];
  datagram[3] = datagram[1];
  const std::size_t length = 8 + payload.size();
  datagram[4] = static_cast<char>(length >> 8);
  datagram[5] = static_cast<char>(length & 0xFF);  // checksum 0: none
  datagram += payload;
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = LoopbackAddress();
  const bool sent =
      sendto(raw, datagram.data(), datagram.size(), 0, reinterpret_cast<const sockaddr*>(&to),
             sizeof(to)) == static_cast<ssize_t>(datagram.size());
  close(raw);
  return sent;
}

TEST_F(RelayOutputsTest, AForgedDatagramFromTheRelaysOwnPortStartsNoLoopWithTheServer) {
  ASSERT_TRUE(relay.StartRouted());
  if (!SendForged(relay.relayPort, "forged")) GTEST_SKIP() << "no raw socket here";
  // A server that answers whatever reaches it: a relay that took itself for
  // the client would carry each answer back to the server.
  int reachedServer = 0;
  for (auto datagram = ReceiveWithin(relay.serverGame, kSilenceTimeoutMs);
       datagram != nullptr && reachedServer < 20;
       datagram = ReceiveWithin(relay.serverGame, kSilenceTimeoutMs)) {
    ++reachedServer;
    relay.SendToRelay(relay.serverGame, relay.relayPort, "answer");
  }
  EXPECT_EQ(reachedServer, 0);
  // A real client is carried as ever.
  ASSERT_TRUE(CarryGame(2));
  EXPECT_EQ(relay.StopByKey(), 0);
  EXPECT_EQ(relay.Log(), log.FileText());
}

}  // namespace
}  // namespace tessard::testing
