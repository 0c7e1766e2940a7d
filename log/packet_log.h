// The packet log's in-memory store: pieces of text collect in fixed slots
// and reach the log stream in bursts, so logging a packet costs no output.
#pragma once

#include <cstdint>

namespace tessard {

struct PacketLog {
  static constexpr std::int32_t kSlotCount = 1000;
  static constexpr std::int32_t kSlotSize = 256;

  // Slots 0 to count - 1 hold the pieces in the order they were appended,
  // each NUL-terminated. Between calls count lies from 0 to kSlotCount - 1.
  char slots[kSlotCount][kSlotSize];
  std::int32_t count;
};

// The one store of the process.
extern PacketLog packetLog;

// Where a piece is formatted before it is appended; valid until the next
// formatting.
extern char scratchLine[PacketLog::kSlotSize];

// Receives each stored piece as the store is written out.
using LogWriter = void (*)(const char* text);

// Hands every stored piece, in order, to the log writer, empties the store,
// and writes out what the default writer collected (see log_stream.h). Adds
// no separators.
void FlushLog();

// Appends text as the next piece; a text longer than 255 characters is cut
// to its first 255. Writes the store out when this fills its last slot.
void LogLine(const char* text);

// Appends the three characters of one dumped byte's cell, as LogLine
// would: the dump makes one such piece a byte, and spares them the
// measuring and the copy.
inline void LogCell(char first, char second, char third) {
  char* slot = packetLog.slots[packetLog.count];
  slot[0] = first;
  slot[1] = second;
  slot[2] = third;
  slot[3] = '\0';
  if (++packetLog.count == PacketLog::kSlotCount) FlushLog();
}

// Formats printf-style into scratchLine (cut to 255 characters) and appends
// the result as one piece.
[[gnu::format(printf, 1, 2)]] void LogFormat(const char* format, ...);

// Replaces the log writer; nullptr restores the default, AppendLogText,
// which takes the text to standard output with CR LF line ends.
void SetLogWriter(LogWriter writer);

}  // namespace tessard
