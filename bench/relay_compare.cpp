// The relay side by side with its peers in one run, on loopback: the
// minimal epoll relay (the floor), socat (one process per pair) and the
// real tessard, each on fresh ports with a fake client and server.
//   - added one-way latency at 40 datagrams a second each way, 100 and 520
//     bytes, all three and the direct path at once, the direct path's
//     percentile subtracted;
//   - the share delivered at 10,000 a second for 5 s, client to server and
//     each way at once (and whether tessard's log holds every datagram),
//     and at 50,000 a second client to server for 2 s;
//   - CPU time per datagram carried at 1,000 a second each way, all at
//     once, and tessard also with a capture; the median of three rounds.
// Then tessard's figure over the minimal relay's for each, socat's beside.
// Usage: relay_compare [--tessard PATH] [--minimal PATH] [--socat PATH]
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "bench/fake_peers.h"
#include "bench/relay_contenders.h"
#include "testing/loopback.h"
#include "testing/relay_harness.h"
#include "testing/tshark.h"

namespace tessard::bench {
namespace {

constexpr RelayKind kKinds[] = {RelayKind::kMinimal, RelayKind::kSocat, RelayKind::kTessard};
constexpr int kLatencyRate = 40;
constexpr int kLatencySeconds = 10;
constexpr int kCpuRate = 1000;
constexpr double kCpuSeconds = 5;
constexpr int kCpuRounds = 3;

std::string LoadAverage() {
  std::ifstream file("/proc/loadavg");
  std::string one, five, fifteen;
  file >> one >> five >> fifteen;
  return one + " " + five + " " + fifteen;
}

double Percentile(std::vector<double> values, double fraction) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  return values[static_cast<std::size_t>(fraction * static_cast<double>(values.size() - 1))];
}

std::vector<double> BothWays(const Lane& lane) {
  std::vector<double> all = lane.flows[kUp].latencyMs;
  all.insert(all.end(), lane.flows[kDown].latencyMs.begin(), lane.flows[kDown].latencyMs.end());
  return all;
}

// Lines of the log that open a datagram's dump the given way.
std::uint64_t DumpBlocks(const std::string& log, const char* opening) {
  std::uint64_t count = 0;
  std::istringstream lines(log);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.rfind(opening, 0) == 0) ++count;
  }
  return count;
}

// A relay with its lane, connected: started on fresh ports until it
// relays, a few times at most (another program may take a free port).
struct Route {
  std::unique_ptr<Lane> lane;
  std::unique_ptr<Contender> relay;

  bool Start(RelayKind kind, const RelayPrograms& programs, const std::string& extraProxy = "") {
    for (int attempt = 0; attempt < 5; ++attempt) {
      lane = std::make_unique<Lane>();
      relay = std::make_unique<Contender>();
      if (lane->Open() && relay->Start(kind, programs, lane->ServerPort(), extraProxy) &&
          lane->Connect(relay->gamePort)) {
        return true;
      }
      std::fprintf(stderr, "relay_compare: %s did not relay (attempt %d): %s\n", Name(kind),
                   attempt + 1, relay->Errors().c_str());
    }
    return false;
  }
};

struct Figures {
  double addedP50[2] = {};  // 100 and 520 bytes, both ways together
  double p99[2] = {};       // of the trip through the relay, not subtracted
  double shareUp10k = 0;
  double shareBoth10k = 0;
  double shareUp50k = 0;
  double cpuPerDatagramUs = 0;
  double cpuWithCaptureUs = 0;
};

