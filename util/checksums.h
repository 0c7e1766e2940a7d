// Checksums of the protocol utility library: an XOR checksum, a CRC-32 over
// a seeded table, and keyed 32-bit checksums over a tile map, a record, a
// block and fixed ranges of a file. All sums wrap modulo 2^32; nothing here
// keeps state, and nothing checks its pointers or lengths.
#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "util/tiles.h"

namespace tessard {

using CrcTable = std::array<std::uint32_t, 256>;

constexpr std::uint32_t kRecordWords = 357;

// The XOR of the count bytes; 0 for none.
std::uint8_t XorChecksum(const std::uint8_t* data, std::uint32_t count);

// Fills table with the standard reflected CRC-32 table (polynomial
// 0xEDB88320) with every entry XORed with seed; seed 0 gives the standard
// table.
void BuildCrcTable(CrcTable& table, std::uint32_t seed);

// The CRC-32 of length bytes over table: the standard CRC-32 with the seed-0
// table, a keyed variant with another seed. Any table is accepted; tables
// made by BuildCrcTable take a fast path with the same result.
std::uint32_t Crc32(const std::uint8_t* data, const CrcTable& table, std::uint32_t length);

// key plus, over a lattice of 32 rows (from row key mod 32, every 32nd) and
// every 31st column (from column key mod 31), key XOR each cell that holds
// 1..160 or 171.
std::uint32_t MapChecksum(std::uint32_t key, const TileMap& map);

// The sum of (word XOR key) over the 357 words of the record.
std::uint32_t RecordChecksum(std::uint32_t key, const std::uint32_t* words);

// Over the little-endian words at every third byte while more than 4 bytes
// remain: adds (word OR key) when the remaining length is a multiple of
// 2048, else XORs in (word XOR key). Takes the block over and releases it;
// a null block gives 0.
std::uint32_t BlockChecksum(std::uint32_t key, std::unique_ptr<std::uint8_t[]> block,
                            std::uint32_t length);

// The sum of the block checksums of nine fixed ranges of the file at path,
// which is opened for reading and writing and created when missing (short
// files read as zeros past their end); 0xFFFFFFFF when it cannot be opened.
std::uint32_t FileChecksum(std::uint32_t key, const char* path);

}  // namespace tessard
