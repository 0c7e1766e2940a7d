// The floor for the relay benchmark: a relay of tessard's shape with
// nothing else in it. One thread, epoll on the game and auxiliary sockets,
// one datagram at a time with recvfrom and sendto, and tessard's rule for
// who is who: a datagram from the server's address of its pair goes to
// that pair's last client, any other makes its sender the client and goes
// to the server. No log, no cipher, no console.
// Usage: minimal_relay listen-port server-ip server-port [lifetime-seconds]
// It binds 127.0.0.1 only and ends on SIGTERM or after its lifetime (300 s
// unless given), so that one a benchmark forgot does not stay.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// The largest datagram tessard carries is 520 bytes; room for more costs
// nothing and keeps a longer one from being cut.
constexpr std::size_t kBufferBytes = 2048;

struct Pair {
  int socket = -1;
  sockaddr_in server{};
  sockaddr_in client{};
  bool clientKnown = false;
};

bool SameAddress(const sockaddr_in& a, const sockaddr_in& b) {
  return a.sin_addr.s_addr == b.sin_addr.s_addr && a.sin_port == b.sin_port;
}

int OpenBound(std::uint16_t port) {
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0);
  if (fd == -1) return -1;
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_port = htons(port);
  local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

// Takes one datagram from the pair's socket, if any, and forwards it.
void CarryOne(Pair& pair, unsigned char* buffer) {
  sockaddr_in source{};
  socklen_t sourceLength = sizeof source;
  const ssize_t length = recvfrom(pair.socket, buffer, kBufferBytes, 0,
                                  reinterpret_cast<sockaddr*>(&source), &sourceLength);
  if (length < 0) return;
  const sockaddr_in* destination = &pair.server;
  if (SameAddress(source, pair.server)) {
    if (!pair.clientKnown) return;  // nobody to give it to yet
    destination = &pair.client;
  } else {
    pair.client = source;
    pair.clientKnown = true;
  }
  // As in tessard, a failed send is not retried.
  sendto(pair.socket, buffer, static_cast<std::size_t>(length), 0,
         reinterpret_cast<const sockaddr*>(destination), sizeof *destination);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4 || argc > 5) {
    std::fprintf(stderr,
                 "usage: minimal_relay listen-port server-ip server-port [lifetime-seconds]\n");
    return 2;
  }
  const long listenPort = std::strtol(argv[1], nullptr, 10);
  const long serverPort = std::strtol(argv[3], nullptr, 10);
  const long lifetime = argc == 5 ? std::strtol(argv[4], nullptr, 10) : 300;
  in_addr serverIp{};
  if (listenPort <= 0 || listenPort >= 65535 || serverPort <= 0 || serverPort >= 65535 ||
      lifetime <= 0 || inet_pton(AF_INET, argv[2], &serverIp) != 1) {
    std::fprintf(stderr, "minimal_relay: bad port, address or lifetime\n");
    return 2;
  }

  Pair pairs[2];
  const int epoll = epoll_create1(0);
  for (int i = 0; i < 2; ++i) {
    pairs[i].socket = OpenBound(static_cast<std::uint16_t>(listenPort + i));
    if (pairs[i].socket == -1 || epoll == -1) {
      std::fprintf(stderr, "minimal_relay: cannot open port %ld: %s\n", listenPort + i,
                   std::strerror(errno));
      return 1;
    }
    pairs[i].server.sin_family = AF_INET;
    pairs[i].server.sin_addr = serverIp;
    pairs[i].server.sin_port = htons(static_cast<std::uint16_t>(serverPort + i));
    epoll_event interest{};
    interest.events = EPOLLIN;  // level-triggered: a socket left non-empty is reported again
    interest.data.u32 = static_cast<std::uint32_t>(i);
    epoll_ctl(epoll, EPOLL_CTL_ADD, pairs[i].socket, &interest);
  }

  timespec start{};
  clock_gettime(CLOCK_MONOTONIC, &start);
  static unsigned char buffer[kBufferBytes];
  for (;;) {
    epoll_event ready[2];
    // The second's time-out only bounds how late the lifetime is noticed.
    const int count = epoll_wait(epoll, ready, 2, 1000);
    // One datagram from each ready socket, then wait again: the same pass
    // as tessard's, game before auxiliary.
    for (int want = 0; want < 2; ++want) {
      for (int i = 0; i < count; ++i) {
        if (ready[i].data.u32 == static_cast<std::uint32_t>(want)) CarryOne(pairs[want], buffer);
      }
    }
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    if (now.tv_sec - start.tv_sec >= lifetime) return 0;
  }
}
