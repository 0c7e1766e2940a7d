// The utility library's checksums and tile-list routines on full-size
// inputs; the CRC beside zlib's on the same buffer.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cstdint>
#include <memory>
#include <random>
#include <vector>

#include "util/checksums.h"
#include "util/tiles.h"

namespace tessard {
namespace {

constexpr std::uint32_t kCrcBytes = 1u << 20;

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

void BM_Crc32OneMiB(benchmark::State& state) {
  const auto& buffer = CrcBuffer();
  CrcTable table;
  BuildCrcTable(table, 0);
  const auto reference = static_cast<std::uint32_t>(crc32(0, buffer.data(), kCrcBytes));
  if (Crc32(buffer.data(), table, kCrcBytes) != reference) {
    state.SkipWithError("Crc32 differs from zlib's crc32");
    return;
  }
  for (auto _ : state) benchmark::DoNotOptimize(Crc32(buffer.data(), table, kCrcBytes));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kCrcBytes);
}
BENCHMARK(BM_Crc32OneMiB);

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

void BM_TileListSize(benchmark::State& state) {
  const TileMap& map = FullMap();
  for (auto _ : state) benchmark::DoNotOptimize(TileListSize(map));
}
BENCHMARK(BM_TileListSize);

void BM_ListTiles(benchmark::State& state) {
  const TileMap& map = FullMap();
  std::vector<std::uint32_t> list(static_cast<std::size_t>(TileListSize(map)) / 4);
  for (auto _ : state) {
    ListTiles(map, list.data());
    benchmark::DoNotOptimize(list.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(list.size()));
}
BENCHMARK(BM_ListTiles);

}  // namespace
}  // namespace tessard

BENCHMARK_MAIN();
