#include "testing/fake_output.h"

#include <algorithm>
#include <cstdio>

namespace tessard::testing {

namespace {

constexpr std::size_t kAtomicWrite = 4096;  // PIPE_BUF on Linux

}  // namespace

void FakeOutput::Read() {
  for (; now - readAt >= readerEveryMs; readAt += readerEveryMs) {
    const std::uint32_t turn = readAt + readerEveryMs;
    const bool idle = readerCycleMs > 0 && turn % readerCycleMs < readerIdleMs;
    if (!idle) inPipe -= std::min(inPipe, readerTakes);
  }
}

std::int64_t FakeOutput::Write(const std::uint8_t* bytes, std::uint32_t length,
                               std::uint32_t waitMs, char* reason, std::uint32_t reasonSize) {
  ++writes;
  if (room == 0) {
    std::snprintf(reason, reasonSize, "No space left on device");
    return -1;
  }
  std::size_t fits = std::string::npos;
  if (pipeSize > 0) {
    const std::uint32_t until = now + waitMs;
    for (;;) {
      Read();
      fits = pipeSize - inPipe;
      if (length <= kAtomicWrite && fits < length) fits = 0;
      if (fits > 0 || now == until) break;
      // Asleep until the reader's next turn or the end of the wait.
      const std::uint32_t step = std::min(readAt + readerEveryMs - now, until - now);
      now += step;
      waitedMs += step;
    }
    if (fits == 0) return 0;
  }
  const std::size_t taken = std::min({std::size_t{length}, room, perWrite, fits});
  file.append(reinterpret_cast<const char*>(bytes), taken);
  if (room != std::string::npos) room -= taken;
  inPipe += pipeSize > 0 ? taken : 0;
  return static_cast<std::int64_t>(taken);
}

bool FakeOutput::CutBack(std::uint64_t length, char* reason, std::uint32_t reasonSize) {
  ++cutBacks;
  if (cutBackFails) {
    std::snprintf(reason, reasonSize, "Illegal seek");
    return false;
  }
  file.resize(static_cast<std::size_t>(length));
  return true;
}

bool FakeOutput::Close(char* reason, std::uint32_t reasonSize) {
  ++closes;
  if (!closeFails) return true;
  std::snprintf(reason, reasonSize, "Input/output error");
  return false;
}

}  // namespace tessard::testing
