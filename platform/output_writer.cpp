#include "platform/output_writer.h"

#include <cstdio>

#include "platform/platform.h"

namespace tessard {

std::int64_t FileOutput::Write(const std::uint8_t* bytes, std::uint32_t length,
                               std::uint32_t waitMs, char* reason, std::uint32_t reasonSize) {
  return platform::WriteOutputFile(descriptor, bytes, length, waitMs, reason, reasonSize);
}

bool FileOutput::CutBack(std::uint64_t length, char* reason, std::uint32_t reasonSize) {
  return platform::TruncateOutputFile(descriptor, length, reason, reasonSize);
}

bool FileOutput::Close(char* reason, std::uint32_t reasonSize) {
  if (descriptor == -1) return true;
  WakeWhenReaderLeaves(false);
  const int closing = descriptor;
  descriptor = -1;  // released even when closing reports an error
  return platform::CloseOutputFile(closing, reason, reasonSize);
}

std::uint32_t FileOutput::Now() const { return platform::TickCount(); }

bool FileOutput::ReaderLeft() const { return platform::OutputReaderLeft(descriptor); }

void FileOutput::WakeWhenReaderLeaves(bool wake) {
  if (wake == watched || descriptor == -1) return;
  watched = wake;
  platform::WatchOutputReader(wake ? descriptor : -1);
}

void OutputWriter::Start(OutputTarget* replacement) {
  target = replacement;
  failed = false;
  readerLeft = false;
  delivered = 0;
  clean = 0;
  hasWaited = false;
  reason[0] = '\0';
}

bool OutputWriter::Write(const void* bytes, std::uint32_t length, std::uint32_t completeLength) {
  if (failed || target == nullptr) return false;
  const auto* at = static_cast<const std::uint8_t*>(bytes);
  const std::uint64_t start = delivered;
  const std::uint32_t startedAt = target->Now();
  bool waited = false;
  for (std::uint32_t left = length; left > 0;) {
    char why[sizeof(reason)] = "";
    std::int64_t taken = target->Write(at, left, 0, why, sizeof(why));
    if (taken == 0) taken = WaitForRoom(at, left, startedAt, waited, why, sizeof(why));
    if (taken > 0 && taken <= left) {
      at += taken;
      left -= static_cast<std::uint32_t>(taken);
      delivered += static_cast<std::uint64_t>(taken);
      continue;
    }
    // The whole lines of a write cut short are kept all the same.
    if (completeLength > 0 && delivered - start >= completeLength) clean = start + completeLength;
    Fail(why);
    return false;
  }
  if (completeLength > 0) clean = start + completeLength;
  return true;
}

std::int64_t OutputWriter::WaitForRoom(const std::uint8_t* at, std::uint32_t left,
                                       std::uint32_t startedAt, bool& waitedBefore, char* why,
                                       std::uint32_t whySize) {
  if (!waitedBefore) {
    waitedBefore = true;
    // A write that began soon after the last wait ended belongs to the same
    // run of waits, and to its deadline.
    if (!hasWaited || startedAt - lastWaitEndedAt >= platform::kOutputWaitMs) {
      waitsStartedAt = startedAt;
      deliveredBeforeWaits = delivered;
    }
    hasWaited = true;
  }
  const std::uint32_t spent = target->Now() - waitsStartedAt;
  std::int64_t taken = 0;
  if (spent < platform::kOutputWaitMs) {
    taken = target->Write(at, left, platform::kOutputWaitMs - spent, why, whySize);
  }
  lastWaitEndedAt = target->Now();
  if (taken == 0) {
    std::snprintf(why, whySize, "its reader took %s for %u ms",
                  delivered == deliveredBeforeWaits ? "nothing" : "too little",
                  static_cast<unsigned>(platform::kOutputWaitMs));
  }
  return taken;
}

void OutputWriter::GiveUp(const char* why) {
  if (!failed) Fail(why);
}

bool OutputWriter::Close() {
  if (target == nullptr) return !failed;
  char why[sizeof(reason)] = "";
  const bool closed = target->Close(why, sizeof(why));
  target = nullptr;
  if (!closed && !failed) {
    failed = true;
    std::snprintf(reason, sizeof(reason), "%s", why);
    if (onFailure != nullptr) onFailure(reason, false, false);
  }
  return !failed;
}

void OutputWriter::Fail(const char* why) {
  failed = true;
  std::snprintf(reason, sizeof(reason), "%s", why);
  // Part of a line or record reached the output: readers stop at a torn
  // one, so it goes.
  bool torn = false;
  if (delivered > clean && target != nullptr) {
    char cutWhy[sizeof(reason)] = "";
    torn = !target->CutBack(clean, cutWhy, sizeof(cutWhy));
  }
  readerLeft = target != nullptr && target->ReaderLeft();
  if (onFailure != nullptr) onFailure(reason, torn, readerLeft);
}

}  // namespace tessard
