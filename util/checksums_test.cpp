#include "util/checksums.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "testing/scratch_directory.h"
#include "util/byte_readers.h"
#include "util/checksums_internal.h"

namespace tessard {
namespace {

namespace fs = std::filesystem;

const std::uint8_t* Text(const char* text) { return reinterpret_cast<const std::uint8_t*>(text); }

std::vector<std::uint8_t> RandomBytes(std::size_t count, unsigned seed) {
  std::mt19937 generator(seed);
  std::vector<std::uint8_t> bytes(count);
  for (std::uint8_t& b : bytes) b = static_cast<std::uint8_t>(generator());
  return bytes;
}

// The CRC bit by bit, for any table: what the fast path must agree with.
std::uint32_t ReferenceCrc(const std::uint8_t* data, const CrcTable& table, std::size_t length) {
  std::uint32_t crc = 0xFFFFFFFF;
  for (std::size_t i = 0; i < length; ++i) crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
  return ~crc;
}

struct BlockSums {
  std::uint32_t value = 0;
  int added = 0;
  int xored = 0;
};

BlockSums ReferenceBlock(std::uint32_t key, const std::uint8_t* data, std::uint32_t length) {
  BlockSums sums;
  for (std::uint32_t position = 0; length - position > 4; position += 3) {
    std::uint32_t word = 0;
    for (int i = 3; i >= 0; --i) word = word << 8 | data[position + i];
    if ((length - position) % 2048 == 0) {
      sums.value += word | key;
      ++sums.added;
    } else {
      sums.value ^= word ^ key;
      ++sums.xored;
    }
  }
  return sums;
}

std::unique_ptr<std::uint8_t[]> Block(const std::vector<std::uint8_t>& bytes) {
  auto block = std::make_unique<std::uint8_t[]>(bytes.size());
  std::memcpy(block.get(), bytes.data(), bytes.size());
  return block;
}

TEST(ByteReadersTest, LittleEndianAtAnyOffset) {
  const std::uint8_t bytes[] = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66};
  EXPECT_EQ(GetU32(bytes, 1), 0x55443322u);
  EXPECT_EQ(GetU32(bytes, 2), 0x66554433u);
  EXPECT_EQ(GetU16(bytes, 3), 0x5544);
  EXPECT_EQ(GetU8(bytes, 5), 0x66);

