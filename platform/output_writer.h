// The one rule for an output the user asked for (the log, the capture):
// after its first failure nothing more is written, the output keeps a clean
// prefix of whole lines or records, the failure is told once, and the output
// counts as incomplete. The bytes go to an OutputTarget: a file of the
// system's here, a fake one in the tests.
#pragma once

#include <cstdint>

namespace tessard {

// Where an OutputWriter's bytes go. Each call that fails puts the reason
// into reason (always terminated).
class OutputTarget {
 public:
  virtual ~OutputTarget() = default;
  // Hands over up to length bytes, waiting up to waitMs for room when there
  // is none (a pipe whose reader is behind): how many were taken (fewer
  // than length is a short write), 0 when no room came in time, or -1.
  virtual std::int64_t Write(const std::uint8_t* bytes, std::uint32_t length, std::uint32_t waitMs,
                             char* reason, std::uint32_t reasonSize) = 0;
  // Cuts the output back to its first length bytes; false when it cannot
  // (a pipe keeps what it was given).
  virtual bool CutBack(std::uint64_t length, char* reason, std::uint32_t reasonSize) = 0;
  virtual bool Close(char* reason, std::uint32_t reasonSize) = 0;
  // Milliseconds, wrapping, on the clock that Write's waits run by.
  virtual std::uint32_t Now() const = 0;
  // Whether the output is a pipe whose reader has gone (another may come).
  virtual bool ReaderLeft() const { return false; }
  // Whether the relay's wait between passes ends when the reader leaves.
  virtual void WakeWhenReaderLeaves(bool /*wake*/) {}
};

// An output file opened through the platform (platform.h), written straight
// through with no buffer between.
class FileOutput : public OutputTarget {
 public:
  explicit FileOutput(int descriptor) : descriptor(descriptor) {}
  ~FileOutput() override { WakeWhenReaderLeaves(false); }
  std::int64_t Write(const std::uint8_t* bytes, std::uint32_t length, std::uint32_t waitMs,
                     char* reason, std::uint32_t reasonSize) override;
  bool CutBack(std::uint64_t length, char* reason, std::uint32_t reasonSize) override;
  // Closes the descriptor, once.
  bool Close(char* reason, std::uint32_t reasonSize) override;
  std::uint32_t Now() const override;
  bool ReaderLeft() const override;
  void WakeWhenReaderLeaves(bool wake) override;

 private:
  int descriptor;
  bool watched = false;
};

// A write that finds no room in the output waits for it, but never long:
// each write has one deadline, kOutputWaitMs from its start, however many
// partial writes it takes. A write that begins within kOutputWaitMs of the
// end of an earlier write's wait keeps that earlier write's deadline, so a
// reader that takes a little at a time holds the relay no longer than one
// write would, whether the writes are large (the log) or small (capture
// records). An output whose deadline passes is given up.
class OutputWriter {
 public:
  // Told once, at the first failure, with its reason; endMayBeTorn when
  // part of a line or record had reached the output and it could not be
  // cut back; readerLeft when the output is a pipe whose reader has gone.
  using FailureHandler = void (*)(const char* reason, bool endMayBeTorn, bool readerLeft);

  OutputWriter() = default;
  explicit OutputWriter(OutputTarget* target) : target(target) {}

  // Writes to target from now on (the caller keeps it), forgetting an
  // earlier output and its failure.
  void Start(OutputTarget* target);
  void SetFailureHandler(FailureHandler handler) { onFailure = handler; }

  // Hands all of bytes to the target, going on after a short write.
  // completeLength tells how many of the first bytes end a whole line or
  // record (0: none ends in them); the clean prefix grows to there. The
  // first write that fails cuts the output back to its clean prefix and
  // ends it. False when this or an earlier write failed, or the output is
  // closed.
  bool Write(const void* bytes, std::uint32_t length, std::uint32_t completeLength);
  // Ends the output with this reason as if a write had failed.
  void GiveUp(const char* reason);
  // Closes the target. A failed close makes the output incomplete and is
  // told unless a failure was told before. False when the output is not
  // whole.
  bool Close();

  bool HasTarget() const { return target != nullptr; }
  bool Failed() const { return failed; }
  // Why it failed; empty while it has not.
  const char* Reason() const { return reason; }
  // Whether it failed because the output is a pipe whose reader has gone.
  bool ReaderLeft() const { return readerLeft; }

 private:
  // Waits for room for the bytes at at; what the target then took, 0 when
  // the deadline passed first (why then says so), or -1.
  std::int64_t WaitForRoom(const std::uint8_t* at, std::uint32_t left, std::uint32_t startedAt,
                           bool& waitedBefore, char* why, std::uint32_t whySize);
  void Fail(const char* why);

  OutputTarget* target = nullptr;
  FailureHandler onFailure = nullptr;
  bool failed = false;
  bool readerLeft = false;
  std::uint64_t delivered = 0;  // bytes the target has taken
  std::uint64_t clean = 0;      // the end of the last whole line or record
  // The latest run of waits: when the write that began it started, what
  // had been delivered when its first wait began, when its last wait ended.
  bool hasWaited = false;
  std::uint32_t waitsStartedAt = 0;
  std::uint64_t deliveredBeforeWaits = 0;
  std::uint32_t lastWaitEndedAt = 0;
  char reason[256] = "";
};

}  // namespace tessard
