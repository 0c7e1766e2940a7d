#include "log/packet_dump.h"

#include "log/packet_log.h"

namespace tessard {

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";
constexpr std::uint32_t kRowBytes = 16;

// The fragments are written character by character rather than through
// snprintf: a large packet makes several hundred of them.

char* PutText(char* at, const char* text) {
  while (*text != '\0') *at++ = *text++;
  return at;
}

// The tag, a space, the offset as at least four uppercase hexadecimal
// digits and two spaces, as "%s %04X  " writes them.
char* PutRowStart(char* at, const char* tag, std::uint32_t offset) {
  at = PutText(at, tag);
  *at++ = ' ';
  int digits = 4;
  while (digits < 8 && (offset >> (4 * digits)) != 0) ++digits;
  for (int digit = digits - 1; digit >= 0; --digit) {
    *at++ = kHexDigits[(offset >> (4 * digit)) & 0xF];
  }
  *at++ = ' ';
  *at++ = ' ';
  return at;
}

// Two spaces and the ASCII column, as "  %s" writes them.
char* PutColumn(char* at, const char* column, std::uint32_t columnLength) {
  *at++ = ' ';
  *at++ = ' ';
  for (std::uint32_t i = 0; i < columnLength; ++i) *at++ = column[i];
  return at;
}

void AppendScratchLine(char* end) {
  *end = '\0';
  LogLine(scratchLine);
}

// The byte itself when, read as a signed 8-bit value, it lies from 32 to
// 126; '.' for control characters, DEL and every byte from 0x80 up.
char ColumnCharacter(std::uint8_t byte) {
  return byte >= 0x20 && byte <= 0x7E ? static_cast<char>(byte) : '.';
}

}  // namespace

void DumpPacket(Direction direction, const std::uint8_t* bytes, std::int32_t length) {
  const char* tag = DirectionTag(direction);
  const std::uint32_t count = length > 0 ? static_cast<std::uint32_t>(length) : 0;
  char column[kRowBytes];
  std::uint32_t columnLength = 0;

  AppendScratchLine(PutRowStart(scratchLine, tag, 0));

  for (std::uint32_t i = 0; i < count; ++i) {
    if (i != 0 && i % kRowBytes == 0) {
      char* at = PutColumn(scratchLine, column, columnLength);
      *at++ = '\n';
      AppendScratchLine(PutRowStart(at, tag, i));
      columnLength = 0;
    }
    const std::uint8_t byte = bytes[i];
    LogCell(kHexDigits[byte >> 4], kHexDigits[byte & 0xF], ' ');
    column[columnLength++] = ColumnCharacter(byte);
  }

  // Blank cells keep the last row's ASCII column in line with the others.
  for (std::uint32_t blanks = (kRowBytes - count % kRowBytes) % kRowBytes; blanks > 0; --blanks) {
    LogCell(' ', ' ', ' ');
  }

  char* at = PutColumn(scratchLine, column, columnLength);
  *at++ = '\n';
  *at++ = '\n';
  AppendScratchLine(at);
}

}  // namespace tessard
