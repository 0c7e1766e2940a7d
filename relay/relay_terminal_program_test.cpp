// The real relay under a terminal with job control, idle on the inputs a
// shell gives it, and in a directory that is gone: what a shell user meets.
// POSIX only: a pseudo-terminal stands in for the user's, and a "shell"
// process leads its session.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

#include "testing/loopback.h"
#include "testing/relay_harness.h"

namespace tessard::testing {
namespace {

// Waits up to timeoutMs for pid; its exit status, or -1.
int WaitForPid(pid_t pid, int timeoutMs) {
  for (int waited = 0; waited <= timeoutMs; waited += 10) {
    int status = 0;
    if (::waitpid(pid, &status, WNOHANG) == pid) {
      return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return -1;
}

void RedirectOutputs(const RelayHarness& relay) {
  const int console =
      ::open((relay.directory / "console.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  const int errors =
      ::open((relay.directory / "errors.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  ::dup2(console, STDOUT_FILENO);
  ::dup2(errors, STDERR_FILENO);
}

// The relay in a session of its own whose controlling terminal is a fresh
// pseudo-terminal, started in the foreground process group or outside it,
// as an interactive shell does with `tessard` and `tessard &`.
class TerminalSession {
 public:
  TerminalSession(RelayHarness& relay, bool foreground) {
    terminal = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (terminal == -1 || ::grantpt(terminal) != 0 || ::unlockpt(terminal) != 0) return;
    const std::string follower = ::ptsname(terminal);
    int relayPid[2];
    int go[2];
    if (::pipe(relayPid) != 0 || ::pipe(go) != 0 || ::pipe(commands) != 0) return;
    shell = ::fork();
    if (shell == 0) {
      ::setsid();
      const int tty = ::open(follower.c_str(), O_RDWR);  // becomes the controlling terminal
      const pid_t child = ::fork();
      if (child == 0) {
        char ready;
        if (::read(go[0], &ready, 1) != 1) ::_exit(126);
        ::dup2(tty, STDIN_FILENO);
        RedirectOutputs(relay);
        if (::chdir(relay.directory.c_str()) != 0) ::_exit(126);
        ::execl(RelayExecutable(), RelayExecutable(), static_cast<char*>(nullptr));
        ::_exit(127);
      }
      ::setpgid(child, child);
      if (foreground) ::tcsetpgrp(tty, child);
      if (::write(relayPid[1], &child, sizeof child) != sizeof child) ::_exit(126);
      if (::write(go[1], "g", 1) != 1) ::_exit(126);
      // `fg` on request, until the relay ends.
      for (;;) {
        pollfd request{commands[0], POLLIN, 0};
        char command;
        if (::poll(&request, 1, 10) == 1 && ::read(commands[0], &command, 1) == 1) {
          ::tcflush(tty, TCIFLUSH);  // the shell has read the lines typed at it
          ::tcsetpgrp(tty, child);
        }
        int status = 0;
        if (::waitpid(child, &status, WNOHANG) == child) {
          ::_exit(WIFEXITED(status) ? WEXITSTATUS(status) : 125);
        }
      }
    }
    ::close(relayPid[1]);
    if (::read(relayPid[0], &relayProcess, sizeof relayProcess) != sizeof relayProcess) {
      relayProcess = -1;
    }
    ::close(relayPid[0]);
    ::close(go[0]);
    ::close(go[1]);
  }

  ~TerminalSession() {
    if (relayProcess > 0) ::kill(relayProcess, SIGKILL);
    if (shell > 0) {
      ::kill(shell, SIGKILL);
      ::waitpid(shell, nullptr, 0);
    }
    if (terminal != -1) ::close(terminal);
    for (const int end : commands) {
      if (end != -1) ::close(end);
    }
  }

  bool Started() const { return relayProcess > 0; }
  // `fg` of a job running in the background: the shell reads its command
  // line, then hands over the terminal, with no signal.
  void BringToForeground() const { EXPECT_EQ(::write(commands[1], "f", 1), 1); }
  void Type(const std::string& keys) const {
    EXPECT_EQ(::write(terminal, keys.data(), keys.size()), static_cast<ssize_t>(keys.size()));
  }
  bool Canonical() const {
    termios mode{};
    ::tcgetattr(terminal, &mode);
    return (mode.c_lflag & ICANON) != 0;
  }
  // What a shell does when its job is stopped: it puts back its own mode.
  void RestoreShellMode() const {
    termios mode{};
    ::tcgetattr(terminal, &mode);
    mode.c_lflag |= ICANON | ECHO;
    ::tcsetattr(terminal, TCSANOW, &mode);
  }
  int WaitForExit() {
    const int status = WaitForPid(shell, 10000);
    if (status != -1) shell = relayProcess = -1;
    return status;
  }

  int terminal = -1;
  int commands[2] = {-1, -1};
  pid_t shell = -1;
  pid_t relayProcess = -1;
};

bool Relaying(RelayHarness& relay) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    relay.SendToRelay(relay.clientAux, static_cast<std::uint16_t>(relay.relayPort + 1), "probe");
    if (ReceiveWithin(relay.serverAux, 50)) return true;
  }
  return false;
}

TEST(RelayTerminal, InTheBackgroundItRelaysAndLeavesTheKeysToTheShellUntilBroughtBack) {
  RelayHarness relay;
  WriteWholeFile(relay.directory / "TESSARD.INI", relay.RoutedSettings());
  TerminalSession session(relay, /*foreground=*/false);
  ASSERT_TRUE(session.Started());
  ASSERT_TRUE(Relaying(relay)) << "stopped by the terminal before binding its ports?";
  EXPECT_TRUE(session.Canonical()) << "the shell's terminal mode was changed";

  // A command typed at the shell is not a key press for the relay.
  session.Type("ls\n");
  EXPECT_EQ(relay.CarryGame(relay.clientGame, relay.serverGame, "still here"), "still here");
  EXPECT_EQ(WaitForPid(session.shell, 100), -1);

  // `fg`: the relay takes the terminal, and one key ends it. Handed back
  // without a signal, the terminal is taken soon, busy as the relay is
  // with a datagram every 10 ms (an idle relay takes it at its next
  // wake-up, within a second).
  session.BringToForeground();
  for (int attempt = 0; attempt < 200 && session.Canonical(); ++attempt) {
    relay.SendToRelay(relay.clientAux, static_cast<std::uint16_t>(relay.relayPort + 1), "busy");
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_FALSE(session.Canonical());
  session.Type("q");
  EXPECT_EQ(session.WaitForExit(), 0);
  EXPECT_TRUE(session.Canonical()) << "the terminal's mode was not given back";
  EXPECT_EQ(relay.Errors(), "");
}

TEST(RelayTerminal, BroughtBackAfterAStopOneKeyStillEndsIt) {
  RelayHarness relay;
  WriteWholeFile(relay.directory / "TESSARD.INI", relay.RoutedSettings());
  TerminalSession session(relay, /*foreground=*/true);
  ASSERT_TRUE(session.Started());
  ASSERT_TRUE(Relaying(relay));
  EXPECT_FALSE(session.Canonical()) << "keys must reach the relay one by one";

  // Ctrl-Z, the shell takes its mode back, then `fg`. What arrived while
  // the relay was stopped waited in its socket: as much as the socket
  // holds on this machine, up to 520 KB.
  const int whileStopped = std::min(1000, DatagramsASocketHolds());
  if (whileStopped < 50) {
    GTEST_SKIP() << "a socket holds only " << whileStopped << " datagrams here";
  }
  while (relay.serverAux.Receive()) {
  }
  ::kill(session.relayProcess, SIGSTOP);
  session.RestoreShellMode();
  for (int i = 0; i < whileStopped; ++i) {
    relay.SendToRelay(relay.clientAux, static_cast<std::uint16_t>(relay.relayPort + 1),
                      std::to_string(i) + std::string(510, '.'));
  }
  ::kill(session.relayProcess, SIGCONT);
  int carried = 0;
  while (carried < whileStopped) {
    const auto datagram = ReceiveWithin(relay.serverAux, 2000);
    if (!datagram || Bytes(*datagram) != std::to_string(carried) + std::string(510, '.')) break;
    ++carried;
  }
  EXPECT_EQ(carried, whileStopped) << "lost, changed or out of order at this one";
  ASSERT_TRUE(Relaying(relay));
  session.Type("q");
  EXPECT_EQ(session.WaitForExit(), 0);
  EXPECT_TRUE(session.Canonical()) << "the terminal's mode was not given back";
}

// A terminal that reports input with nothing to read (another reader took
// the key; here, a pending end-of-file mark of a mode put back by someone
// else) has not ended: the next key still ends the relay.
TEST(RelayTerminal, ReadableWithNothingToReadItStillTakesTheNextKey) {
  RelayHarness relay;
  WriteWholeFile(relay.directory / "TESSARD.INI", relay.RoutedSettings());
  TerminalSession session(relay, /*foreground=*/true);
  ASSERT_TRUE(session.Started());
  ASSERT_TRUE(Relaying(relay));
  session.RestoreShellMode();
  session.Type("\x04");  // VEOF: readable, yet FIONREAD counts nothing
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(WaitForPid(session.shell, 0), -1) << "ended without a key";
  ASSERT_TRUE(Relaying(relay));
  session.Type("q\n");
  EXPECT_EQ(session.WaitForExit(), 0);
}

// What a process has done: its CPU time, and the times it was given the
// processor (each wake-up from a wait). A process that spins wakes seldom
// but uses the CPU, so both are needed. Zeros where /proc does not tell.
struct Activity {
  long long cpuNs = 0;
  long long runs = 0;
};

Activity ActivityOf(pid_t pid) {
  Activity activity;
  long long waitingNs = 0;
  std::ifstream("/proc/" + std::to_string(pid) + "/schedstat") >> activity.cpuNs >> waitingNs >>
      activity.runs;
  return activity;
}

// Idle, the relay sleeps until a datagram, a key or a stop comes, whatever
// its standard input: about one wake-up a second, none for an input that
// has ended (which poll() would report readable for ever), and a key or a
// stop still ends it at once.
TEST(RelayTerminal, IdleItSleepsYetAKeyOrAStopEndsItAtOnce) {
  enum class Input { kSilentPipe, kEndedPipe, kNullDevice };
  for (const Input input : {Input::kSilentPipe, Input::kEndedPipe, Input::kNullDevice}) {
    SCOPED_TRACE(input == Input::kSilentPipe  ? "a silent pipe, stopped by a key"
                 : input == Input::kEndedPipe ? "a pipe at end of input, stopped by SIGTERM"
                                              : "/dev/null, stopped by SIGTERM");
    RelayHarness relay;
    WriteWholeFile(relay.directory / "TESSARD.INI", relay.RoutedSettings());
    int keys[2];
    ASSERT_EQ(::pipe(keys), 0);
    const pid_t child = ::fork();
    if (child == 0) {
      const int stdinFrom = input == Input::kNullDevice ? ::open("/dev/null", O_RDONLY) : keys[0];
      ::dup2(stdinFrom, STDIN_FILENO);
      ::close(keys[1]);
      RedirectOutputs(relay);
      if (::chdir(relay.directory.c_str()) != 0) ::_exit(126);
      ::execl(RelayExecutable(), RelayExecutable(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    ASSERT_GT(child, 0);
    ::close(keys[0]);
    if (input != Input::kSilentPipe) ::close(keys[1]);
    const bool relaying = Relaying(relay);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));  // done with the probes
    const Activity before = ActivityOf(child);
    std::this_thread::sleep_for(std::chrono::seconds(2));
    const Activity after = ActivityOf(child);

    if (input == Input::kSilentPipe) {
      EXPECT_EQ(::write(keys[1], "q", 1), 1);
    } else {
      ::kill(child, SIGTERM);
    }
    const int status = WaitForPid(child, 500);
    if (status == -1) ::kill(child, SIGKILL), ::waitpid(child, nullptr, 0);
    if (input == Input::kSilentPipe) ::close(keys[1]);
    ASSERT_TRUE(relaying);
    if (before.runs == 0) GTEST_SKIP() << "no /proc/<pid>/schedstat here";
    EXPECT_LE(after.runs - before.runs, 4) << "wake-ups over 2 s idle";
    EXPECT_LE(after.cpuNs - before.cpuNs, 50'000'000) << "CPU ns over 2 s idle";
    EXPECT_EQ(status, 0) << "not ended within 500 ms";
    EXPECT_EQ(relay.Errors(), "");
  }
}

TEST(RelayTerminal, SaysSoWhenItsDirectoryIsGone) {
  RelayHarness relay;
  const std::filesystem::path gone = relay.directory / "gone";
  std::filesystem::create_directories(gone);
  const pid_t child = ::fork();
  if (child == 0) {
    RedirectOutputs(relay);
    if (::chdir(gone.c_str()) != 0 || ::rmdir(gone.c_str()) != 0) ::_exit(126);
    ::execl(RelayExecutable(), RelayExecutable(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ASSERT_GT(child, 0);
  const int status = WaitForPid(child, 10000);
  if (status == -1) ::kill(child, SIGKILL), ::waitpid(child, nullptr, 0);
  EXPECT_EQ(status, 1);
  EXPECT_EQ(relay.Errors(),
            "tessard: cannot read the current directory, where TESSARD.INI is looked for: No "
            "such file or directory\n");
  EXPECT_EQ(relay.Console(), "Packet-logging Proxy Server (Build 1)\nLoading settings..\n");
}

}  // namespace
}  // namespace tessard::testing
