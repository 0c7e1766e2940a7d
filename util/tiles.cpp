#include "util/tiles.h"

#include "util/byte_readers.h"

namespace tessard {
namespace {

bool IsListed(std::uint8_t tile) {
  return (tile >= 1 && tile <= 190) || (tile >= 216 && tile <= 220);
}

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
  std::int32_t count = 0;
  for (std::uint32_t x = 0; x < kTileMapSide; ++x) {
    for (std::uint32_t y = 0; y < kTileMapSide; ++y) {
      if (IsListed(map[x + y * kTileMapSide])) ++count;
    }
  }
  return count * 4;
}

void ListTiles(const TileMap& map, std::uint32_t* out) {
  for (std::uint16_t x = 0; x < kTileMapSide; ++x) {
    for (std::uint16_t y = 0; y < kTileMapSide; ++y) {
      const std::uint8_t tile = map[TileIndex(x, y)];
      if (IsListed(tile)) *out++ = PackTile(x, y, tile);
    }
  }
}

}  // namespace tessard
