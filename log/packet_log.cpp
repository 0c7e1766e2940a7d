#include "log/packet_log.h"

#include <cstdarg>
#include <cstdio>

#include "log/log_stream.h"

namespace tessard {

PacketLog packetLog;
char scratchLine[PacketLog::kSlotSize];

namespace {

LogWriter logWriter = AppendLogText;

}  // namespace

void LogLine(const char* text) {
  // Measured and copied in one pass, bounded so that no text, however
  // long, can run past its slot: a dump appends a piece of three
  // characters a byte, where a call to search and another to copy cost
  // more than the characters.
  char* slot = packetLog.slots[packetLog.count];
  ++packetLog.count;
  std::uint32_t length = 0;
  while (length < PacketLog::kSlotSize - 1 && text[length] != '\0') {
    slot[length] = text[length];
    ++length;
  }
  slot[length] = '\0';

  if (packetLog.count == PacketLog::kSlotCount) FlushLog();
}

void LogFormat(const char* format, ...) {
  std::va_list arguments;
  va_start(arguments, format);
  std::vsnprintf(scratchLine, sizeof scratchLine, format, arguments);
  va_end(arguments);
  LogLine(scratchLine);
}

void FlushLog() {
  if (logWriter == AppendLogText) {
    AppendLogPieces(packetLog.slots[0], PacketLog::kSlotSize, packetLog.count);
  } else {
    for (std::int32_t i = 0; i < packetLog.count; ++i) logWriter(packetLog.slots[i]);
  }
  packetLog.count = 0;
  WriteOutLogText();
}

void SetLogWriter(LogWriter writer) { logWriter = writer != nullptr ? writer : AppendLogText; }

}  // namespace tessard
