// The relay side by side with its peers in one run, on loopback: the
// minimal epoll relay batched (the floor) and one datagram at a time,
// socat (one process per pair) and the real tessard, with an earlier build
// of tessard beside it when one is given, each on fresh ports with a fake
// client and server.
//   - added one-way latency at 100 datagrams a second each way, 100 and 520
//     bytes, all of them and the direct path at once, the direct path's
//     percentile subtracted;
//   - the share delivered, and the CPU time per datagram carried, at 10,000
//     and 50,000 a second, client to server and each way at once (and
//     whether tessard's log holds every datagram);
//   - CPU time per datagram carried at 1,000 a second each way, all at
//     once, and tessard also with a capture; the least of three rounds.
// Then each figure over the floor's.
// Usage: relay_compare [--tessard PATH] [--before PATH] [--minimal PATH] [--socat PATH]
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
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

constexpr int kLatencyRate = 100;
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

// The share runs, in the order they are made.
struct ShareRun {
  const char* title;
  std::vector<Way> ways;
  int rate;
  double seconds;
};
const ShareRun kShareRuns[] = {
    {"10,000 datagrams/s client to server, 100 bytes, 5 s", {kUp}, 10000, 5},
    {"10,000 datagrams/s each way at once, 100 bytes, 5 s", {kUp, kDown}, 10000, 5},
    {"50,000 datagrams/s client to server, 100 bytes, 2 s", {kUp}, 50000, 2},
    {"50,000 datagrams/s each way at once, 100 bytes, 2 s", {kUp, kDown}, 50000, 2},
};
constexpr int kShareRunCount = 4;

struct Figures {
  double addedP50[2] = {};  // 100 and 520 bytes, both ways together
  double p99[2] = {};       // of the trip through the relay, not subtracted
  double share[kShareRunCount] = {};
  double shareCpuUs[kShareRunCount] = {};  // CPU per datagram carried in that run
  double cpuPerDatagramUs = 0;
  double cpuWithCaptureUs = 0;
};

// CPU time per datagram carried, in microseconds.
double PerDatagramUs(std::int64_t cpuNs, std::uint64_t carried) {
  return carried == 0 ? 0 : static_cast<double>(cpuNs) / 1e3 / static_cast<double>(carried);
}

bool MeasureLatency(const RelayPrograms& programs, const std::vector<RelayKind>& kinds,
                    std::size_t bytes, int sizeIndex, std::vector<Figures>& figures) {
  Lane direct;
  if (!direct.Open() || !direct.Connect(direct.ServerPort())) return false;
  std::vector<Route> routes(kinds.size());
  std::vector<Lane*> lanes = {&direct};
  for (std::size_t k = 0; k < kinds.size(); ++k) {
    if (!routes[k].Start(kinds[k], programs)) return false;
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
  const std::vector<double> directAll = BothWays(direct);
  for (std::size_t i = 0; i < lanes.size(); ++i) {
    const Lane& lane = *lanes[i];
    const auto& up = lane.flows[kUp].latencyMs;
    const auto& down = lane.flows[kDown].latencyMs;
    const std::uint64_t lost = lane.flows[kUp].sent + lane.flows[kDown].sent -
                               lane.flows[kUp].received - lane.flows[kDown].received;
    std::printf("  %-8s %10.3f / %-9.3f %10.3f / %-9.3f %10llu\n",
                i == 0 ? "direct" : Name(kinds[i - 1]), Percentile(up, 0.5), Percentile(down, 0.5),
                Percentile(up, 0.99), Percentile(down, 0.99),
                static_cast<unsigned long long>(lost));
    if (i == 0) continue;
    const std::vector<double> all = BothWays(lane);
    figures[i - 1].addedP50[sizeIndex] = Percentile(all, 0.5) - Percentile(directAll, 0.5);
    // The difference of two tails is mostly the direct path's noise; the
    // relay's own tail is the figure that means something.
    figures[i - 1].p99[sizeIndex] = Percentile(all, 0.99);
  }
  std::printf("  both ways:");
  for (std::size_t k = 0; k < kinds.size(); ++k) {
    std::printf("  %s added p50 %.3f, p99 %.3f ms", Name(kinds[k]), figures[k].addedP50[sizeIndex],
                figures[k].p99[sizeIndex]);
  }
  std::printf("\n");
  return true;
}

// Delivered share at rate each way in ways; for tessard also the log's
// count of dumps beside what it carried.
bool MeasureShare(const RelayPrograms& programs, RelayKind kind, const ShareRun& run, double& share,
                  double& cpuUs) {
  const std::vector<Way>& ways = run.ways;
  Route route;
  if (!route.Start(kind, programs)) return false;
  Lane& lane = *route.lane;
  Receiver receiver({&lane});
  const std::int64_t cpuBefore = route.relay->CpuNanoseconds();
  const double offered = SendPaced({&lane}, ways, run.rate, run.seconds, 100);
  WaitForQuiet({&lane}, 300, 1500);
  const std::int64_t cpu = route.relay->CpuNanoseconds() - cpuBefore;
  receiver.Stop();
  const bool stopped = route.relay->Stop();

  std::uint64_t sent = 0;
  std::uint64_t received = 0;
  for (const Way way : ways) {
    sent += lane.flows[way].sent;
    received += lane.flows[way].received;
  }
  share = sent == 0 ? 0 : static_cast<double>(received) / static_cast<double>(sent);
  cpuUs = PerDatagramUs(cpu, received);
  std::printf(
      "  %-8s offered %7.0f/s a way  delivered %8llu of %8llu  share %.4f  lost %6.2f %%"
      "  CPU %5.2f us a datagram  peers dropped %llu",
      Name(kind), offered, static_cast<unsigned long long>(received),
      static_cast<unsigned long long>(sent), share, 100 * (1 - share), cpuUs,
      static_cast<unsigned long long>(lane.PeerDrops()));
  if (IsTessard(kind)) {
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
                stopped ? "" : "; it did not stop by itself");
  }
  std::printf("\n");
  return true;
}

