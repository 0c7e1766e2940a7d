#include "bench/relay_contenders.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "testing/loopback.h"

namespace tessard::bench {
namespace {

// Waits up to timeoutMs for pid to end; true when it did.
bool Reap(pid_t pid, int timeoutMs) {
  for (int waited = 0; waited <= timeoutMs; ++waited) {
    int status = 0;
    const pid_t ended = waitpid(pid, &status, WNOHANG);
    if (ended == pid || (ended == -1 && errno != EINTR)) return true;
    timespec pause{0, 1000000L};
    nanosleep(&pause, nullptr);
  }
  return false;
}

}  // namespace

const char* Name(RelayKind kind) {
  switch (kind) {
    case RelayKind::kMinimal:
      return "minimal";
    case RelayKind::kSocat:
      return "socat";
    case RelayKind::kTessard:
      return "tessard";
  }
  return "?";
}

Contender::~Contender() {
  for (const Process& process : processes_) {
    kill(process.pid, SIGKILL);
    Reap(process.pid, 10000);
    if (process.input != -1) close(process.input);
  }
}

bool Contender::Spawn(const std::vector<std::string>& arguments) {
  int pipeEnds[2];
  if (pipe(pipeEnds) != 0) return false;
  const std::string errors = (directory_ / "errors.txt").string();
  const std::string console = (directory_ / "console.txt").string();
  const pid_t child = fork();
  if (child == -1) {
    close(pipeEnds[0]);
    close(pipeEnds[1]);
    return false;
  }
  if (child == 0) {
    // A benchmark that crashes must not leave its relays running.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    const int output = open(console.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    const int error = open(errors.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (output == -1 || error == -1 || chdir(directory_.c_str()) != 0) _exit(127);
    dup2(pipeEnds[0], STDIN_FILENO);
    dup2(output, STDOUT_FILENO);
    dup2(error, STDERR_FILENO);
    close(pipeEnds[0]);
    close(pipeEnds[1]);
    std::vector<char*> argv;
    for (const std::string& argument : arguments)
      argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  close(pipeEnds[0]);
  fcntl(pipeEnds[1], F_SETFD, FD_CLOEXEC);
  processes_.push_back({child, pipeEnds[1]});
  return true;
}

bool Contender::Start(RelayKind relayKind, const RelayPrograms& programs, std::uint16_t serverPort,
                      const std::string& extraProxy) {
  signal(SIGPIPE, SIG_IGN);  // a relay that is gone must not take the benchmark with it
  kind = relayKind;
  scratch_ = std::make_unique<testing::ScratchDirectory>("bench");
  directory_ = scratch_->Path();
  gamePort = testing::FindFreePortPair();
  if (gamePort == 0) return false;
  const std::string server = std::to_string(serverPort);
  switch (kind) {
    case RelayKind::kMinimal:
      return Spawn({programs.minimal, std::to_string(gamePort), "127.0.0.1", server});
    case RelayKind::kSocat:
      // UDP4-LISTEN without fork: the first datagram's sender becomes the
      // only peer of that side, and datagrams go both ways between it and
      // the server until 60 s pass without any. One process per pair.
      for (int i = 0; i < 2; ++i) {
        if (!Spawn({programs.socat, "-T", "60",
                    "UDP4-LISTEN:" + std::to_string(gamePort + i) + ",bind=127.0.0.1,reuseaddr",
                    "UDP4:127.0.0.1:" + std::to_string(serverPort + i)})) {
          return false;
        }
      }
      return true;
    case RelayKind::kTessard: {
      std::ofstream settings(directory_ / "TESSARD.INI", std::ios::binary);
      settings << "[Proxy]\r\nPort=" << gamePort << "\r\n"
               << extraProxy << "[Server]\r\nIP=127.0.0.1\r\nPort=" << serverPort << "\r\n";
      settings.close();
      return Spawn({programs.tessard});
    }
  }
  return false;
}

std::int64_t Contender::CpuNanoseconds() const {
  std::int64_t total = 0;
  for (const Process& process : processes_) {
    // The process's CPU-time clock counts in nanoseconds what /proc/PID/stat
    // counts in 10 ms ticks, too coarse for a few thousand datagrams.
    clockid_t clock;
    timespec spent{};
    if (clock_getcpuclockid(process.pid, &clock) == 0 && clock_gettime(clock, &spent) == 0) {
      total += static_cast<std::int64_t>(spent.tv_sec) * 1000000000 + spent.tv_nsec;
    }
  }
  return total;
}

std::int64_t Contender::CpuTicks() const {
  std::int64_t total = 0;
  for (const Process& process : processes_) {
    const std::string stat = testing::ReadWholeFile("/proc/" + std::to_string(process.pid) + "/stat");
    // Fields 14 and 15, utime and stime, counted after the command name,
    // which is in parentheses and may hold spaces.
    const std::size_t close = stat.rfind(')');
    if (close == std::string::npos) continue;
    std::istringstream fields(stat.substr(close + 2));
    std::string field;
    for (int number = 3; number <= 15 && fields >> field; ++number) {
      if (number >= 14) total += std::stoll(field);
    }
  }
  return total;
}

bool Contender::Stop() {
  bool clean = true;
  for (Process& process : processes_) {
    if (kind == RelayKind::kTessard) {
      clean = write(process.input, "q", 1) == 1 && clean;
    } else {
      kill(process.pid, SIGTERM);
    }
  }
  for (Process& process : processes_) {
    if (!Reap(process.pid, 10000)) {
      kill(process.pid, SIGKILL);
      Reap(process.pid, 10000);
      clean = false;
    }
    close(process.input);
  }
  processes_.clear();
  return clean;
}

std::string Contender::Log() const {
  return kind == RelayKind::kTessard ? testing::ReadWholeFile(directory_ / "packets.txt") : std::string();
}

std::string Contender::Errors() const { return testing::ReadWholeFile(directory_ / "errors.txt"); }

}  // namespace tessard::bench
