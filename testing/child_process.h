// A child process for the whole-program tests: started in a directory of
// the test's choosing, with a pipe on its standard input and its standard
// output and error written to files.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tessard::testing {

class ChildProcess {
 public:
  ChildProcess() = default;
  // A child still running is killed.
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Starts command (the program, then its arguments) in workingDirectory;
  // a child started before is killed first.
  bool Start(const std::vector<std::string>& command, const std::string& workingDirectory,
             const std::string& stdoutPath, const std::string& stderrPath);
  // Starts program with no arguments.
  bool Start(const std::string& program, const std::string& workingDirectory,
             const std::string& stdoutPath, const std::string& stderrPath) {
    return Start(std::vector<std::string>{program}, workingDirectory, stdoutPath, stderrPath);
  }
  // Writes bytes to the child's standard input.
  bool WriteToStandardInput(const std::string& bytes);
  // Asks the child to stop as SIGTERM does (on Windows: Ctrl-C); false when
  // the request could not be sent.
  bool RequestStop();
  // Holds the child off the processor (SIGSTOP) or lets it run again
  // (SIGCONT); false where a child cannot be held (Windows).
  bool Hold(bool held);
  // Waits up to timeoutMs for the child to end; its exit status, or -1
  // when it did not end in time or ended by a signal.
  int WaitForExit(std::uint32_t timeoutMs);
  bool Running() const { return running; }
  // The child's process id, 0 before it was started.
  std::uint32_t ProcessId() const { return processId; }
  // Ends the child at once and reaps it.
  void Kill();

 private:
  std::intptr_t process = -1;  // a pid or a process handle
  std::uint32_t processId = 0;
  std::intptr_t inputPipe = -1;
  bool running = false;
};

}  // namespace tessard::testing