// All at once (each tessard twice, once with a capture), so that the
// other processes' load and the host's steal weigh on each the same. One
// round: each entry's CPU time per datagram appended to its vector.
struct CpuEntry {
  RelayKind kind;
  const char* proxy;
};

std::vector<CpuEntry> CpuEntries(const std::vector<RelayKind>& kinds) {
  std::vector<CpuEntry> entries;
  for (const RelayKind kind : kinds) entries.push_back({kind, ""});
  for (const RelayKind kind : kinds) {
    if (IsTessard(kind)) entries.push_back({kind, "Capture=game.pcapng\r\n"});
  }
  return entries;
}

bool MeasureCpuRound(const RelayPrograms& programs, const std::vector<CpuEntry>& entries, int round,
                     std::vector<std::vector<double>>& perDatagramUs) {
  const std::size_t count = entries.size();
  std::vector<Route> routes(count);
  std::vector<Lane*> lanes;
  for (std::size_t i = 0; i < count; ++i) {
    if (!routes[i].Start(entries[i].kind, programs, entries[i].proxy)) return false;
    lanes.push_back(routes[i].lane.get());
  }
  Receiver receiver(lanes);
  std::vector<std::int64_t> cpuBefore(count), ticksBefore(count);
  for (std::size_t i = 0; i < count; ++i) {
    cpuBefore[i] = routes[i].relay->CpuNanoseconds();
    ticksBefore[i] = routes[i].relay->CpuTicks();
  }
  SendPaced(lanes, {kUp, kDown}, kCpuRate, kCpuSeconds, 100);
  WaitForQuiet(lanes, 300, 1500);
  std::printf("  round %d\n", round + 1);
  for (std::size_t i = 0; i < count; ++i) {
    const std::int64_t cpu = routes[i].relay->CpuNanoseconds() - cpuBefore[i];
    const std::int64_t ticks = routes[i].relay->CpuTicks() - ticksBefore[i];
    const Lane& lane = *lanes[i];
    const std::uint64_t carried = lane.flows[kUp].received + lane.flows[kDown].received;
    const double us = PerDatagramUs(cpu, carried);
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
// at once, and other work only ever adds to it: the least of a few rounds.
bool MeasureCpu(const RelayPrograms& programs, const std::vector<RelayKind>& kinds,
                std::vector<Figures>& figures) {
  std::printf(
      "\nCPU per datagram carried, %d datagrams/s each way, 100 bytes, %.0f s, all at once, "
      "%d rounds\n",
      kCpuRate, kCpuSeconds, kCpuRounds);
  const std::vector<CpuEntry> entries = CpuEntries(kinds);
  std::vector<std::vector<double>> perDatagramUs(entries.size());
  for (int round = 0; round < kCpuRounds; ++round) {
    if (!MeasureCpuRound(programs, entries, round, perDatagramUs)) return false;
  }
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const auto k = static_cast<std::size_t>(std::find(kinds.begin(), kinds.end(), entries[i].kind) -
                                            kinds.begin());
    double& figure =
        *entries[i].proxy == '\0' ? figures[k].cpuPerDatagramUs : figures[k].cpuWithCaptureUs;
    figure = *std::min_element(perDatagramUs[i].begin(), perDatagramUs[i].end());
  }
  return true;
}

double Ratio(double value, double floor) { return floor == 0 ? 0 : value / floor; }

// One row of the summary: each relay's figure, then each over the floor's
// (the first kind); target: what tessard / floor must be.
void PrintRow(const char* what, const std::vector<Figures>& figures,
              const std::function<double(const Figures&)>& figure, const char* target = "") {
  std::printf("  %-46s", what);
  for (const Figures& relay : figures) std::printf(" %9.4g", figure(relay));
  std::printf("  ");
  for (std::size_t k = 1; k < figures.size(); ++k) {
    std::printf(" %8.2f", Ratio(figure(figures[k]), figure(figures[0])));
  }
  std::printf("  %s\n", target);
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
    if (std::strcmp(argv[i], "--before") == 0) path = &programs.tessardBefore;
    if (std::strcmp(argv[i], "--minimal") == 0) path = &programs.minimal;
    if (std::strcmp(argv[i], "--socat") == 0) path = &programs.socat;
    if (path == nullptr || i + 1 == argc) {
      std::fprintf(stderr,
                   "usage: relay_compare [--tessard PATH] [--before PATH] [--minimal PATH] "
                   "[--socat PATH]\n");
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
  std::printf("relay_compare: tessard %s\n", programs.tessard.c_str());
  if (!programs.tessardBefore.empty()) {
    std::printf("  before: %s\n", programs.tessardBefore.c_str());
  }
  std::printf("load average at the start: %s\n", LoadAverage().c_str());

  std::vector<RelayKind> kinds = {RelayKind::kFloor, RelayKind::kMinimal, RelayKind::kSocat,
                                  RelayKind::kTessard};
  if (!programs.tessardBefore.empty()) kinds.push_back(RelayKind::kTessardBefore);
  std::vector<Figures> figures(kinds.size());
  const std::size_t sizes[] = {100, 520};
  for (int s = 0; s < 2; ++s) {
    if (!MeasureLatency(programs, kinds, sizes[s], s, figures)) return 1;
  }
  for (int run = 0; run < kShareRunCount; ++run) {
    std::printf("\nDelivered, %s\n", kShareRuns[run].title);
    for (std::size_t k = 0; k < kinds.size(); ++k) {
      if (!MeasureShare(programs, kinds[k], kShareRuns[run], figures[k].share[run],
                        figures[k].shareCpuUs[run])) {
        return 1;
      }
    }
  }
  if (!MeasureCpu(programs, kinds, figures)) return 1;

  std::printf("\nSummary %40s", "");
  for (const RelayKind kind : kinds) std::printf(" %9s", Name(kind));
  std::printf("  ");
  for (std::size_t k = 1; k < kinds.size(); ++k) std::printf(" %8s", Name(kinds[k]));
  std::printf("  target for\n%*s(each over the floor)  tessard/floor\n",
              static_cast<int>(57 + 10 * kinds.size()), "");
  PrintRow(
      "added latency p50, 100 bytes (ms)", figures, [](const Figures& f) { return f.addedP50[0]; },
      "at most 1.5");
  PrintRow(
      "added latency p50, 520 bytes (ms)", figures, [](const Figures& f) { return f.addedP50[1]; },
      "at most 1.5");
  PrintRow("one-way latency p99, 100 bytes (ms)", figures,
           [](const Figures& f) { return f.p99[0]; });
  PrintRow("one-way latency p99, 520 bytes (ms)", figures,
           [](const Figures& f) { return f.p99[1]; });
  const char* shareNames[] = {"10,000/s client to server", "10,000/s each way",
                              "50,000/s client to server", "50,000/s each way"};
  for (int run = 0; run < kShareRunCount; ++run) {
    const std::string shareRow = std::string("delivered share, ") + shareNames[run];
    PrintRow(
        shareRow.c_str(), figures, [run](const Figures& f) { return f.share[run]; },
        "at least 0.99, lost at most 0.5 %");
  }
  for (int run = 0; run < kShareRunCount; ++run) {
    const std::string cpuRow = std::string("CPU us/datagram, ") + shareNames[run];
    PrintRow(
        cpuRow.c_str(), figures, [run](const Figures& f) { return f.shareCpuUs[run]; },
        "at most 1.5");
  }
  PrintRow(
      "CPU us/datagram, 1,000/s each way, least", figures,
      [](const Figures& f) { return f.cpuPerDatagramUs; }, "at most 1.5");
  PrintRow(
      "  with a capture (the others without)", figures,
      [](const Figures& f) {
        return f.cpuWithCaptureUs != 0 ? f.cpuWithCaptureUs : f.cpuPerDatagramUs;
      },
      "at most 2");
  std::printf("load average at the end: %s\n", LoadAverage().c_str());
  return 0;
}
