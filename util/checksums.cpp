#include "util/checksums.h"

#include "util/byte_readers.h"
#include "util/crc32_polynomial.h"
#include "util/checksums_internal.h"
#include "util/file_reader.h"

namespace tessard {
namespace {

constexpr std::uint32_t kCrcBasis[8] = {0x77073096, 0xEE0E612C, 0x076DC419, 0x0EDB8832,
                                        0x1DB71064, 0x3B6E20C8, 0x76DC4190, 0xEDB88320};

// Slicing-by-16 tables of the standard CRC-32: kSlices[k][b] is the CRC
// state after byte b followed by k zero bytes, starting from 0.
constexpr int kSliceCount = 16;
using SliceTables = std::array<CrcTable, kSliceCount>;

constexpr SliceTables MakeSlices() {
  SliceTables slices{};
  for (std::uint32_t i = 0; i < 256; ++i) {
    std::uint32_t entry = 0;
    for (int bit = 0; bit < 8; ++bit) {
      if (i & (1u << bit)) entry ^= kCrcBasis[bit];
    }
    slices[0][i] = entry;
  }
  for (int k = 1; k < kSliceCount; ++k) {
    for (std::uint32_t i = 0; i < 256; ++i) {
      const std::uint32_t previous = slices[k - 1][i];
      slices[k][i] = (previous >> 8) ^ slices[0][previous & 0xFF];
    }
  }
  return slices;
}

constexpr SliceTables kSlices = MakeSlices();

// Below this the check of the table and the seed's term cost more than
// the fast paths save.
constexpr std::uint32_t kFastPathMinimum = 64;
// The least that a fold takes.
constexpr std::uint32_t kFoldMinimum = 64;

std::uint32_t CrcBytes(std::uint32_t crc, const std::uint8_t* data, const CrcTable& table,
                       std::uint32_t length) {
  for (std::uint32_t i = 0; i < length; ++i) {
    crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
  }
  return crc;
}

// True when table is the standard table with every entry XORed with one
// seed, as BuildCrcTable makes it. Only such a table is affine over XOR,
// which the fast paths need. No early exit, so that it vectorises.
bool IsSeededStandardTable(const CrcTable& table) {
  const std::uint32_t seed = table[0];
  std::uint32_t difference = 0;
  for (std::uint32_t i = 0; i < 256; ++i) difference |= table[i] ^ seed ^ kSlices[0][i];
  return difference == 0;
}

// The standard register after 16 bytes from crc.
std::uint32_t SliceBlock(std::uint32_t crc, const std::uint8_t* data) {
  const std::uint32_t a = GetU32(data, 0) ^ crc;
  const std::uint32_t b = GetU32(data, 4);
  const std::uint32_t c = GetU32(data, 8);
  const std::uint32_t d = GetU32(data, 12);
  return kSlices[15][a & 0xFF] ^ kSlices[14][(a >> 8) & 0xFF] ^ kSlices[13][(a >> 16) & 0xFF] ^
         kSlices[12][a >> 24] ^ kSlices[11][b & 0xFF] ^ kSlices[10][(b >> 8) & 0xFF] ^
         kSlices[9][(b >> 16) & 0xFF] ^ kSlices[8][b >> 24] ^ kSlices[7][c & 0xFF] ^
         kSlices[6][(c >> 8) & 0xFF] ^ kSlices[5][(c >> 16) & 0xFF] ^ kSlices[4][c >> 24] ^
         kSlices[3][d & 0xFF] ^ kSlices[2][(d >> 8) & 0xFF] ^ kSlices[1][(d >> 16) & 0xFF] ^
         kSlices[0][d >> 24];
}

using crc32_polynomial::Multiply;

// For lengths of 2^j bytes: x^(8 * 2^j), which moves a register over that
// many zero bytes, and the sum of x^(8k) for k below 2^j.
struct ZeroRun {
  std::uint32_t shift;
  std::uint32_t sum;
};

constexpr std::array<ZeroRun, 32> MakeZeroRuns() {
  std::array<ZeroRun, 32> runs{};
  runs[0] = {crc32_polynomial::PowerOfX(8), crc32_polynomial::kOne};
  for (int j = 1; j < 32; ++j) {
    const ZeroRun& half = runs[j - 1];
    runs[j] = {Multiply(half.shift, half.shift), half.sum ^ Multiply(half.shift, half.sum)};
  }
  return runs;
}

constexpr std::array<ZeroRun, 32> kZeroRuns = MakeZeroRuns();

// A seed-s table adds s to the register at every byte, and each earlier
// addition has since been moved along by the bytes that followed: over n
// bytes the register differs from the standard one by s times the sum of
// x^(8k) for k below n, whatever the data.
std::uint32_t SeedTerm(std::uint32_t seed, std::uint32_t length) {
  if (seed == 0) return 0;
  std::uint32_t sum = 0;  // the sum for the bits of length taken so far
  for (int j = 0; j < 32; ++j) {
    if (length & (1u << j)) sum = kZeroRuns[j].sum ^ Multiply(kZeroRuns[j].shift, sum);
  }
  return Multiply(seed, sum);
}

// The standard register after length bytes from crc.
std::uint32_t StandardCrc(CrcFold fold, std::uint32_t crc, const std::uint8_t* data,
                          std::uint32_t length) {
  if (fold != nullptr && length >= kFoldMinimum) {
    std::uint8_t folded[16];
    const std::uint32_t whole = length & ~15u;
    fold(crc, data, whole, folded);
    crc = SliceBlock(0, folded);
    data += whole;
    length -= whole;
  }
  for (; length >= kSliceCount; length -= kSliceCount, data += kSliceCount) {
    crc = SliceBlock(crc, data);
  }
  return CrcBytes(crc, data, kSlices[0], length);
}

struct FileRange {
  std::int32_t offset;
  std::uint32_t length;
};

constexpr FileRange kFileRanges[] = {
    {26944, 54688},  {1024, 9344},  {117472, 28528}, {274032, 8672}, {198048, 54208},
    {173488, 24544}, {14688, 7312}, {81648, 35808},  {22352, 224},
};

}  // namespace

std::uint8_t XorChecksum(const std::uint8_t* data, std::uint32_t count) {
  std::uint8_t result = 0;
  for (std::uint32_t i = 0; i < count; ++i) result ^= data[i];
  return result;
}

void BuildCrcTable(CrcTable& table, std::uint32_t seed) {
  // Composed level by level: each level fills its four sub-blocks with
  // the seeds s, s ^ lo, s ^ hi and s ^ hi ^ lo of its pair of constants.
  for (std::uint32_t i = 0; i < 256; ++i) table[i] = seed;
  for (int level = 0; level < 4; ++level) {
    const std::uint32_t lo = kCrcBasis[2 * level];
    const std::uint32_t hi = kCrcBasis[2 * level + 1];
    const std::uint32_t step = 1u << (2 * level);
    for (std::uint32_t i = 0; i < 256; ++i) {
      const std::uint32_t quarter = (i / step) & 3;
      if (quarter & 1) table[i] ^= lo;
      if (quarter & 2) table[i] ^= hi;
    }
  }
}

std::uint32_t Crc32WithFold(CrcFold fold, const std::uint8_t* data, const CrcTable& table,
                            std::uint32_t length) {
  if (length >= kFastPathMinimum && IsSeededStandardTable(table)) {
    return ~(StandardCrc(fold, 0xFFFFFFFF, data, length) ^ SeedTerm(table[0], length));
  }
  return ~CrcBytes(0xFFFFFFFF, data, table, length);
}

std::uint32_t Crc32(const std::uint8_t* data, const CrcTable& table, std::uint32_t length) {
  static const CrcFold fold = PickCrcFold();
  return Crc32WithFold(fold, data, table, length);
}

std::uint32_t MapChecksum(std::uint32_t key, const TileMap& map) {
  std::uint32_t result = key;
  for (std::uint32_t y = key % 32; y < kTileMapSide; y += 32) {
    for (std::uint32_t x = key % 31; x < kTileMapSide; x += 31) {
      const std::uint8_t tile = map[x + y * kTileMapSide];
      if ((tile >= 1 && tile <= 160) || tile == 171) result += key ^ tile;
    }
  }
  return result;
}

std::uint32_t RecordChecksum(std::uint32_t key, const std::uint32_t* words) {
  std::uint32_t result = 0;
  for (std::uint32_t i = 0; i < kRecordWords; ++i) result += words[i] ^ key;
  return result;
}

std::uint32_t BlockChecksum(std::uint32_t key, std::unique_ptr<std::uint8_t[]> block,
                            std::uint32_t length) {
  if (!block) return 0;
  std::uint32_t result = 0;
  std::uint32_t position = 0;
  for (std::uint32_t remaining = length; remaining > 4; remaining -= 3, position += 3) {
    const std::uint32_t word = GetU32(block.get(), position);
    if ((remaining & 0x7FF) == 0) {
      result += word | key;
    } else {
      result ^= word ^ key;
    }
  }
  return result;
}

std::uint32_t FileChecksum(std::uint32_t key, const char* path) {
  FileReader reader;
  if (!reader.Open(path)) return 0xFFFFFFFF;
  std::uint32_t total = 0;
  for (const FileRange& range : kFileRanges) {
    total += BlockChecksum(key, reader.ReadBlock(range.offset, range.length), range.length);
  }
  return total;
}

}  // namespace tessard
