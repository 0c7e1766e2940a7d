// The road from the packet log's store to the log file: the text of each
// write-out is given CR LF line ends, collected, and handed to the log's
// output in as few writes as it takes, under the rule of OutputWriter: a
// failed write is seen at once, the file keeps whole lines only, and
// nothing is written after it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/output_writer.h"

namespace tessard {

// Collects text for the log with every "\n" as CR LF, so that a log is byte
// for byte the same on every platform. Writes out early only when the
// collection fills. Nothing is kept once a write has failed.
void AppendLogText(const char* text);

// AppendLogText for count pieces of at most 255 characters each, the
// first at first and each stride bytes after the one before: the packet
// log's write-out, without a call a piece.
void AppendLogPieces(const char* first, std::size_t stride, std::int32_t count);

// Hands everything collected to the output. After the first failure the
// output is never written again. False once any write has failed.
bool WriteOutLogText();

bool LogOutputFailed();

// Writes out what is collected and closes the output (standard output is
// left open). False when the log is not whole.
bool CloseLogOutput();

// Where the log goes from now on; the caller keeps target, and nullptr
// means standard output. Forgets an earlier failure and anything collected.
void SetLogOutput(OutputTarget* target);
// Told once, at the first failure (nullptr: no one).
void SetLogFailureHandler(OutputWriter::FailureHandler handler);

}  // namespace tessard
