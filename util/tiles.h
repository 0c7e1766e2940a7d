// Tile maps in full form (a grid of one-byte cells) and in list form (one
// packed 32-bit word per cell that holds a listed tile value). Nothing here
// allocates; the caller owns maps and lists.
#pragma once

#include <array>
#include <cstdint>

namespace tessard {

constexpr std::uint32_t kTileMapSide = 1024;

// Cell (x, y) at byte x + y * 1024; 0 is an empty cell. About 1 MiB: keep it
// on the heap, e.g. std::make_unique<TileMap>(), which zeroes it.
using TileMap = std::array<std::uint8_t, kTileMapSide * kTileMapSide>;

// Bits 0-11 x, bits 12-23 y, bits 24-31 the tile value.
using TileWord = std::uint32_t;

struct TileEntry {
  std::uint16_t x;
  std::uint16_t y;
  std::uint8_t tile;
};

// The word for a cell; only the low 12 bits of x and y count.
TileWord PackTile(std::uint16_t x, std::uint16_t y, std::uint8_t tile);
// The fields of a word, each as packed.
TileEntry UnpackTile(TileWord word);
// The byte offset of cell (x, y) in a map: x + y * 1024.
std::uint32_t TileIndex(std::uint16_t x, std::uint16_t y);

// Stores the tile value of every little-endian word of the list, in order,
// into its cell; other cells keep their values. A trailing 1 to 3 bytes are
// ignored, and so is a word whose x or y lies outside the map: nothing is
// read past length bytes nor written outside the map.
void LoadTileList(const std::uint8_t* list, TileMap& map, std::uint32_t length);

// The byte size of the map's list: 4 per cell holding 1..190 or 216..220.
std::int32_t TileListSize(const TileMap& map);
// Writes the map's list to out, column by column and within a column row
// by row; out must hold TileListSize(map) bytes. On a little-endian
// machine the words, taken as bytes, are a list for LoadTileList.
void ListTiles(const TileMap& map, std::uint32_t* out);

}  // namespace tessard
