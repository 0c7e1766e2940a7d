#include "log/log_stream.h"

#include <cstring>

#include "platform/platform.h"

namespace tessard {
namespace {

// Larger than a whole write-out of the store in the usual case (1000 short
// pieces), so one write-out is one system call.
constexpr std::uint32_t kCollectionSize = 64 * 1024;
// A piece of up to 255 characters, every one of them a line end.
constexpr std::uint32_t kLargestPiece = 2 * 255;

char collected[kCollectionSize];
std::uint32_t collectedLength = 0;
bool failed = false;
LogOutput output = platform::WriteStandardOutput;
LogFailureHandler failureHandler = nullptr;

void Collect(const char* bytes, std::size_t length) {
  std::memcpy(collected + collectedLength, bytes, length);
  collectedLength += static_cast<std::uint32_t>(length);
}

}  // namespace

void AppendLogText(const char* text) {
  if (failed) return;
  std::size_t length = std::strlen(text);
  // Longer texts than the store's pieces are taken in turns.
  while (length > 0) {
    if (collectedLength + kLargestPiece > kCollectionSize && !WriteOutLogText()) return;
    const std::size_t part = length < kLargestPiece / 2 ? length : kLargestPiece / 2;
    const char* end = text + part;
    for (const char* start = text; start < end;) {
      const auto* newline = static_cast<const char*>(std::memchr(start, '\n', end - start));
      if (newline == nullptr) {
        Collect(start, static_cast<std::size_t>(end - start));
        break;
      }
      Collect(start, static_cast<std::size_t>(newline - start));
      Collect("\r\n", 2);
      start = newline + 1;
    }
    text = end;
    length -= part;
  }
}

bool WriteOutLogText() {
  if (failed) return false;
  if (collectedLength == 0) return true;
  char reason[256] = {};
  const std::uint32_t length = collectedLength;
  collectedLength = 0;
  if (output(collected, length, reason, sizeof(reason))) return true;
  failed = true;
  if (failureHandler != nullptr) failureHandler(reason);
  return false;
}

bool LogOutputFailed() { return failed; }

void SetLogOutput(LogOutput replacement) {
  output = replacement != nullptr ? replacement : platform::WriteStandardOutput;
  failed = false;
  collectedLength = 0;
}

void SetLogFailureHandler(LogFailureHandler handler) { failureHandler = handler; }

}  // namespace tessard
