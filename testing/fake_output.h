// An output that keeps what it is given in memory and fails as files and
// pipes do, when told to: its room runs out (a write takes what fits, the
// next one fails), it takes a few bytes per call, cutting back or closing
// fails. It can also be a pipe with a reader of a given pace, on a clock of
// its own that only its waits move on.
#pragma once

#include <cstdint>
#include <string>

#include "platform/output_writer.h"

namespace tessard::testing {

class FakeOutput : public OutputTarget {
 public:
  std::int64_t Write(const std::uint8_t* bytes, std::uint32_t length, std::uint32_t waitMs,
                     char* reason, std::uint32_t reasonSize) override;
  bool CutBack(std::uint64_t length, char* reason, std::uint32_t reasonSize) override;
  bool Close(char* reason, std::uint32_t reasonSize) override;
  std::uint32_t Now() const override { return now; }

  std::string file;
  std::size_t room = std::string::npos;      // bytes it takes before it fails
  std::size_t perWrite = std::string::npos;  // bytes it takes in one call at most
  bool cutBackFails = false;
  bool closeFails = false;
  int writes = 0;
  int cutBacks = 0;
  int closes = 0;

  // A pipe of pipeSize bytes (none when 0): a write of up to 4096 bytes
  // goes in whole or not at all, a longer one takes what fits. Its reader
  // takes readerTakes bytes every readerEveryMs, except in the first
  // readerIdleMs of every readerCycleMs (0: it never idles).
  std::size_t pipeSize = 0;
  std::size_t readerTakes = 0;
  std::uint32_t readerEveryMs = 50;
  std::uint32_t readerIdleMs = 0;
  std::uint32_t readerCycleMs = 0;
  std::uint32_t now = 0;
  std::uint32_t waitedMs = 0;  // how long its writes have waited in all

 private:
  void Read();

  std::size_t inPipe = 0;
  std::uint32_t readAt = 0;
};

}  // namespace tessard::testing
