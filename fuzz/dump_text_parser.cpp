#include "fuzz/dump_text_parser.h"

namespace tessard::fuzzing {
namespace {

constexpr std::size_t kRowBytes = 16;

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

char ColumnCharacter(std::uint8_t byte) {
  return byte >= 0x20 && byte <= 0x7E ? static_cast<char>(byte) : '.';
}

// The direction of a row that starts with a tag, a space and a hex digit;
// false for notices and anything else.
bool RowDirection(std::string_view line, Direction& direction) {
  if (line.size() < 5 || line[3] != ' ' || HexValue(line[4]) < 0) return false;
  if (line.substr(0, 3) == "c2s") {
    direction = Direction::kClientToServer;
  } else if (line.substr(0, 3) == "s2c") {
    direction = Direction::kServerToClient;
  } else {
    return false;
  }
  return true;
}

// One row after its tag and space: the offset, the cells, the padding and
// the column. Appends the cells to bytes; cells is how many there were.
bool ParseRow(std::string_view row, std::vector<std::uint8_t>& bytes, std::size_t& cells,
              std::string& reason) {
  std::size_t at = 0;
  std::uint64_t offset = 0;
  while (at < row.size() && HexValue(row[at]) >= 0) {
    offset = offset * 16 + static_cast<std::uint64_t>(HexValue(row[at]));
    ++at;
  }
  if (at < 4 || at > 8 || (at > 4 && HexValue(row[0]) == 0)) {
    reason = "malformed offset";
    return false;
  }
  if (offset != bytes.size()) {
    reason = "offset does not continue the packet";
    return false;
  }
  if (row.substr(at, 2) != "  ") {
    reason = "no gap after the offset";
    return false;
  }
  at += 2;
  const std::size_t first = bytes.size();
  cells = 0;
  while (cells < kRowBytes && at + 3 <= row.size() && HexValue(row[at]) >= 0 &&
         HexValue(row[at + 1]) >= 0 && row[at + 2] == ' ') {
    bytes.push_back(static_cast<std::uint8_t>(HexValue(row[at]) * 16 + HexValue(row[at + 1])));
    at += 3;
    ++cells;
  }
  const std::size_t blanks = cells == 0 || cells == kRowBytes ? 0 : kRowBytes - cells;
  if (row.substr(at, 3 * blanks) != std::string(3 * blanks, ' ')) {
    reason = "missing blank cells";
    return false;
  }
  at += 3 * blanks;
  if (row.substr(at, 2) != "  ") {
    reason = "no gap before the column";
    return false;
  }
  at += 2;
  std::string column;
  for (std::size_t i = first; i < bytes.size(); ++i) column += ColumnCharacter(bytes[i]);
  if (row.substr(at) != column) {
    reason = "column does not match the cells";
    return false;
  }
  return true;
}

}  // namespace

bool ParseDumps(std::string_view text, std::vector<ParsedDump>& dumps, std::string& reason) {
  bool inPacket = false;
  bool packetFull = false;  // the last row had 16 cells, so another may follow
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    if (end == std::string_view::npos) {
      reason = "text does not end in a line end";
      return false;
    }
    const std::string_view line = text.substr(0, end);
    text.remove_prefix(end + 1);
    Direction direction;
    if (inPacket && line.empty()) {
      inPacket = false;
      continue;
    }
    if (!RowDirection(line, direction)) {
      if (inPacket) {
        reason = "packet not closed by an empty line";
        return false;
      }
      continue;  // a notice
    }
    if (!inPacket) {
      dumps.push_back(ParsedDump{direction, {}});
      inPacket = true;
      packetFull = true;
    } else if (!packetFull || direction != dumps.back().direction) {
      reason = "row after the last row of a packet";
      return false;
    }
    std::size_t cells = 0;
    if (!ParseRow(line.substr(4), dumps.back().bytes, cells, reason)) return false;
    packetFull = cells == kRowBytes;
  }
  if (inPacket) {
    reason = "text ends inside a packet";
    return false;
  }
  return true;
}

}  // namespace tessard::fuzzing
