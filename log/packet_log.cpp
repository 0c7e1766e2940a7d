#include "log/packet_log.h"

#include <cstdarg>
#include <cstdio>

#include "log/log_stream.h"
#include "util/arithmetic.h"

namespace tessard {

PacketLog packetLog;
char scratchLine[PacketLog::kSlotSize];

namespace {

LogWriter logWriter = AppendLogText;

}  // namespace

void LogLine(const char* text) {
  // Bounded so that no text, however long, can run past its slot.
  std::uint32_t length = 0;
  while (length < PacketLog::kSlotSize - 1 && text[length] != '\0') ++length;

  char* slot = packetLog.slots[packetLog.count];
  ++packetLog.count;
  CopyBytes(reinterpret_cast<const std::uint8_t*>(text), reinterpret_cast<std::uint8_t*>(slot),
            length);
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
  for (std::int32_t i = 0; i < packetLog.count; ++i) logWriter(packetLog.slots[i]);
  packetLog.count = 0;
  WriteOutLogText();
}

void SetLogWriter(LogWriter writer) {
  logWriter = writer != nullptr ? writer : AppendLogText;
}

}  // namespace tessard
