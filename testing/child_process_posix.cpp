#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>

#include "testing/child_process.h"

namespace tessard::testing {
namespace {

void PauseOneMillisecond() {
  timespec pause{0, 1000000L};
  nanosleep(&pause, nullptr);
}

}  // namespace

ChildProcess::~ChildProcess() {
  Kill();
  if (inputPipe != -1) close(static_cast<int>(inputPipe));
}

bool ChildProcess::Start(const std::vector<std::string>& command,
                         const std::string& workingDirectory, const std::string& stdoutPath,
                         const std::string& stderrPath) {
  Kill();
  if (inputPipe != -1) close(static_cast<int>(inputPipe));
  inputPipe = -1;
  if (command.empty()) return false;
  int pipeEnds[2];
  if (pipe(pipeEnds) != 0) return false;
  const pid_t child = fork();
  if (child == -1) {
    close(pipeEnds[0]);
    close(pipeEnds[1]);
    return false;
  }
  if (child == 0) {
    // A test that crashes must not leave its relay running.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    // The relay starts as a shell starts it, with the signals this process
    // ignores (SIGPIPE, below) back at their defaults.
    signal(SIGPIPE, SIG_DFL);
    signal(SIGXFSZ, SIG_DFL);
    const int output = open(stdoutPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int error = open(stderrPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (output == -1 || error == -1 || chdir(workingDirectory.c_str()) != 0) _exit(127);
    dup2(pipeEnds[0], STDIN_FILENO);
    dup2(output, STDOUT_FILENO);
    dup2(error, STDERR_FILENO);
    close(pipeEnds[0]);
    close(pipeEnds[1]);
    close(output);
    close(error);
    std::vector<char*> arguments;
    for (const std::string& argument : command)
      arguments.push_back(const_cast<char*>(argument.c_str()));
    arguments.push_back(nullptr);
    execv(arguments[0], arguments.data());
    _exit(127);
  }
  close(pipeEnds[0]);
  fcntl(pipeEnds[1], F_SETFD, FD_CLOEXEC);
  signal(SIGPIPE, SIG_IGN);  // a child that is gone must not take the test with it
  process = child;
  processId = static_cast<std::uint32_t>(child);
  inputPipe = pipeEnds[1];
  running = true;
  return true;
}

bool ChildProcess::WriteToStandardInput(const std::string& bytes) {
  if (inputPipe == -1) return false;
  return write(static_cast<int>(inputPipe), bytes.data(), bytes.size()) ==
         static_cast<ssize_t>(bytes.size());
}

bool ChildProcess::RequestStop() {
  return running && kill(static_cast<pid_t>(process), SIGTERM) == 0;
}

bool ChildProcess::Hold(bool held) {
  return running && kill(static_cast<pid_t>(process), held ? SIGSTOP : SIGCONT) == 0;
}

int ChildProcess::WaitForExit(std::uint32_t timeoutMs) {
  if (!running) return -1;
  for (std::uint32_t waited = 0;; ++waited) {
    int status = 0;
    const pid_t ended = waitpid(static_cast<pid_t>(process), &status, WNOHANG);
    if (ended == static_cast<pid_t>(process)) {
      running = false;
      return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    if (ended == -1 && errno != EINTR) {
      running = false;
      return -1;
    }
    if (waited >= timeoutMs) return -1;
    PauseOneMillisecond();
  }
}

void ChildProcess::Kill() {
  if (!running) return;
  kill(static_cast<pid_t>(process), SIGKILL);
  int status = 0;
  waitpid(static_cast<pid_t>(process), &status, 0);
  running = false;
}

}  // namespace tessard::testing
