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
  // Hands over up to length bytes: how many were taken (fewer than length
  // is a short write), or -1.
  virtual std::int64_t Write(const std::uint8_t* bytes, std::uint32_t length, char* reason,
                             std::uint32_t reasonSize) = 0;
  // Cuts the output back to its first length bytes; false when it cannot
  // (a pipe keeps what it was given).
  virtual bool CutBack(std::uint64_t length, char* reason, std::uint32_t reasonSize) = 0;
  virtual bool Close(char* reason, std::uint32_t reasonSize) = 0;
};

// An output file opened through the platform (platform.h), written straight
// through with no buffer between.
class FileOutput : public OutputTarget {
 public:
  explicit FileOutput(int descriptor) : descriptor(descriptor) {}
  std::int64_t Write(const std::uint8_t* bytes, std::uint32_t length, char* reason,
                     std::uint32_t reasonSize) override;
  bool CutBack(std::uint64_t length, char* reason, std::uint32_t reasonSize) override;
  // Closes the descriptor, once.
  bool Close(char* reason, std::uint32_t reasonSize) override;

 private:
  int descriptor;
};

class OutputWriter {
 public:
  // Told once, at the first failure, with its reason; endMayBeTorn when
  // part of a line or record had reached the output and it could not be
  // cut back.
  using FailureHandler = void (*)(const char* reason, bool endMayBeTorn);

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

 private:
  void Fail(const char* why);

  OutputTarget* target = nullptr;
  FailureHandler onFailure = nullptr;
  bool failed = false;
  std::uint64_t delivered = 0;  // bytes the target has taken
  std::uint64_t clean = 0;      // the end of the last whole line or record
  char reason[256] = "";
};

}  // namespace tessard