bool MeasureLatency(const RelayPrograms& programs, std::size_t bytes, int sizeIndex,
                    Figures (&figures)[3]) {
  Lane direct;
  if (!direct.Open() || !direct.Connect(direct.ServerPort())) return false;
  Route routes[3];
  std::vector<Lane*> lanes = {&direct};
  for (int k = 0; k < 3; ++k) {
    if (!routes[k].Start(kKinds[k], programs)) return false;
    lanes.push_back(routes[k].lane.get());
  }
  for (Lane* lane : lanes) {
    for (Flow& flow : lane->flows) {
      flow.keepLatencies = true;
      flow.latencyMs.reserve(kLatencyRate * kLatencySeconds);
    }
  }
  Receiver receiver(lanes);
  SendSpread(lanes, kLatencyRate, kLatencySeconds, bytes);
  WaitForQuiet(lanes, 300, 3000);
  receiver.Stop();
  for (Route& route : routes) route.relay->Stop();

  std::printf("\nOne-way latency, %d datagrams/s each way, %zu bytes, %d s, all at once\n",
              kLatencyRate, bytes, kLatencySeconds);
  std::printf("  %-8s %22s %22s %10s\n", "", "p50 c2s / s2c (ms)", "p99 c2s / s2c (ms)", "lost");
  const char* names[] = {"direct", "minimal", "socat", "tessard"};
  const std::vector<double> directAll = BothWays(direct);
  for (std::size_t i = 0; i < lanes.size(); ++i) {
    const Lane& lane = *lanes[i];
    const auto& up = lane.flows[kUp].latencyMs;
    const auto& down = lane.flows[kDown].latencyMs;
    const std::uint64_t lost = lane.flows[kUp].sent + lane.flows[kDown].sent -
                               lane.flows[kUp].received - lane.flows[kDown].received;
    std::printf("  %-8s %10.3f / %-9.3f %10.3f / %-9.3f %10llu\n", names[i], Percentile(up, 0.5),
                Percentile(down, 0.5), Percentile(up, 0.99), Percentile(down, 0.99),
                static_cast<unsigned long long>(lost));
    if (i == 0) continue;
    const std::vector<double> all = BothWays(lane);
    figures[i - 1].addedP50[sizeIndex] = Percentile(all, 0.5) - Percentile(directAll, 0.5);
    // The difference of two tails is mostly the direct path's noise; the
    // relay's own tail is the figure that means something.
    figures[i - 1].p99[sizeIndex] = Percentile(all, 0.99);
  }
  std::printf("  both ways:");
  for (int k = 0; k < 3; ++k) {
    std::printf("  %s added p50 %.3f, p99 %.3f ms", Name(kKinds[k]), figures[k].addedP50[sizeIndex],
                figures[k].p99[sizeIndex]);
  }
  std::printf("\n");
  return true;
}

// Delivered share at rate each way in ways; for tessard also the log's
// count of dumps beside what it carried.
bool MeasureShare(const RelayPrograms& programs, RelayKind kind, const std::vector<Way>& ways,
                  int rate, double seconds, double& share) {
  Route route;
  if (!route.Start(kind, programs)) return false;
  Lane& lane = *route.lane;
  Receiver receiver({&lane});
  const double offered = SendPaced({&lane}, ways, rate, seconds, 100);
  WaitForQuiet({&lane}, 300, 1500);
  receiver.Stop();
  const bool stopped = route.relay->Stop();

  std::uint64_t sent = 0;
  std::uint64_t received = 0;
  for (const Way way : ways) {
    sent += lane.flows[way].sent;
    received += lane.flows[way].received;
  }
  share = sent == 0 ? 0 : static_cast<double>(received) / static_cast<double>(sent);
  std::printf(
      "  %-8s offered %7.0f/s a way  delivered %8llu of %8llu  share %.4f  lost %6.2f %%"
      "  peers dropped %llu",
      Name(kind), offered, static_cast<unsigned long long>(received),
      static_cast<unsigned long long>(sent), share, 100 * (1 - share),
      static_cast<unsigned long long>(lane.PeerDrops()));
  if (kind == RelayKind::kTessard) {
    const std::string log = route.relay->Log();
    const std::uint64_t up = DumpBlocks(log, "c2s 0000");
    const std::uint64_t down = DumpBlocks(log, "s2c 0000");
    // The greetings travelled the game pair too, and are logged.
    const std::uint64_t carriedUp = lane.flows[kUp].received + lane.GreetingsDelivered();
    const std::uint64_t carriedDown = lane.flows[kDown].received;
    std::printf("\n           log: c2s %llu of %llu carried, s2c %llu of %llu carried%s%s",
                static_cast<unsigned long long>(up), static_cast<unsigned long long>(carriedUp),
                static_cast<unsigned long long>(down), static_cast<unsigned long long>(carriedDown),
                up == carriedUp && down == carriedDown ? " (every datagram)" : " (MISMATCH)",
                stopped ? "" : "; tessard did not stop by itself");
  }
  std::printf("\n");
  return true;
}

