// Added one-way latency of the relay: timestamped datagrams at a steady
// rate both ways, once straight between the fake client and server and
// once through the real tessard, with p50, p99, max and loss for each.
// Usage: relay_latency [seconds] [datagrams per second each way]
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "testing/loopback.h"
#include "testing/relay_harness.h"

namespace tessard {
namespace {

using Clock = std::chrono::steady_clock;
constexpr std::size_t kPayloadBytes = 200;

struct Stream {
  std::vector<double> latenciesMs;
  int sent = 0;
};

struct Route {
  UdpEndpoint* from;
  UdpEndpoint* to;
  std::uint16_t port;  // where from sends
  Stream stream;
};

std::string Stamped(std::int64_t nanoseconds) {
  std::string bytes(kPayloadBytes, '\x5A');
  std::memcpy(bytes.data(), &nanoseconds, sizeof nanoseconds);
  return bytes;
}

std::int64_t NowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch())
      .count();
}

void Drain(Route& route) {
  while (auto datagram = route.to->Receive()) {
    const std::int64_t now = NowNs();
    if (datagram->length != static_cast<std::int32_t>(kPayloadBytes)) continue;  // a probe
    std::int64_t sentAt = 0;
    std::memcpy(&sentAt, datagram->bytes.get(), sizeof sentAt);
    route.stream.latenciesMs.push_back(static_cast<double>(now - sentAt) / 1e6);
  }
}

// Both routes at rate datagrams a second each, the second half a period
// after the first, for the given time; then a second to collect stragglers.
void Measure(testing::RelayHarness& peers, Route& up, Route& down, int seconds, int rate) {
  const auto period = std::chrono::nanoseconds(1000000000 / rate);
  const auto start = Clock::now();
  const int count = seconds * rate;
  for (int i = 0; i < count; ++i) {
    for (Route* route : {&up, &down}) {
      const auto due = start + period * i + (route == &down ? period / 2 : period * 0);
      while (Clock::now() < due) {
        Drain(up);
        Drain(down);
        std::this_thread::sleep_for(std::chrono::microseconds(50));
      }
      peers.SendToRelay(*route->from, route->port, Stamped(NowNs()));
      ++route->stream.sent;
    }
  }
  const auto end = Clock::now() + std::chrono::seconds(1);
  while (Clock::now() < end) {
    Drain(up);
    Drain(down);
    std::this_thread::sleep_for(std::chrono::microseconds(50));
  }
}

double Percentile(std::vector<double> values, double fraction) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const auto at = static_cast<std::size_t>(fraction * static_cast<double>(values.size() - 1));
  return values[at];
}

struct Summary {
  double p50, p99, max;
  int lost;
};

Summary Summarize(const Stream& stream) {
  return {Percentile(stream.latenciesMs, 0.50), Percentile(stream.latenciesMs, 0.99),
          Percentile(stream.latenciesMs, 1.0),
          stream.sent - static_cast<int>(stream.latenciesMs.size())};
}

void Print(const char* name, const Summary& summary, int sent) {
  std::printf("%-22s p50 %7.3f ms  p99 %7.3f ms  max %7.3f ms  lost %d of %d\n", name, summary.p50,
              summary.p99, summary.max, summary.lost, sent);
}

}  // namespace
}  // namespace tessard

int main(int argc, char** argv) {
  using namespace tessard;
  const int seconds = argc > 1 ? std::atoi(argv[1]) : 30;
  const int rate = argc > 2 ? std::atoi(argv[2]) : 40;
  if (seconds <= 0 || rate <= 0 || rate > 1000) {
    std::fprintf(stderr, "usage: relay_latency [seconds] [datagrams per second each way]\n");
    return 2;
  }
  testing::RelayHarness peers;

  Route directUp{&peers.clientGame, &peers.serverGame, peers.serverPort, {}};
  Route directDown{&peers.serverGame, &peers.clientGame, peers.clientGame.LocalPort(), {}};
  Measure(peers, directUp, directDown, seconds, rate);

  if (!peers.StartRouted()) {
    std::fprintf(stderr, "relay_latency: tessard did not start relaying\n");
    return 1;
  }
  Route relayUp{&peers.clientGame, &peers.serverGame, peers.relayPort, {}};
  Route relayDown{&peers.serverGame, &peers.clientGame, peers.relayPort, {}};
  // The relay learns the client from its first datagram.
  peers.SendToRelay(peers.clientGame, peers.relayPort, "hello");
  testing::ReceiveWithin(peers.serverGame, testing::kDeliveryTimeoutMs);
  Measure(peers, relayUp, relayDown, seconds, rate);
  peers.StopByKey();

  std::printf("%d s at %d datagrams/s each way, %zu-byte datagrams\n", seconds, rate,
              kPayloadBytes);
  const Summary summaries[] = {Summarize(directUp.stream), Summarize(directDown.stream),
                               Summarize(relayUp.stream), Summarize(relayDown.stream)};
  Print("direct client->server", summaries[0], directUp.stream.sent);
  Print("direct server->client", summaries[1], directDown.stream.sent);
  Print("relay  client->server", summaries[2], relayUp.stream.sent);
  Print("relay  server->client", summaries[3], relayDown.stream.sent);
  for (int way = 0; way < 2; ++way) {
    const Summary& direct = summaries[way];
    const Summary& relayed = summaries[way + 2];
    std::printf("added %s           p50 %7.3f ms  p99 %7.3f ms  max %7.3f ms\n",
                way == 0 ? "client->server" : "server->client", relayed.p50 - direct.p50,
                relayed.p99 - direct.p99, relayed.max - direct.max);
  }
  return summaries[2].lost + summaries[3].lost == 0 ? 0 : 1;
}
