// The utility library's checksums and tile-list routines on full-size
// inputs, each beside its reference measured in the same run: the CRC
// beside zlib's on the same buffer, the tile routines beside a plain
// row-major scan of the same map (the memory-bound floor). The ratios are
// printed after the table.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "util/checksums.h"
#include "util/tiles.h"

namespace tessard {
namespace {

constexpr std::uint32_t kCrcBytes = 1u << 20;
constexpr std::uint32_t kCrcSeed = 0x5A5A5A5A;

const std::vector<std::uint8_t>& CrcBuffer() {
  static const std::vector<std::uint8_t> buffer = [] {
    std::vector<std::uint8_t> bytes(kCrcBytes);
    std::mt19937 random(1);
    for (auto& b : bytes) b = static_cast<std::uint8_t>(random());
    return bytes;
  }();
  return buffer;
}

// Every cell holds a tile, a quarter of them values the list leaves out.
const TileMap& FullMap() {
  static const std::unique_ptr<TileMap> map = [] {
    auto filled = std::make_unique<TileMap>();
    std::mt19937 random(2);
    for (auto& cell : *filled) {
      cell =
          static_cast<std::uint8_t>(random() % 4 == 0 ? 191 + random() % 25 : 1 + random() % 190);
    }
    return filled;
  }();
  return *map;
}

bool Listed(std::uint8_t tile) {
  return (tile >= 1 && tile <= 190) || (tile >= 216 && tile <= 220);
}

// The floor: one pass in memory order that counts the listed cells.
std::int32_t ScanCount(const TileMap& map) {
  std::int32_t count = 0;
  for (const std::uint8_t tile : map) count += Listed(tile) ? 1 : 0;
  return count;
}

void BM_Crc32OneMiB(benchmark::State& state) {
  const auto& buffer = CrcBuffer();
  const auto seed = static_cast<std::uint32_t>(state.range(0));
  CrcTable table;
  BuildCrcTable(table, seed);
  // Seed 0 is zlib's CRC; any other seed is checked against the byte-wise
  // definition.
  std::uint32_t reference = ~0u;
  for (const std::uint8_t b : buffer) reference = table[(reference ^ b) & 0xFF] ^ (reference >> 8);
  reference = ~reference;
  if (seed == 0 && reference != static_cast<std::uint32_t>(crc32(0, buffer.data(), kCrcBytes))) {
    state.SkipWithError("the byte-wise CRC differs from zlib's crc32");
    return;
  }
  if (Crc32(buffer.data(), table, kCrcBytes) != reference) {
    state.SkipWithError("Crc32 differs from the byte-wise CRC");
    return;
  }
  for (auto _ : state) benchmark::DoNotOptimize(Crc32(buffer.data(), table, kCrcBytes));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kCrcBytes);
}
BENCHMARK(BM_Crc32OneMiB)->ArgName("seed")->Arg(0)->Arg(kCrcSeed);

void BM_ZlibCrc32OneMiB(benchmark::State& state) {
  const auto& buffer = CrcBuffer();
  for (auto _ : state) benchmark::DoNotOptimize(crc32(0, buffer.data(), kCrcBytes));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kCrcBytes);
}
BENCHMARK(BM_ZlibCrc32OneMiB);

void BM_MapChecksum(benchmark::State& state) {
  const TileMap& map = FullMap();
  std::uint32_t key = 0x12345678;
  for (auto _ : state) benchmark::DoNotOptimize(MapChecksum(key++, map));
}
BENCHMARK(BM_MapChecksum);

void BM_MapScanFloor(benchmark::State& state) {
  const TileMap& map = FullMap();
  for (auto _ : state) {
    benchmark::DoNotOptimize(map.data());
    benchmark::DoNotOptimize(ScanCount(map));
  }
}
BENCHMARK(BM_MapScanFloor);

void BM_TileListSize(benchmark::State& state) {
  const TileMap& map = FullMap();
  if (TileListSize(map) != 4 * ScanCount(map)) {
    state.SkipWithError("TileListSize differs from the scan's count");
    return;
  }
  for (auto _ : state) {
    benchmark::DoNotOptimize(map.data());
    benchmark::DoNotOptimize(TileListSize(map));
  }
}
BENCHMARK(BM_TileListSize);

void BM_ListTiles(benchmark::State& state) {
  const TileMap& map = FullMap();
  std::vector<std::uint32_t> expected;
  for (std::uint16_t x = 0; x < kTileMapSide; ++x) {
    for (std::uint16_t y = 0; y < kTileMapSide; ++y) {
      const std::uint8_t tile = map[TileIndex(x, y)];
      if (Listed(tile)) expected.push_back(PackTile(x, y, tile));
    }
  }
  std::vector<std::uint32_t> list(expected.size());
  ListTiles(map, list.data());
  if (list != expected) {
    state.SkipWithError("ListTiles differs from the column-major walk");
    return;
  }
  for (auto _ : state) {
    ListTiles(map, list.data());
    benchmark::DoNotOptimize(list.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(list.size()));
}
BENCHMARK(BM_ListTiles);

// The console table, then each routine's time against its reference's from
// the same run (the mean over repetitions where there are several). CPU
// time, not wall time: on a shared machine the wall time also counts the
// other processes' turns.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.error_occurred) continue;
      // With --benchmark_report_aggregates_only only the aggregates arrive.
      const bool mean = run.run_type == Run::RT_Aggregate && run.aggregate_name == "mean";
      if (run.run_type != Run::RT_Iteration && !mean) continue;
      Mean& sum = (mean ? aggregates_ : seconds_)[run.run_name.str()];
      sum.sum += run.GetAdjustedCPUTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
      ++sum.count;
    }
  }

  void PrintRatios() const {
    std::printf("\nRatios, measured in this run:\n");
    const std::string seed = "BM_Crc32OneMiB/seed:" + std::to_string(kCrcSeed);
    Print("Crc32 seed 0 throughput / zlib crc32", "BM_ZlibCrc32OneMiB", "BM_Crc32OneMiB/seed:0");
    Print("Crc32 seed 0x5A5A5A5A throughput / zlib crc32", "BM_ZlibCrc32OneMiB", seed);
    Print("TileListSize time / row-major scan", "BM_TileListSize", "BM_MapScanFloor");
    Print("ListTiles time / row-major scan", "BM_ListTiles", "BM_MapScanFloor");
  }

 private:
  struct Mean {
    double sum = 0;
    int count = 0;
  };

  void Print(const char* what, const std::string& numerator, const std::string& denominator) const {
    const double top = MeanSeconds(numerator);
    const double bottom = MeanSeconds(denominator);
    if (top <= 0 || bottom <= 0) return;
    const double ratio = top / bottom;
    std::printf("  %-48s %6.2f\n", what, ratio);
  }

  double MeanSeconds(const std::string& name) const {
    for (const auto* means : {&seconds_, &aggregates_}) {
      const auto found = means->find(name);
      if (found != means->end()) return found->second.sum / found->second.count;
    }
    return 0;
  }

  std::map<std::string, Mean> seconds_;
  std::map<std::string, Mean> aggregates_;
};

}  // namespace
}  // namespace tessard

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  tessard::RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.PrintRatios();
  benchmark::Shutdown();
  return 0;
}