// All four at once (tessard twice, once with a capture), so that the
// other processes' load and the host's steal weigh on each the same. One
// round: each relay's CPU time per datagram appended to its vector.
bool MeasureCpuRound(const RelayPrograms& programs, int round,
                     std::vector<double> (&perDatagramUs)[4]) {
  struct Entry {
    RelayKind kind;
    const char* proxy;
  };
  const Entry entries[] = {
      {RelayKind::kMinimal, ""},
      {RelayKind::kSocat, ""},
      {RelayKind::kTessard, ""},
      {RelayKind::kTessard, "Capture=game.pcapng\r\n"},
  };
  Route routes[4];
  std::vector<Lane*> lanes;
  for (int i = 0; i < 4; ++i) {
    if (!routes[i].Start(entries[i].kind, programs, entries[i].proxy)) return false;
    lanes.push_back(routes[i].lane.get());
  }
  Receiver receiver(lanes);
  std::int64_t cpuBefore[4];
  std::int64_t ticksBefore[4];
  for (int i = 0; i < 4; ++i) {
    cpuBefore[i] = routes[i].relay->CpuNanoseconds();
    ticksBefore[i] = routes[i].relay->CpuTicks();
  }
  SendPaced(lanes, {kUp, kDown}, kCpuRate, kCpuSeconds, 100);
  WaitForQuiet(lanes, 300, 1500);
  std::printf("  round %d\n", round + 1);
  for (int i = 0; i < 4; ++i) {
    const std::int64_t cpu = routes[i].relay->CpuNanoseconds() - cpuBefore[i];
    const std::int64_t ticks = routes[i].relay->CpuTicks() - ticksBefore[i];
    const Lane& lane = *lanes[static_cast<std::size_t>(i)];
    const std::uint64_t carried = lane.flows[kUp].received + lane.flows[kDown].received;
    const double us =
        carried == 0 ? 0 : static_cast<double>(cpu) / 1e3 / static_cast<double>(carried);
    perDatagramUs[i].push_back(us);
    std::printf(
        "  %-8s%s CPU %7.1f ms (/proc stat: %lld ticks)  carried %6llu of %6llu  "
        "%7.2f us a datagram\n",
        Name(entries[i].kind), *entries[i].proxy == '\0' ? "        " : " capture",
        static_cast<double>(cpu) / 1e6, static_cast<long long>(ticks),
        static_cast<unsigned long long>(carried),
        static_cast<unsigned long long>(lane.flows[kUp].sent + lane.flows[kDown].sent), us);
  }
  receiver.Stop();
  for (Route& route : routes) route.relay->Stop();
  return true;
}

// The CPU time of a few thousand datagrams on a shared virtual machine
// varies by a factor of two or more from round to round, even with all
// four at once: the median of a few rounds.
bool MeasureCpu(const RelayPrograms& programs, Figures (&figures)[3]) {
  std::printf(
      "\nCPU per datagram carried, %d datagrams/s each way, 100 bytes, %.0f s, all at once, "
      "%d rounds\n",
      kCpuRate, kCpuSeconds, kCpuRounds);
  std::vector<double> perDatagramUs[4];
  for (int round = 0; round < kCpuRounds; ++round) {
    if (!MeasureCpuRound(programs, round, perDatagramUs)) return false;
  }
  figures[0].cpuPerDatagramUs = Percentile(perDatagramUs[0], 0.5);
  figures[1].cpuPerDatagramUs = Percentile(perDatagramUs[1], 0.5);
  figures[2].cpuPerDatagramUs = Percentile(perDatagramUs[2], 0.5);
  figures[2].cpuWithCaptureUs = Percentile(perDatagramUs[3], 0.5);
  return true;
}

double Ratio(double value, double floor) { return floor == 0 ? 0 : value / floor; }

// target: what tessard / minimal must be, where the issue sets a bound.
void PrintRatio(const char* what, double minimal, double socat, double tessard,
                const char* target = "") {
  std::printf("  %-44s %10.4g %10.4g %10.4g   %8.2f %8.2f  %s\n", what, minimal, socat, tessard,
              Ratio(tessard, minimal), Ratio(socat, minimal), target);
}

}  // namespace
}  // namespace tessard::bench