  std::uint8_t written[6] = {0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE};
  PutU32(written, 1, 0x44332211u);
  const std::uint8_t expected[] = {0xEE, 0x11, 0x22, 0x33, 0x44, 0xEE};
  EXPECT_EQ(std::memcmp(written, expected, sizeof(expected)), 0);
}

TEST(XorChecksumTest, XorOfTheBytes) {
  EXPECT_EQ(XorChecksum(Text("abc"), 3), 0x60);
  EXPECT_EQ(XorChecksum(Text("abc"), 0), 0);
}

TEST(BuildCrcTableTest, StandardEntriesAndSeed) {
  CrcTable standard;
  BuildCrcTable(standard, 0);
  EXPECT_EQ(standard[0], 0u);
  EXPECT_EQ(standard[1], 0x77073096u);
  EXPECT_EQ(standard[128], 0xEDB88320u);
  EXPECT_EQ(standard[255], 0x2D02EF8Du);
  // Each entry i is the CRC register after shifting i through the polynomial.
  for (std::uint32_t i = 0; i < 256; ++i) {
    std::uint32_t expected = i;
    for (int bit = 0; bit < 8; ++bit) expected = expected >> 1 ^ (expected & 1 ? 0xEDB88320 : 0);
    ASSERT_EQ(standard[i], expected) << i;
  }
  for (std::uint32_t seed : {1u, 0x80000000u, 0xDEADBEEFu}) {
    CrcTable seeded;
    BuildCrcTable(seeded, seed);
    for (std::uint32_t i = 0; i < 256; ++i) ASSERT_EQ(seeded[i], standard[i] ^ seed) << i;
  }
}

TEST(Crc32Test, CheckValuesAndSeededTable) {
  CrcTable table;
  BuildCrcTable(table, 0);
  EXPECT_EQ(Crc32(Text("123456789"), table, 9), 0xCBF43926u);
  EXPECT_EQ(Crc32(Text("abc"), table, 3), 0x352441C2u);
  EXPECT_EQ(Crc32(Text(""), table, 0), 0u);
  BuildCrcTable(table, 1);
  EXPECT_EQ(Crc32(Text("abc"), table, 3), 0x5B384014u);
}

TEST(Crc32Test, FastPathAgreesWithByteByByteForEverySeedAndTable) {
  const std::vector<std::uint8_t> data = RandomBytes(5000, 7);
  CrcTable arbitrary;  // not affine: must still be honoured byte by byte
  for (std::uint32_t i = 0; i < 256; ++i) arbitrary[i] = i * 2654435761u;
  std::vector<CrcTable> tables(1, arbitrary);
  for (std::uint32_t seed : {0u, 1u, 0x5A5A5A5Au, 0xFFFFFFFFu}) {
    BuildCrcTable(tables.emplace_back(), seed);
  }
  tables.push_back(tables[1]);
  tables.back()[200] ^= 4;  // standard but for one entry
  for (const CrcTable& table : tables) {
    for (std::uint32_t length : {255u, 256u, 257u, 271u, 1024u, 4093u}) {
      for (std::uint32_t offset = 0; offset < 4; ++offset) {
        ASSERT_EQ(Crc32(data.data() + offset, table, length),
                  ReferenceCrc(data.data() + offset, table, length))
            << length << " " << offset;
      }
    }
  }
}

struct CrcPath {
  const char* name;
  CrcFold fold;
};

// Every path Crc32 can take on this processor: slicing, and each fold.
std::vector<CrcPath> CrcPaths() {
  std::vector<CrcPath> paths = {{"slicing", nullptr}};
  const CrcFold narrow = PickCrcFold(16);
  const CrcFold wide = PickCrcFold(32);
  if (narrow != nullptr) paths.push_back({"16-byte fold", narrow});
  if (wide != nullptr && wide != narrow) paths.push_back({"32-byte fold", wide});
  return paths;
}

// Seed 0, random seeds, a random table and a made table with one entry
// changed: the last two must be read byte by byte.
std::vector<CrcTable> DifferentialTables(std::mt19937& random) {
  std::vector<CrcTable> tables(5);
  BuildCrcTable(tables[0], 0);
  BuildCrcTable(tables[1], random());
  BuildCrcTable(tables[2], random());
  for (std::uint32_t& entry : tables[3]) entry = random();
  BuildCrcTable(tables[4], random());
  tables[4][random() % 256] ^= 1u << (random() % 32);
  return tables;
}

// Every length to 1024 at every alignment, then every length to 4096 at
// alignments in turn; tables that BuildCrcTable did not make go byte by
// byte on every path, so they are read on one.
TEST(Crc32DifferentialTest, EveryLengthTo4096AtEveryAlignment) {
  const unsigned seed = std::random_device{}();
  SCOPED_TRACE(::testing::Message() << "random seed " << seed);
  std::mt19937 random(seed);
  constexpr std::uint32_t kAllAlignmentsTo = 1024;
  constexpr std::uint32_t kLongest = 4096;
  const std::vector<std::uint8_t> data = RandomBytes(kLongest + 15, random());
  const std::vector<CrcTable> tables = DifferentialTables(random);
  const std::vector<CrcPath> paths = CrcPaths();
  std::vector<std::uint32_t> expected(kLongest + 1);
  for (std::size_t t = 0; t < tables.size(); ++t) {
    const bool made = t < 3;
    for (std::uint32_t alignment = 0; alignment < 16; ++alignment) {
      const std::uint8_t* start = data.data() + alignment;
      std::uint32_t crc = 0xFFFFFFFF;  // the definition's register, one byte at a time
      for (std::uint32_t length = 0; length <= kLongest; ++length) {
        expected[length] = ~crc;
        if (length < kLongest) crc = tables[t][(crc ^ start[length]) & 0xFF] ^ (crc >> 8);
      }
      for (std::size_t p = made ? 0 : paths.size() - 1; p < paths.size(); ++p) {
        for (std::uint32_t length = 0; length <= kLongest; ++length) {
          if (length > kAllAlignmentsTo && (length * 7 + t) % 16 != alignment) continue;
          const std::uint32_t actual = Crc32WithFold(paths[p].fold, start, tables[t], length);
          if (actual != expected[length]) {
            FAIL() << paths[p].name << ", table " << t << ", alignment " << alignment << ", length "
                   << length << ": " << actual << " instead of " << expected[length];
          }
        }
      }
    }
  }
}

TEST(Crc32DifferentialTest, FewMebibytesAtEveryAlignment) {
  const unsigned seed = std::random_device{}();
  SCOPED_TRACE(::testing::Message() << "random seed " << seed);
  std::mt19937 random(seed);
  const std::uint32_t length = (3u << 20) + random() % 4096;
  const std::vector<std::uint8_t> data = RandomBytes(length + 15, random());
  std::vector<CrcTable> tables(2);
  BuildCrcTable(tables[0], 0);
  BuildCrcTable(tables[1], random());
  const std::vector<CrcPath> paths = CrcPaths();
  for (std::uint32_t alignment = 0; alignment < 16; ++alignment) {
    for (const CrcTable& table : tables) {
      const std::uint32_t expected = ReferenceCrc(data.data() + alignment, table, length);
      for (const CrcPath& path : paths) {
        EXPECT_EQ(Crc32WithFold(path.fold, data.data() + alignment, table, length), expected)
            << path.name << ", seed " << table[0] << ", alignment " << alignment << ", length "
            << length;
      }
    }
  }
}

TEST(MapChecksumTest, LatticeAndCountedValues) {
  auto map = std::make_unique<TileMap>();
  EXPECT_EQ(MapChecksum(0x12345678, *map), 0x12345678u);
  map->fill(1);
  EXPECT_EQ(MapChecksum(0, *map), 1088u);
  EXPECT_EQ(MapChecksum(30, *map), 32766u);
  for (int tile = 0; tile < 256; ++tile) {
    map->fill(static_cast<std::uint8_t>(tile));
    const bool counted = (tile >= 1 && tile <= 160) || tile == 171;
    ASSERT_EQ(MapChecksum(0, *map), counted ? 1088u * tile : 0u) << tile;
  }
  // Key 0xFFFFFFFF: rows 31, 63, ... 1023 and columns 3, 34, ... 995 only.
  map->fill(0);
  (*map)[3 + 31 * 1024] = 1;
  (*map)[995 + 1023 * 1024] = 2;
  for (std::uint32_t off : {2 + 31 * 1024, 4 + 31 * 1024, 3 + 30 * 1024, 3 + 32 * 1024}) {
    (*map)[off] = 5;
  }
  EXPECT_EQ(MapChecksum(0xFFFFFFFF, *map), 0xFFFFFFFFu + 0xFFFFFFFEu + 0xFFFFFFFDu);
}

TEST(RecordChecksumTest, SumOfKeyedWords) {
  std::vector<std::uint32_t> words(kRecordWords, 0);
  EXPECT_EQ(RecordChecksum(1, words.data()), 357u);
  EXPECT_EQ(RecordChecksum(0x80000000, words.data()), 0x80000000u);  // 357 odd, wraps
  std::uint32_t sum = 0;
  for (std::uint32_t i = 0; i < kRecordWords; ++i) sum += words[i] = i * 0x01000193u;
  EXPECT_EQ(RecordChecksum(0, words.data()), sum);
  words.assign(kRecordWords, 0xFFFFFFFF);
  EXPECT_EQ(RecordChecksum(0, words.data()), 0u - 357u);
}

TEST(BlockChecksumTest, WordCountsAndTheAdditionXorSplit) {
  const std::uint32_t key = 0x9E3779B9;
  const std::vector<std::uint8_t> data = RandomBytes(54688, 3);
  EXPECT_EQ(BlockChecksum(key, Block(data), 4), 0u);
  EXPECT_EQ(BlockChecksum(key, Block(data), 0), 0u);
  EXPECT_EQ(BlockChecksum(key, Block(data), 5), GetU32(data.data(), 0) ^ key);
  EXPECT_EQ(BlockChecksum(key, Block(data), 8), GetU32(data.data(), 0) ^ GetU32(data.data(), 3));
  const BlockSums of2048 = ReferenceBlock(key, data.data(), 2048);
  EXPECT_EQ(of2048.added, 1);
  EXPECT_EQ(of2048.xored, 681);
  EXPECT_EQ(BlockChecksum(key, Block(data), 2048), of2048.value);
  const BlockSums ofRange = ReferenceBlock(key, data.data(), 54688);
  EXPECT_EQ(ofRange.added, 9);
  EXPECT_EQ(ofRange.added + ofRange.xored, 18228);
  EXPECT_EQ(BlockChecksum(key, Block(data), 54688), ofRange.value);
  EXPECT_EQ(BlockChecksum(key, nullptr, 100), 0u);
}

struct Range {
  std::uint32_t offset, length;
};
constexpr Range kRanges[] = {{26944, 54688}, {1024, 9344},    {117472, 28528},
                             {274032, 8672}, {198048, 54208}, {173488, 24544},
                             {14688, 7312},  {81648, 35808},  {22352, 224}};

std::uint32_t ReferenceFile(std::uint32_t key, const std::vector<std::uint8_t>& content) {
  std::uint32_t total = 0;
  for (const Range& range : kRanges) {
    std::vector<std::uint8_t> block(range.length, 0);
    for (std::uint32_t i = 0; i < range.length && range.offset + i < content.size(); ++i) {
      block[i] = content[range.offset + i];
    }
    total += ReferenceBlock(key, block.data(), range.length).value;
  }
  return total;
}

TEST(FileChecksumTest, KnownContentMissingPathAndDirectory) {
  const std::uint32_t key = 0x0BADF00D;
  const std::vector<std::uint8_t> content = RandomBytes(290000, 11);
  const testing::ScratchDirectory scratch("checksums");
  const fs::path file = scratch.Path() / "known";
  {
    std::ofstream out(file, std::ios::binary);
    out.write(reinterpret_cast<const char*>(content.data()), std::streamsize(content.size()));
  }
  EXPECT_EQ(FileChecksum(key, file.string().c_str()), ReferenceFile(key, content));
  EXPECT_EQ(fs::file_size(file), content.size());

  const fs::path missing = scratch.Path() / "missing";
  EXPECT_EQ(FileChecksum(key, missing.string().c_str()), ReferenceFile(key, {}));
  EXPECT_TRUE(fs::exists(missing));
  EXPECT_EQ(fs::file_size(missing), 0u);

  const fs::path directory = scratch.Path() / "directory";
  fs::create_directory(directory);
  EXPECT_EQ(FileChecksum(key, directory.string().c_str()), 0xFFFFFFFFu);
}

TEST(FileChecksumTest, ReadOnlyFileCannotBeOpened) {
  const testing::ScratchDirectory scratch("checksums");
  const fs::path file = scratch.Path() / "readonly";
  std::ofstream(file, std::ios::binary) << "content";
  fs::permissions(file, fs::perms::owner_read);
  const bool writable = std::ofstream(file, std::ios::binary | std::ios::app).is_open();
  if (!writable) {
    EXPECT_EQ(FileChecksum(1, file.string().c_str()), 0xFFFFFFFFu);
  }
  std::error_code ignored;  // writable again, so that Windows lets it be removed
  fs::permissions(file, fs::perms::owner_all, ignored);
  if (writable) {
    GTEST_SKIP() << "this user may write to read-only files";
  }
}

}  // namespace
}  // namespace tessard
