#include "bench/fake_peers.h"

#include <arpa/inet.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "testing/loopback.h"

namespace tessard::bench {
namespace {

// The first byte makes every datagram a game packet that the relay only
// carries and logs: a zero there would start a core packet, and the relay
// acts on some of those. The second tells a stamped datagram from a greeting.
constexpr unsigned char kGameType = 0x0E;
constexpr unsigned char kStamped = 0x5A;
constexpr unsigned char kGreeting = 0x47;
constexpr std::size_t kStampBytes = 14;  // type, kind, sequence, send time
constexpr std::size_t kLargest = 520;
// The tests' peers' buffers: a peer that is a moment late in draining must
// not drop what the relay delivered.
using testing::kPeerBufferBytes;

std::int64_t NowNanoseconds() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

sockaddr_in Loopback(std::uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

int OpenSocket(std::uint16_t port) {
  const int fd = socket(AF_INET, SOCK_DGRAM, 0);
  if (fd == -1) return -1;
  setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &kPeerBufferBytes, sizeof kPeerBufferBytes);
  setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &kPeerBufferBytes, sizeof kPeerBufferBytes);
  const sockaddr_in local = Loopback(port);
  if (bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

std::uint16_t LocalPort(int fd) {
  sockaddr_in local{};
  socklen_t length = sizeof local;
  if (getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length) != 0) return 0;
  return ntohs(local.sin_port);
}

// Waits up to timeoutMs for a datagram on fd; its length and sender, or -1.
ssize_t ReceiveWithin(int fd, unsigned char* buffer, sockaddr_in& source, int timeoutMs) {
  timeval timeout{0, timeoutMs * 1000};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  socklen_t length = sizeof source;
  const ssize_t got =
      recvfrom(fd, buffer, kLargest, 0, reinterpret_cast<sockaddr*>(&source), &length);
  timeval none{0, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &none, sizeof none);
  return got;
}

void Pause(std::int64_t nanoseconds) {
  timespec pause{static_cast<time_t>(nanoseconds / 1000000000),
                 static_cast<long>(nanoseconds % 1000000000)};
  nanosleep(&pause, nullptr);
}

void SleepUntil(std::int64_t nanoseconds) {
  timespec due{static_cast<time_t>(nanoseconds / 1000000000),
               static_cast<long>(nanoseconds % 1000000000)};
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &due, nullptr) == EINTR) {
  }
}

}  // namespace

Lane::Lane() {
  for (int attempt = 0; attempt < 200 && serverPort_ == 0; ++attempt) {
    serverGame_ = OpenSocket(0);
    const std::uint16_t port = serverGame_ == -1 ? 0 : LocalPort(serverGame_);
    if (port != 0 && port != 65535) {
      serverAux_ = OpenSocket(static_cast<std::uint16_t>(port + 1));
      if (serverAux_ != -1) {
        serverPort_ = port;
        break;
      }
    }
    if (serverGame_ != -1) close(serverGame_);
    serverGame_ = -1;
  }
  clientGame_ = OpenSocket(0);
  clientAux_ = OpenSocket(0);
}

Lane::~Lane() {
  for (const int fd : {clientGame_, clientAux_, serverGame_, serverAux_}) {
    if (fd != -1) close(fd);
  }
}

bool Lane::Connect(std::uint16_t relayPort) {
  relayGame_ = Loopback(relayPort);
  const sockaddr_in relayAux = Loopback(static_cast<std::uint16_t>(relayPort + 1));
  unsigned char buffer[kLargest];
  const unsigned char greeting[] = {kGameType, kGreeting, 'h', 'e', 'l', 'l', 'o'};
  sockaddr_in source{};
  bool auxiliary = false;
  for (int attempt = 0; attempt < 100 && !auxiliary; ++attempt) {
    sendto(clientAux_, greeting, sizeof greeting, 0, reinterpret_cast<const sockaddr*>(&relayAux),
           sizeof relayAux);
    auxiliary = ReceiveWithin(serverAux_, buffer, source, 50) > 0;
  }
  if (!auxiliary) return false;
  for (int attempt = 0; attempt < 100; ++attempt) {
    sendto(clientGame_, greeting, sizeof greeting, 0,
           reinterpret_cast<const sockaddr*>(&relayGame_), sizeof relayGame_);
    if (ReceiveWithin(serverGame_, buffer, source, 50) > 0) {
      serverAnswersTo_ = source;
      ++greetings_;
      return true;
    }
  }
  return false;
}

bool Lane::Send(Way way, std::size_t bytes) {
  unsigned char datagram[kLargest];
  if (bytes < kStampBytes || bytes > kLargest) return false;
  std::memset(datagram, 0x5A, bytes);
  datagram[0] = kGameType;
  datagram[1] = kStamped;
  const std::uint32_t sequence = sequence_++;
  std::memcpy(datagram + 2, &sequence, sizeof sequence);
  const int from = way == kUp ? clientGame_ : serverGame_;
  const sockaddr_in& to = way == kUp ? relayGame_ : serverAnswersTo_;
  const std::int64_t now = NowNanoseconds();
  std::memcpy(datagram + 6, &now, sizeof now);
  const bool sent = sendto(from, datagram, bytes, 0, reinterpret_cast<const sockaddr*>(&to),
                           sizeof to) == static_cast<ssize_t>(bytes);
  if (sent) ++flows[way].sent;
  return sent;
}