int main(int argc, char** argv) {
  using namespace tessard::bench;
  RelayPrograms programs;
  programs.minimal = MINIMAL_RELAY_EXECUTABLE;
  programs.tessard = tessard::testing::RelayExecutable();
  for (int i = 1; i < argc; i += 2) {
    std::string* path = nullptr;
    if (std::strcmp(argv[i], "--tessard") == 0) path = &programs.tessard;
    if (std::strcmp(argv[i], "--minimal") == 0) path = &programs.minimal;
    if (std::strcmp(argv[i], "--socat") == 0) path = &programs.socat;
    if (path == nullptr || i + 1 == argc) {
      std::fprintf(stderr,
                   "usage: relay_compare [--tessard PATH] [--minimal PATH] [--socat PATH]\n");
      return 2;
    }
    *path = argv[i + 1];
  }
  // A bare name is looked up on PATH, as a shell would.
  if (programs.socat.find('/') == std::string::npos) {
    const std::string found = tessard::testing::FindOnPath(programs.socat);
    if (found.empty()) {
      std::fprintf(stderr, "relay_compare: %s is not on PATH (Debian package socat)\n",
                   programs.socat.c_str());
      return 2;
    }
    programs.socat = found;
  }
  tessard::testing::SocketLibraryScope socketLibrary;
  std::printf("relay_compare: tessard %s\nload average at the start: %s\n",
              programs.tessard.c_str(), LoadAverage().c_str());

  Figures figures[3];
  const std::size_t sizes[] = {100, 520};
  for (int s = 0; s < 2; ++s) {
    if (!MeasureLatency(programs, sizes[s], s, figures)) return 1;
  }

  struct ShareRun {
    const char* title;
    std::vector<Way> ways;
    int rate;
    double seconds;
    double Figures::*figure;
  };
  const ShareRun shareRuns[] = {
      {"10,000 datagrams/s client to server, 100 bytes, 5 s",
       {kUp},
       10000,
       5,
       &Figures::shareUp10k},
      {"10,000 datagrams/s each way at once, 100 bytes, 5 s",
       {kUp, kDown},
       10000,
       5,
       &Figures::shareBoth10k},
      {"50,000 datagrams/s client to server, 100 bytes, 2 s",
       {kUp},
       50000,
       2,
       &Figures::shareUp50k},
  };
  for (const ShareRun& run : shareRuns) {
    std::printf("\nDelivered, %s\n", run.title);
    for (int k = 0; k < 3; ++k) {
      if (!MeasureShare(programs, kKinds[k], run.ways, run.rate, run.seconds,
                        figures[k].*run.figure)) {
        return 1;
      }
    }
  }

  if (!MeasureCpu(programs, figures)) return 1;

  const Figures& minimal = figures[0];
  const Figures& socat = figures[1];
  const Figures& relay = figures[2];
  std::printf(
      "\nSummary                                          minimal      socat    tessard"
      "   tessard/  socat/  target for\n"
      "                                                                                "
      "    minimal  minimal  tessard/minimal\n");
  PrintRatio("added latency p50, 100 bytes (ms)", minimal.addedP50[0], socat.addedP50[0],
             relay.addedP50[0], "at most 1.5");
  PrintRatio("added latency p50, 520 bytes (ms)", minimal.addedP50[1], socat.addedP50[1],
             relay.addedP50[1], "at most 1.5");
  PrintRatio("one-way latency p99, 100 bytes (ms)", minimal.p99[0], socat.p99[0], relay.p99[0]);
  PrintRatio("one-way latency p99, 520 bytes (ms)", minimal.p99[1], socat.p99[1], relay.p99[1]);
  PrintRatio("delivered share, 10,000/s client to server", minimal.shareUp10k, socat.shareUp10k,
             relay.shareUp10k, "at least 0.99, lost at most 0.5 %");
  PrintRatio("delivered share, 10,000/s each way", minimal.shareBoth10k, socat.shareBoth10k,
             relay.shareBoth10k, "at least 0.99, lost at most 0.5 %");
  PrintRatio("delivered share, 50,000/s client to server", minimal.shareUp50k, socat.shareUp50k,
             relay.shareUp50k);
  PrintRatio("CPU per datagram, 1,000/s each way, median (us)", minimal.cpuPerDatagramUs,
             socat.cpuPerDatagramUs, relay.cpuPerDatagramUs);
  PrintRatio("  tessard with a capture (us)", minimal.cpuPerDatagramUs, socat.cpuPerDatagramUs,
             relay.cpuWithCaptureUs);
  std::printf("load average at the end: %s\n", LoadAverage().c_str());
  return 0;
}
