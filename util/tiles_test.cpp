#include "util/tiles.h"

#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <vector>

namespace tessard {
namespace {

TEST(TileWordTest, PackUnpackAndIndex) {
  EXPECT_EQ(PackTile(1, 2, 3), 0x03002001u);
  const TileEntry entry = UnpackTile(0x03002001);
  EXPECT_EQ(entry.x, 1);
  EXPECT_EQ(entry.y, 2);
  EXPECT_EQ(entry.tile, 3);
  EXPECT_EQ(PackTile(4095, 4095, 255), 0xFFFFFFFFu);
  EXPECT_EQ(PackTile(4096, 0, 0), 0u);
  EXPECT_EQ(PackTile(0, 4097, 0), 0x00001000u);
  const TileEntry full = UnpackTile(0xFFFFFFFF);
  EXPECT_EQ(full.x, 4095);
  EXPECT_EQ(full.y, 4095);
  EXPECT_EQ(full.tile, 255);
  EXPECT_EQ(TileIndex(1, 2), 2049u);
  EXPECT_EQ(TileIndex(1023, 1023), 1048575u);
}

TEST(TileListSizeTest, CountsListedValuesOnly) {
  auto map = std::make_unique<TileMap>();
  EXPECT_EQ(TileListSize(*map), 0);
  for (int tile : {1, 190, 216, 220}) {
    (*map)[TileIndex(1023, 1023)] = static_cast<std::uint8_t>(tile);
    EXPECT_EQ(TileListSize(*map), 4) << tile;
  }
  for (int tile : {191, 215, 221, 255}) {
    (*map)[TileIndex(1023, 1023)] = static_cast<std::uint8_t>(tile);
    EXPECT_EQ(TileListSize(*map), 0) << tile;
  }
  map->fill(7);
  EXPECT_EQ(TileListSize(*map), 4 * 1024 * 1024);
}

TEST(ListTilesTest, ColumnMajorOrderAndRoundTrip) {
  auto map = std::make_unique<TileMap>();
  (*map)[TileIndex(5, 0)] = 7;
  (*map)[TileIndex(0, 9)] = 1;
  std::vector<std::uint32_t> words(2);
  ListTiles(*map, words.data());
  EXPECT_EQ(words[0], 0x01009000u);
  EXPECT_EQ(words[1], 0x07000005u);

  for (std::uint32_t i = 0; i < map->size(); i += 97) (*map)[i] = static_cast<std::uint8_t>(i);
  (*map)[TileIndex(1023, 1023)] = 220;
  const std::int32_t size = TileListSize(*map);
  words.assign(static_cast<std::size_t>(size) / 4, 0);
  ListTiles(*map, words.data());
  auto copy = std::make_unique<TileMap>();
  LoadTileList(reinterpret_cast<const std::uint8_t*>(words.data()), *copy,
               static_cast<std::uint32_t>(size));
  for (std::uint32_t i = 0; i < map->size(); ++i) {
    const std::uint8_t tile = (*map)[i];
    const bool listed = (tile >= 1 && tile <= 190) || (tile >= 216 && tile <= 220);
    ASSERT_EQ((*copy)[i], listed ? tile : 0) << i;
  }
}

// The list by its definition: column by column, row by row.
std::vector<std::uint32_t> ColumnWalk(const TileMap& map) {
  std::vector<std::uint32_t> words;
  for (std::uint32_t x = 0; x < kTileMapSide; ++x) {
    for (std::uint32_t y = 0; y < kTileMapSide; ++y) {
      const std::uint8_t tile = map[x + y * kTileMapSide];
      if ((tile >= 1 && tile <= 190) || (tile >= 216 && tile <= 220)) {
        words.push_back(x | y << 12 | static_cast<std::uint32_t>(tile) << 24);
      }
    }
  }
  return words;
}

// Random maps of every tile value at several densities, and maps whose
// listed cells end early (the rest unlisted but not empty) or sit in the
// last cell only: the list and its size match the definition, and nothing
// is written past the list's end (the vector is sized exactly).
TEST(ListTilesTest, AgreesWithTheColumnWalkOnRandomAndEdgeMaps) {
  const unsigned seed = std::random_device{}();
  SCOPED_TRACE(testing::Message() << "random seed " << seed);
  std::mt19937 random(seed);
  auto map = std::make_unique<TileMap>();
  const auto check = [&](const char* what) {
    const std::vector<std::uint32_t> expected = ColumnWalk(*map);
    ASSERT_EQ(TileListSize(*map), static_cast<std::int32_t>(4 * expected.size())) << what;
    std::vector<std::uint32_t> words(expected.size());
    ListTiles(*map, words.data());
    ASSERT_EQ(words, expected) << what;
  };
  for (const unsigned percent : {1u, 50u, 99u}) {
    for (std::uint8_t& cell : *map) {
      cell = random() % 100 < percent ? static_cast<std::uint8_t>(random()) : 0;
    }
    check("random");
  }
  map->fill(200);
  for (std::uint32_t y = 0; y < kTileMapSide; y += 3) (*map)[y * kTileMapSide + 17] = 5;
  check("one listed column, the rest unlisted");
  map->fill(221);
  (*map)[TileIndex(1023, 1023)] = 216;
  check("only the last cell listed");
}

TEST(LoadTileListTest, OverwritesInOrderAndStaysInsideListAndMap) {
  auto map = std::make_unique<TileMap>();
  (*map)[TileIndex(3, 3)] = 9;
  LoadTileList(nullptr, *map, 0);
  EXPECT_EQ((*map)[TileIndex(3, 3)], 9);
  // (1, 2) gets 5 and then 6; (3, 3) is emptied; x 1024 and y 4095 are off
  // the map; the trailing three bytes are no word.
  const std::vector<std::uint8_t> list = {0x01, 0x20, 0x00, 0x05, 0x01, 0x20, 0x00, 0x06,
                                          0x03, 0x30, 0x00, 0x00, 0x00, 0x04, 0x00, 0x08,
                                          0x00, 0xF0, 0xFF, 0x08, 0x07, 0x00, 0x00};
  LoadTileList(list.data(), *map, static_cast<std::uint32_t>(list.size()));
  EXPECT_EQ((*map)[TileIndex(1, 2)], 6);
  EXPECT_EQ((*map)[TileIndex(3, 3)], 0);
  EXPECT_EQ((*map)[TileIndex(7, 0)], 0);
  EXPECT_EQ(TileListSize(*map), 4);
}

}  // namespace
}  // namespace tessard
