#include "util/tiles.h"

#include <array>
#include <cstring>

#include "util/byte_readers.h"

namespace tessard {
namespace {

// Written without branches so that loops over cells vectorise and
// mispredict nothing on maps of mixed tiles.
constexpr std::uint32_t IsListed(std::uint8_t tile) {
  return static_cast<std::uint32_t>(static_cast<std::uint8_t>(tile - 1) < 190) |
         static_cast<std::uint32_t>(static_cast<std::uint8_t>(tile - 216) < 5);
}

constexpr std::array<std::uint8_t, 256> MakeListed() {
  std::array<std::uint8_t, 256> listed{};
  for (int tile = 0; tile < 256; ++tile) listed[tile] = IsListed(static_cast<std::uint8_t>(tile));
  return listed;
}

constexpr std::array<std::uint8_t, 256> kListed = MakeListed();

// ListTiles reads the map in strips this many columns wide. A column is
// 1024 cells 1024 bytes apart, each in its own cache line, and the lines
// of one column fall into a few cache sets only: walking the map column by
// column misses the cache at nearly every cell. A strip's rows are read in
// memory order instead and turned into columns in a small buffer.
constexpr std::uint32_t kStripColumns = 32;
// A strip column in the buffer is padded so that the columns' lines do not
// share cache sets.
constexpr std::uint32_t kStripStride = kTileMapSide + 64;

}  // namespace

TileWord PackTile(std::uint16_t x, std::uint16_t y, std::uint8_t tile) {
  return (static_cast<std::uint32_t>(x) & 0xFFF) | (static_cast<std::uint32_t>(y) & 0xFFF) << 12 |
         static_cast<std::uint32_t>(tile) << 24;
}

TileEntry UnpackTile(TileWord word) {
  return TileEntry{static_cast<std::uint16_t>(word & 0xFFF),
                   static_cast<std::uint16_t>((word >> 12) & 0xFFF),
                   static_cast<std::uint8_t>(word >> 24)};
}

std::uint32_t TileIndex(std::uint16_t x, std::uint16_t y) {
  return static_cast<std::uint32_t>(x) + static_cast<std::uint32_t>(y) * kTileMapSide;
}

void LoadTileList(const std::uint8_t* list, TileMap& map, std::uint32_t length) {
  for (std::uint32_t p = 0; length - p >= 4; p += 4) {
    const TileEntry entry = UnpackTile(GetU32(list, p));
    if (entry.x >= kTileMapSide || entry.y >= kTileMapSide) continue;
    map[TileIndex(entry.x, entry.y)] = entry.tile;
  }
}

std::int32_t TileListSize(const TileMap& map) {
  // The count does not depend on the order of the visit: memory order.
  std::uint32_t count = 0;
  for (const std::uint8_t tile : map) count += IsListed(tile);
  return static_cast<std::int32_t>(count * 4);
}

void ListTiles(const TileMap& map, std::uint32_t* out) {
  static_assert(kTileMapSide % kStripColumns == 0);
  std::uint8_t strip[kStripColumns * kStripStride];
  // Every cell's word is written and kept only when the cell is listed, so
  // nothing waits on a branch; a column's words are collected here first,
  // since the write after the map's last listed cell would fall past the
  // end of out.
  std::uint32_t column[kTileMapSide + 1];
  for (std::uint32_t left = 0; left < kTileMapSide; left += kStripColumns) {
    for (std::uint32_t y = 0; y < kTileMapSide; ++y) {
      const std::uint8_t* row = map.data() + left + y * kTileMapSide;
      for (std::uint32_t i = 0; i < kStripColumns; ++i) strip[i * kStripStride + y] = row[i];
    }
    for (std::uint32_t i = 0; i < kStripColumns; ++i) {
      const std::uint8_t* cells = strip + i * kStripStride;
      const std::uint32_t x = left + i;
      std::uint32_t count = 0;
      std::uint32_t place = x;  // x | y << 12
      for (std::uint32_t y = 0; y < kTileMapSide; ++y, place += 1u << 12) {
        const std::uint8_t tile = cells[y];
        column[count] = place | static_cast<std::uint32_t>(tile) << 24;
        count += kListed[tile];
      }
      std::memcpy(out, column, count * sizeof(std::uint32_t));
      out += count;
    }
  }
}

}  // namespace tessard
