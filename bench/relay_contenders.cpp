#include "bench/relay_contenders.h"

#include <sys/types.h>
#include <time.h>

#include <fstream>
#include <sstream>

#include "testing/loopback.h"

namespace tessard::bench {

bool IsTessard(RelayKind kind) {
  return kind == RelayKind::kTessard || kind == RelayKind::kTessardBefore;
}

const char* Name(RelayKind kind) {
  switch (kind) {
    case RelayKind::kFloor:
      return "floor";
    case RelayKind::kMinimal:
      return "minimal";
    case RelayKind::kTessardBefore:
      return "before";
    case RelayKind::kSocat:
      return "socat";
    case RelayKind::kTessard:
      return "tessard";
  }
  return "?";
}

Contender::~Contender() = default;  // each ChildProcess kills its relay still running

bool Contender::Spawn(const std::vector<std::string>& command) {
  // One pair of output files per process: socat runs two.
  const std::string number = std::to_string(processes_.size());
  auto process = std::make_unique<testing::ChildProcess>();
  if (!process->Start(command, directory_.string(),
                      (directory_ / ("console" + number + ".txt")).string(),
                      (directory_ / ("errors" + number + ".txt")).string())) {
    return false;
  }
  processes_.push_back(std::move(process));
  return true;
}

bool Contender::Start(RelayKind relayKind, const RelayPrograms& programs, std::uint16_t serverPort,
                      const std::string& extraProxy) {
  kind = relayKind;
  scratch_ = std::make_unique<testing::ScratchDirectory>("bench");
  directory_ = scratch_->Path();
  gamePort = testing::FindFreePortPair();
  if (gamePort == 0) return false;
  const std::string server = std::to_string(serverPort);
  switch (kind) {
    case RelayKind::kFloor:
      return Spawn({programs.minimal, "--batch", std::to_string(gamePort), "127.0.0.1", server});
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
    case RelayKind::kTessard:
    case RelayKind::kTessardBefore: {
      std::ofstream settings(directory_ / "TESSARD.INI", std::ios::binary);
      settings << "[Proxy]\r\nPort=" << gamePort << "\r\n"
               << extraProxy << "[Server]\r\nIP=127.0.0.1\r\nPort=" << serverPort << "\r\n";
      settings.close();
      return Spawn({kind == RelayKind::kTessard ? programs.tessard : programs.tessardBefore});
    }
  }
  return false;
}

std::int64_t Contender::CpuNanoseconds() const {
  std::int64_t total = 0;
  for (const auto& process : processes_) {
    // The process's CPU-time clock counts in nanoseconds what /proc/PID/stat
    // counts in 10 ms ticks, too coarse for a few thousand datagrams.
    clockid_t clock;
    timespec spent{};
    if (clock_getcpuclockid(static_cast<pid_t>(process->ProcessId()), &clock) == 0 &&
        clock_gettime(clock, &spent) == 0) {
      total += static_cast<std::int64_t>(spent.tv_sec) * 1000000000 + spent.tv_nsec;
    }
  }
  return total;
}

std::int64_t Contender::CpuTicks() const {
  std::int64_t total = 0;
  for (const auto& process : processes_) {
    const std::string stat =
        testing::ReadWholeFile("/proc/" + std::to_string(process->ProcessId()) + "/stat");
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
  for (const auto& process : processes_) {
    clean =
        (IsTessard(kind) ? process->WriteToStandardInput("q") : process->RequestStop()) && clean;
  }
  for (const auto& process : processes_) {
    process->WaitForExit(10000);  // socat ends by the signal itself: no status to read
    if (process->Running()) {
      process->Kill();
      clean = false;
    }
  }
  processes_.clear();
  return clean;
}

std::string Contender::Log() const {
  return IsTessard(kind) ? testing::ReadWholeFile(directory_ / "packets.txt") : std::string();
}

std::string Contender::Errors() const {
  std::string errors;
  std::error_code ignored;
  for (const auto& entry : std::filesystem::directory_iterator(directory_, ignored)) {
    if (entry.path().filename().string().rfind("errors", 0) == 0) {
      errors += testing::ReadWholeFile(entry.path());
    }
  }
  return errors;
}

}  // namespace tessard::bench
