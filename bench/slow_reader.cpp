// The relay with its log or its capture on a FIFO whose reader takes 4 KiB
// every 50 ms, while the client sends 500 datagrams of 520 bytes a second:
// how many are carried, the latest one's delay, what standard error says
// and the exit status. Linux only (the fake peers use epoll).
// Usage: slow_reader [log|capture]...   (both when none is named)
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <string>
#include <thread>

#include "bench/fake_peers.h"
#include "testing/relay_harness.h"

namespace tessard::bench {
namespace {

constexpr int kRate = 500;
constexpr int kDatagrams = 2000;
constexpr std::size_t kBytes = 520;

bool Measure(const std::string& output) {
  testing::RelayHarness relay;
  const std::string fifo = (relay.directory / "output.fifo").string();
  if (mkfifo(fifo.c_str(), 0600) != 0) return false;
  const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (reader == -1) return false;
  std::atomic<bool> stop{false};
  std::thread slowReader([&] {
    char chunk[4096];
    while (!stop) {
      [[maybe_unused]] const ssize_t got = read(reader, chunk, sizeof(chunk));
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  });

  Lane lane;
  const std::string key = output == "log" ? "Log=output.fifo\r\n" : "Capture=output.fifo\r\n";
  const bool started =
      lane.Open() &&
      relay.Start("[Proxy]\r\nPort=" + std::to_string(relay.relayPort) + "\r\n" + key +
                  "[Server]\r\nIP=127.0.0.1\r\nPort=" + std::to_string(lane.ServerPort()) +
                  "\r\n") &&
      lane.Connect(relay.relayPort);
  if (started) {
    lane.flows[kUp].keepLatencies = true;
    Receiver receiver({&lane});
    SendPaced({&lane}, {kUp}, kRate, static_cast<double>(kDatagrams) / kRate, kBytes);
    WaitForQuiet({&lane}, 1000, 10000);
    receiver.Stop();
  }
  const int status = started ? relay.StopByKey() : -1;
  stop = true;
  slowReader.join();
  close(reader);

  const auto& latencies = lane.flows[kUp].latencyMs;
  const double latest =
      latencies.empty() ? 0 : *std::max_element(latencies.begin(), latencies.end());
  std::printf("%-8s carried %llu of %llu, latest %.3f s, exit status %d, standard error:\n%s\n",
              output.c_str(), static_cast<unsigned long long>(lane.flows[kUp].received.load()),
              static_cast<unsigned long long>(lane.flows[kUp].sent), latest / 1000, status,
              relay.Errors().c_str());
  return started;
}

}  // namespace
}  // namespace tessard::bench

int main(int argc, char** argv) {
  tessard::testing::SocketLibraryScope sockets;
  bool measured = true;
  if (argc < 2) {
    measured = tessard::bench::Measure("log") && tessard::bench::Measure("capture");
  }
  for (int i = 1; i < argc; ++i) measured = tessard::bench::Measure(argv[i]) && measured;
  return measured ? 0 : 1;
}
