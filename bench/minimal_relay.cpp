// The floor for the relay benchmark: a relay of tessard's shape with
// nothing else in it. One thread, epoll on the game and auxiliary sockets,
// and tessard's rule for who is who: a datagram from the server's address
// of its pair goes to that pair's last client, any other makes its sender
// the client and goes to the server. No log, no cipher, no console.
// By default it takes one datagram at a time with recvfrom and sendto;
// with --batch it takes up to 64 a socket at each wake-up with recvmmsg
// and sends them with sendmmsg, as a relay built for speed does.
// Usage: minimal_relay [--batch] listen-port server-ip server-port [lifetime-seconds]
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

constexpr unsigned kBatch = 64;

// Takes what the pair's socket holds, up to a batch, and forwards it all
// in one call, each datagram addressed by the rule above.
void CarryBatch(Pair& pair) {
  static unsigned char buffers[kBatch][kBufferBytes];
  static sockaddr_in sources[kBatch];
  static iovec parts[kBatch];
  static mmsghdr messages[kBatch];
  for (unsigned i = 0; i < kBatch; ++i) {
    parts[i] = {buffers[i], kBufferBytes};
    messages[i] = {};
    messages[i].msg_hdr.msg_name = &sources[i];
    messages[i].msg_hdr.msg_namelen = sizeof sources[i];
    messages[i].msg_hdr.msg_iov = &parts[i];
    messages[i].msg_hdr.msg_iovlen = 1;
  }
  const int received = recvmmsg(pair.socket, messages, kBatch, MSG_DONTWAIT, nullptr);
  if (received <= 0) return;
  static sockaddr_in destinations[kBatch];
  static mmsghdr outgoing[kBatch];
  unsigned count = 0;
  for (int i = 0; i < received; ++i) {
    const sockaddr_in* destination = &pair.server;
    if (SameAddress(sources[i], pair.server)) {
      if (!pair.clientKnown) continue;
      destination = &pair.client;
    } else {
      pair.client = sources[i];
      pair.clientKnown = true;
    }
    destinations[count] = *destination;
    parts[i].iov_len = messages[i].msg_len;
    outgoing[count] = {};
    outgoing[count].msg_hdr.msg_name = &destinations[count];
    outgoing[count].msg_hdr.msg_namelen = sizeof destinations[count];
    outgoing[count].msg_hdr.msg_iov = &parts[i];
    outgoing[count].msg_hdr.msg_iovlen = 1;
    ++count;
  }
  for (unsigned sent = 0; sent < count;) {
    const int taken = sendmmsg(pair.socket, outgoing + sent, count - sent, MSG_DONTWAIT);
    sent += taken > 0 ? static_cast<unsigned>(taken) : 1;  // a refused one is dropped
  }
}

}  // namespace

int main(int argc, char** argv) {
  const bool batch = argc > 1 && std::strcmp(argv[1], "--batch") == 0;
  if (batch) --argc, ++argv;
  if (argc < 4 || argc > 5) {
    std::fprintf(stderr,
                 "usage: minimal_relay [--batch] listen-port server-ip server-port "
                 "[lifetime-seconds]\n");
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
    // From each ready socket one datagram, or a batch, then wait again,
    // game before auxiliary.
    for (int want = 0; want < 2; ++want) {
      for (int i = 0; i < count; ++i) {
        if (ready[i].data.u32 != static_cast<std::uint32_t>(want)) continue;
        if (batch) {
          CarryBatch(pairs[want]);
        } else {
          CarryOne(pairs[want], buffer);
        }
      }
    }
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    if (now.tv_sec - start.tv_sec >= lifetime) return 0;
  }
}
