// The fake client and server of the relay benchmark: stamped datagrams
// sent at a steady pace and received in a thread of their own, so that
// sending at tens of thousands a second never stops the receiving. Linux
// only (epoll, /proc/net/udp).
#pragma once

#include <netinet/in.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <thread>
#include <vector>

namespace tessard::bench {

using Clock = std::chrono::steady_clock;

enum Way { kUp = 0, kDown = 1 };  // client to server, server to client

// One direction of a lane. The receiver thread alone touches latencyMs
// while it runs.
struct Flow {
  std::uint64_t sent = 0;
  std::atomic<std::uint64_t> received{0};
  bool keepLatencies = false;
  std::vector<double> latencyMs;
};

// A fake client and a fake server, each with a game and an auxiliary
// socket on 127.0.0.1, talking through one relay or, for the direct path,
// straight to each other. Their receive buffers are large, so that a
// datagram lost is lost at the relay, not at the peers.
class Lane {
 public:
  Lane();
  ~Lane();
  Lane(const Lane&) = delete;
  Lane& operator=(const Lane&) = delete;

  bool Open() const { return serverPort_ != 0 && clientGame_ != -1 && clientAux_ != -1; }
  std::uint16_t ServerPort() const { return serverPort_; }
  // Sends a probe over the auxiliary pair of the relay at relayPort (the
  // server's own port for the direct path) until the server receives one,
  // then a greeting over the game pair until the server receives one: the
  // relay then knows the client on both pairs and the server knows where
  // to answer. False when that did not happen within about 10 s.
  bool Connect(std::uint16_t relayPort);
  // Sends one stamped datagram of the given size (at least 14 bytes) the
  // given way; false when the system refused it.
  bool Send(Way way, std::size_t bytes);
  // Datagrams the system dropped at the peers' game sockets because their
  // buffers were full: should stay 0.
  std::uint64_t PeerDrops() const;
  // Greetings the server received, by Connect and late ones after.
  std::uint64_t GreetingsDelivered() const { return greetings_.load(); }

  Flow flows[2];

 private:
  friend class Receiver;
  void Take(int socket, Way way);

  std::uint16_t serverPort_ = 0;
  int clientGame_ = -1;
  int clientAux_ = -1;
  int serverGame_ = -1;
  int serverAux_ = -1;
  sockaddr_in relayGame_{};
  sockaddr_in serverAnswersTo_{};
  std::uint32_t sequence_ = 0;
  std::atomic<std::uint64_t> greetings_{0};
};

// Receives on the game sockets of every lane in a thread of its own, from
// construction until Stop (or two minutes, whichever comes first).
class Receiver {
 public:
  explicit Receiver(const std::vector<Lane*>& lanes);
  ~Receiver() { Stop(); }
  Receiver(const Receiver&) = delete;
  Receiver& operator=(const Receiver&) = delete;
  void Stop();

 private:
  void Run();

  int epoll_ = -1;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// Sends rate datagrams a second of the given size each way in ways (up,
// down or both, interleaved) on every lane for the given time, in small
// batches against the steady clock; gives up 2 s after the time if it
// falls behind. The achieved rate each way on each lane.
double SendPaced(const std::vector<Lane*>& lanes, const std::vector<Way>& ways, int rate,
                 double seconds, std::size_t bytes);

// Sends rate datagrams a second each way on every lane for the given
// time, each at its own moment: the lanes' requests spread over the first
// half of the period and their answers over the second, so no two
// datagrams are in flight at once.
void SendSpread(const std::vector<Lane*>& lanes, int rate, int seconds, std::size_t bytes);

// Waits until the lanes have received nothing more for quietMs, at most
// limitMs.
void WaitForQuiet(const std::vector<Lane*>& lanes, int quietMs, int limitMs);

}  // namespace tessard::bench
