// The packet log and the whole per-datagram path of the relay, on a
// full-size datagram, with the log written out into a sink that drops it,
// without and with a capture file.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "log/log_stream.h"
#include "log/packet_dump.h"
#include "log/packet_log.h"
#include "net/datagram.h"
#include "net/net_startup.h"
#include "net/udp_endpoint.h"
#include "platform/platform.h"
#include "relay/game_traffic.h"
#include "relay/traffic_capture.h"
#include "testing/loopback.h"
#include "testing/scratch_directory.h"

namespace tessard {
namespace {

constexpr std::int32_t kDatagramBytes = 520;

void NullSink(const char* text) { benchmark::DoNotOptimize(text); }

std::vector<std::uint8_t> Payload() {
  std::vector<std::uint8_t> bytes(kDatagramBytes);
  for (std::int32_t i = 0; i < kDatagramBytes; ++i) bytes[i] = static_cast<std::uint8_t>(i * 13);
  bytes[0] = 0x00;
  bytes[1] = 0x03;
  return bytes;
}

// One dump and the write-out of everything it stored.
void BM_DumpPacket520WithFlush(benchmark::State& state) {
  const std::vector<std::uint8_t> bytes = Payload();
  SetLogWriter(NullSink);
  for (auto _ : state) {
    DumpPacket(Direction::kClientToServer, bytes.data(), kDatagramBytes);
    FlushLog();
  }
  SetLogWriter(nullptr);
}
BENCHMARK(BM_DumpPacket520WithFlush);

// Takes whatever it is given, at once: the log stream's own work measured,
// not a disk's.
class DiscardingOutput : public OutputTarget {
 public:
  std::int64_t Write(const std::uint8_t* bytes, std::uint32_t length, std::uint32_t, char*,
                     std::uint32_t) override {
    benchmark::DoNotOptimize(bytes);
    return length;
  }
  bool CutBack(std::uint64_t, char*, std::uint32_t) override { return true; }
  bool Close(char*, std::uint32_t) override { return true; }
  std::uint32_t Now() const override { return 0; }
};

// One dump taken the whole way to the log's output, as the relay writes
// it: the store's pieces given CR LF line ends and collected.
void BM_DumpPacket520ThroughTheLogStream(benchmark::State& state) {
  const std::vector<std::uint8_t> bytes = Payload();
  DiscardingOutput output;
  SetLogWriter(nullptr);
  SetLogOutput(&output);
  for (auto _ : state) {
    DumpPacket(Direction::kClientToServer, bytes.data(), kDatagramBytes);
    FlushLog();
  }
  SetLogOutput(nullptr);
}
BENCHMARK(BM_DumpPacket520ThroughTheLogStream);

// A game datagram on its way through the relay: endpoints on loopback, the
// session keyed as after a key exchange, the log written into nothing.
struct GameDatagramPath {
  GameDatagramPath()
      : bytes(Payload()),
        datagram(NetAddress(testing::LoopbackAddress(), 5000), bytes.data(), kDatagramBytes) {
    NetStartup();
    endpoint.Open(0);
    receiver.Open(0);
    endpoint.SetDestination(testing::LoopbackAddress(), receiver.LocalPort());
    sessionCipher.clientKey = sessionCipher.GenerateKey(99);
    sessionCipher.SetServerKey(0x600DCAFE);
    decryptionEnabled = true;
    SetLogWriter(NullSink);
  }
  ~GameDatagramPath() {
    FlushLog();
    SetLogWriter(nullptr);
    decryptionEnabled = false;
  }

  UdpEndpoint endpoint;
  UdpEndpoint receiver;
  const std::vector<std::uint8_t> bytes;
  const Datagram datagram;
};

// What the relay does with a game datagram besides sending it: the work
// copy, its decryption, the inspection and the dump, with the store
// written out whenever it fills, as in the relay.
void BM_PerDatagramPath520(benchmark::State& state) {
  GameDatagramPath path;
  for (auto _ : state) {
    PrepareWorkCopy(path.datagram);
    InspectGameDatagram(path.datagram, Direction::kClientToServer, path.endpoint);
  }
}
BENCHMARK(BM_PerDatagramPath520);

// The same path with a capture: the clock read when the datagram is taken
// and its record written straight through to a file, as the relay does
// with Capture set. The file grows by one 600-byte block per iteration.
void BM_PerDatagramPath520WithCapture(benchmark::State& state) {
  GameDatagramPath path;
  const testing::ScratchDirectory scratch("bench");
  const std::string file = (scratch.Path() / "game.pcapng").string();
  TrafficCapture capture;
  if (!capture.Open(file.c_str(), nullptr)) {
    state.SkipWithError(capture.Reason());
    return;
  }
  for (auto _ : state) {
    const std::uint64_t takenAt = platform::WallClockMicroseconds();
    PrepareWorkCopy(path.datagram);
    const InspectedDatagram inspected =
        InspectGameDatagram(path.datagram, Direction::kClientToServer, path.endpoint);
    capture.RecordGame(takenAt, path.datagram.source, path.endpoint.Destination(),
                       Direction::kClientToServer, inspected);
  }
  if (!capture.Close()) state.SkipWithError(capture.Reason());
}
BENCHMARK(BM_PerDatagramPath520WithCapture);

}  // namespace
}  // namespace tessard

BENCHMARK_MAIN();
