// The relays the relay benchmark puts side by side, each started on a
// fresh free port pair and routed to a fake server on loopback: the
// minimal epoll relay batched (the floor) and one at a time, socat (one
// process per pair) and the real tessard, with an earlier build of it
// beside when one is given. Linux only: processes are started with fork and exec and
// their CPU time is read through their CPU-time clocks.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "testing/child_process.h"
#include "testing/scratch_directory.h"

namespace tessard::bench {

// The floor is the minimal relay taking a batch a socket at each wake-up;
// kMinimal is the same relay one datagram at a time; kTessardBefore is
// another build of tessard (an earlier one) run beside this one.
enum class RelayKind { kFloor, kMinimal, kSocat, kTessard, kTessardBefore };

bool IsTessard(RelayKind kind);

const char* Name(RelayKind kind);

// Where each relay's program is.
struct RelayPrograms {
  std::string minimal;
  std::string socat = "socat";  // a bare name is looked up on PATH
  std::string tessard;
  std::string tessardBefore;  // empty: not run
};

class Contender {
 public:
  Contender() = default;
  // A relay still running is killed.
  ~Contender();
  Contender(const Contender&) = delete;
  Contender& operator=(const Contender&) = delete;

  // Starts the relay on a free pair (gamePort and one above) routed to
  // 127.0.0.1 serverPort and one above; for tessard, extraProxy is added
  // to its [Proxy] section. False when a process could not be started;
  // whether it relays is for the caller to find out.
  bool Start(RelayKind kind, const RelayPrograms& programs, std::uint16_t serverPort,
             const std::string& extraProxy = "");
  // User plus system CPU time of all the relay's processes so far, in
  // nanoseconds, and the same from /proc/PID/stat in clock ticks.
  std::int64_t CpuNanoseconds() const;
  std::int64_t CpuTicks() const;
  // Stops the relay as its user would: tessard by a key press (it then
  // writes its log out in full), the others by SIGTERM; kills what does
  // not end within 10 s. True when every process ended by itself.
  bool Stop();
  // tessard's log as written; empty for the others.
  std::string Log() const;
  // What the relay wrote on standard error.
  std::string Errors() const;

  RelayKind kind = RelayKind::kMinimal;
  std::uint16_t gamePort = 0;

 private:
  bool Spawn(const std::vector<std::string>& command);

  // Declared before the processes, so that it is removed, with the
  // relay's files, only once they are gone.
  std::unique_ptr<testing::ScratchDirectory> scratch_;
  std::filesystem::path directory_;
  std::vector<std::unique_ptr<testing::ChildProcess>> processes_;
};

}  // namespace tessard::bench
