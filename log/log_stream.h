// The road from the packet log's store to the log file: the text of each
// write-out is given CR LF line ends, collected, and handed to standard
// output in as few writes as it takes, so that a failed write is seen at
// once and nothing is written after it.
#pragma once

#include <cstdint>

namespace tessard {

// Where the collected text goes: all of bytes, or false with the reason.
// By default standard output (platform::WriteStandardOutput).
using LogOutput = bool (*)(const char* bytes, std::uint32_t length, char* reason,
                           std::uint32_t reasonSize);
// Told once, at the first failed write, with the reason.
using LogFailureHandler = void (*)(const char* reason);

// Collects text for the log with every "\n" as CR LF, so that a log is byte
// for byte the same on every platform. Writes out early only when the
// collection fills. Nothing is kept once a write has failed.
void AppendLogText(const char* text);

// Hands everything collected to the output. After the first failure the
// output is never called again, so the file stays a clean beginning of the
// log. False once any write has failed.
bool WriteOutLogText();

bool LogOutputFailed();

// nullptr restores the defaults (standard output; no handler). Replacing
// the output also forgets an earlier failure and anything collected.
void SetLogOutput(LogOutput output);
void SetLogFailureHandler(LogFailureHandler handler);

}  // namespace tessard