void Lane::Take(int socket, Way way) {
  unsigned char datagram[kLargest];
  for (;;) {
    const ssize_t length = recv(socket, datagram, sizeof datagram, MSG_DONTWAIT);
    if (length < 0) return;
    const std::int64_t now = NowNanoseconds();
    if (length >= 2 && datagram[1] == kGreeting) {
      if (way == kUp) ++greetings_;
      continue;
    }
    if (length < static_cast<ssize_t>(kStampBytes) || datagram[1] != kStamped) continue;
    Flow& flow = flows[way];
    flow.received.fetch_add(1, std::memory_order_relaxed);
    if (flow.keepLatencies) {
      std::int64_t sentAt = 0;
      std::memcpy(&sentAt, datagram + 6, sizeof sentAt);
      flow.latencyMs.push_back(static_cast<double>(now - sentAt) / 1e6);
    }
  }
}

std::uint64_t Lane::PeerDrops() const {
  // Each line: sl, local address:port in hexadecimal, ..., and last the
  // drops of that socket.
  std::ifstream table("/proc/net/udp");
  std::string line;
  std::getline(table, line);
  std::uint64_t drops = 0;
  char clientPort[8];
  char serverPort[8];
  std::snprintf(clientPort, sizeof clientPort, "%04X", LocalPort(clientGame_));
  std::snprintf(serverPort, sizeof serverPort, "%04X", serverPort_);
  while (std::getline(table, line)) {
    std::istringstream fields(line);
    std::string slot, local, field, last;
    fields >> slot >> local;
    while (fields >> field) last = field;
    const std::string port = local.substr(local.find(':') + 1);
    if (local.rfind("0100007F:", 0) == 0 && (port == clientPort || port == serverPort)) {
      drops += std::stoull(last);
    }
  }
  return drops;
}

Receiver::Receiver(const std::vector<Lane*>& lanes) : epoll_(epoll_create1(0)) {
  for (Lane* lane : lanes) {
    for (const Way way : {kUp, kDown}) {
      epoll_event interest{};
      interest.events = EPOLLIN;
      // The lane's address and the way share one 64-bit word: a Lane is
      // aligned, so its lowest bit is free.
      interest.data.u64 = reinterpret_cast<std::uintptr_t>(lane) | static_cast<unsigned>(way);
      epoll_ctl(epoll_, EPOLL_CTL_ADD, way == kUp ? lane->serverGame_ : lane->clientGame_,
                &interest);
    }
  }
  thread_ = std::thread([this] { Run(); });
}

void Receiver::Stop() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  if (epoll_ != -1) close(epoll_);
  epoll_ = -1;
}

void Receiver::Run() {
  const auto end = Clock::now() + std::chrono::minutes(2);
  while (!stop_ && Clock::now() < end) {
    epoll_event ready[16];
    const int count = epoll_wait(epoll_, ready, 16, 20);
    for (int i = 0; i < count; ++i) {
      const std::uint64_t word = ready[i].data.u64;
      Lane* lane = reinterpret_cast<Lane*>(static_cast<std::uintptr_t>(word & ~std::uint64_t{1}));
      const Way way = static_cast<Way>(word & 1);
      lane->Take(way == kUp ? lane->serverGame_ : lane->clientGame_, way);
    }
  }
}

double SendPaced(const std::vector<Lane*>& lanes, const std::vector<Way>& ways, int rate,
                 double seconds, std::size_t bytes) {
  const auto total = static_cast<std::uint64_t>(rate * seconds);
  const std::int64_t start = NowNanoseconds();
  const std::int64_t giveUp = start + static_cast<std::int64_t>((seconds + 2) * 1e9);
  std::uint64_t done = 0;  // datagrams sent each way
  std::int64_t now = start;
  while (done < total && now < giveUp) {
    // Catch up with the clock, a batch at a time, then pause briefly: a
    // batch at 50,000 a second is a handful of datagrams.
    const auto due = std::min<std::uint64_t>(
        total, static_cast<std::uint64_t>(static_cast<double>(now - start) * rate / 1e9) + 1);
    for (; done < due; ++done) {
      for (Lane* lane : lanes) {
        for (const Way way : ways) lane->Send(way, bytes);
      }
    }
    Pause(50000);
    now = NowNanoseconds();
  }
  const double elapsed = static_cast<double>(NowNanoseconds() - start) / 1e9;
  return static_cast<double>(done) / std::max(elapsed, seconds);
}

void SendSpread(const std::vector<Lane*>& lanes, int rate, int seconds, std::size_t bytes) {
  const std::int64_t period = 1000000000 / rate;
  const auto count = static_cast<std::int64_t>(lanes.size());
  const std::int64_t start = NowNanoseconds() + 1000000;
  for (std::int64_t i = 0; i < static_cast<std::int64_t>(rate) * seconds; ++i) {
    // Each lane's answer goes half a period after its request, as in
    // relay_latency: a relay that takes one game datagram a pass would
    // otherwise hold the second of two close ones for a whole pass.
    for (std::int64_t slot = 0; slot < 2 * count; ++slot) {
      const std::int64_t lane = slot % count;
      const bool answer = slot >= count;
      SleepUntil(start + i * period + (answer ? period / 2 : 0) + lane * period / (2 * count));
      lanes[static_cast<std::size_t>(lane)]->Send(answer ? kDown : kUp, bytes);
    }
  }
}

void WaitForQuiet(const std::vector<Lane*>& lanes, int quietMs, int limitMs) {
  const auto total = [&] {
    std::uint64_t sum = 0;
    for (Lane* lane : lanes) sum += lane->flows[kUp].received + lane->flows[kDown].received;
    return sum;
  };
  std::uint64_t last = total();
  int quiet = 0;
  for (int waited = 0; waited < limitMs && quiet < quietMs; waited += 10) {
    Pause(10000000);
    const std::uint64_t now = total();
    quiet = now == last ? quiet + 10 : 0;
    last = now;
  }
}

}  // namespace tessard::bench
