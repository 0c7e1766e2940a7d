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
FileOutput standardOutput(platform::StandardOutputDescriptor());
OutputTarget* target = &standardOutput;
OutputWriter output(&standardOutput);

// How many of the first bytes collected end in whole lines.
std::uint32_t WholeLinesLength() {
  std::uint32_t length = collectedLength;
  while (length > 0 && collected[length - 1] != '\n') --length;
  return length;
}

}  // namespace

void AppendLogText(const char* text) {
  if (output.Failed()) return;
  // One pass a character: the store hands over a piece of three characters
  // a dumped byte, where calls to measure, search and copy each cost more
  // than the characters. Longer texts than the store's pieces are taken in
  // turns, each sure of room for every character being a line end.
  while (*text != '\0') {
    if (collectedLength + kLargestPiece > kCollectionSize && !WriteOutLogText()) return;
    char* at = collected + collectedLength;
    for (std::uint32_t taken = 0; taken < kLargestPiece / 2 && *text != '\0'; ++taken, ++text) {
      if (*text == '\n') *at++ = '\r';
      *at++ = *text;
    }
    collectedLength = static_cast<std::uint32_t>(at - collected);
  }
}

void AppendLogPieces(const char* first, std::size_t stride, std::int32_t count) {
  for (std::int32_t i = 0; i < count && !output.Failed(); ++i) {
    if (collectedLength + kLargestPiece > kCollectionSize && !WriteOutLogText()) return;
    char* at = collected + collectedLength;
    for (const char* text = first + static_cast<std::size_t>(i) * stride; *text != '\0'; ++text) {
      if (*text == '\n') *at++ = '\r';
      *at++ = *text;
    }
    collectedLength = static_cast<std::uint32_t>(at - collected);
  }
}

bool WriteOutLogText() {
  const std::uint32_t whole = WholeLinesLength();
  const std::uint32_t length = collectedLength;
  collectedLength = 0;
  if (length == 0) return !output.Failed();
  return output.Write(collected, length, whole);
}

bool LogOutputFailed() { return output.Failed(); }

bool CloseLogOutput() {
  const bool written = WriteOutLogText();
  if (target == &standardOutput) return written;
  return output.Close();
}

void SetLogOutput(OutputTarget* replacement) {
  target = replacement != nullptr ? replacement : &standardOutput;
  output.Start(target);
  collectedLength = 0;
}

void SetLogFailureHandler(OutputWriter::FailureHandler handler) {
  output.SetFailureHandler(handler);
}

}  // namespace tessard
