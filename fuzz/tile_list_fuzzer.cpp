// LoadTileList on arbitrary bytes: nothing read past the list (it is an
// exact-size heap copy) nor written outside the map, and a cell changes
// only where a word of the list names it.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "util/byte_readers.h"
#include "util/tiles.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tessard;
  static auto map = std::make_unique<TileMap>();
  map->fill(0);
  auto list = std::make_unique<std::uint8_t[]>(size == 0 ? 1 : size);
  for (std::size_t i = 0; i < size; ++i) list[i] = data[i];
  LoadTileList(list.get(), *map, static_cast<std::uint32_t>(size));

  // Replaying the words by hand gives the same map.
  auto replay = std::make_unique<TileMap>();
  for (std::size_t at = 0; at + 4 <= size; at += 4) {
    const TileWord word = GetU32(data, static_cast<std::uint32_t>(at));
    const TileEntry entry = UnpackTile(word);
    if (entry.x < kTileMapSide && entry.y < kTileMapSide) {
      (*replay)[TileIndex(entry.x, entry.y)] = entry.tile;
    }
  }
  if (*replay != *map) {
    std::fprintf(stderr, "tile list fuzzer: the map differs from the list's words\n");
    std::abort();
  }
  return 0;
}
