// The platform seam on POSIX systems, giving the behaviour that Winsock and
// the Windows runtime show on the other side: Winsock's error numbers,
// whole-datagram receives, profile files, CR LF log lines.
#include <arpa/inet.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/platform.h"
#include "platform/profile_reader.h"

namespace tessard::platform {
namespace {

static_assert(sizeof(sockaddr_in) == kSocketAddressSize);
static_assert(offsetof(sockaddr_in, sin_family) == 0 && sizeof(sockaddr_in::sin_family) == 2);
static_assert(offsetof(sockaddr_in, sin_port) == 2);
static_assert(offsetof(sockaddr_in, sin_addr) == 4);

thread_local int lastSocketError = 0;
std::atomic<int> socketLibraryStarts{0};

struct ErrnoCode {
  int posixError;
  int code;
};

// No errno is negative: the codes that POSIX never reports match nothing.
constexpr int kNoErrno = -1;

#define TESSARD_ERRNO_CODE(constant, code, name, posixError, inNameTable) {posixError, constant},
constexpr ErrnoCode kErrnoCodes[] = {
    TESSARD_SOCKET_ERRORS(TESSARD_ERRNO_CODE)
    // Further causes that Winsock reports under one of the codes above.
    {EBADF, kErrorNotSocket},
    {ENOMEM, kErrorNoBuffers},
    {EWOULDBLOCK, kErrorWouldBlock},
};
#undef TESSARD_ERRNO_CODE

int WinsockNumber(int error) {
  for (const ErrnoCode& entry : kErrnoCodes) {
    if (entry.posixError == error) return entry.code;
  }
  return kErrorSystemCallFailure;
}

int FailWith(int winsockError) {
  lastSocketError = winsockError;
  return kSocketError;
}

int FailFromErrno() { return FailWith(WinsockNumber(errno)); }

int Descriptor(SocketHandle socket) { return static_cast<int>(socket); }

// Any non-null value: on POSIX the event only records that the socket was
// selected; readiness itself is asked of poll().
char readinessToken;

volatile sig_atomic_t stopRequested = 0;

// The self-pipe: the signal handlers write a byte to one end and the wait
// watches the other, so that a signal that lands between the loop's last
// test and the start of the wait still ends the wait at once.
int wakeRead = -1;
int wakeWrite = -1;

void WakeTheWait() {
  if (wakeWrite == -1) return;
  const int saved = errno;
  if (::write(wakeWrite, "!", 1) < 0) {
    // A full pipe already holds a wake-up.
  }
  errno = saved;
}

void OnStopSignal(int) {
  stopRequested = 1;
  WakeTheWait();
}

void DrainWakeUps() {
  char drained[64];
  while (::read(wakeRead, drained, sizeof drained) > 0) {
  }
}

// The output FIFO whose reader leaving ends the wait; -1: none.
int watchedOutput = -1;

bool keyboardWatched = false;
// End of input, a hang-up, or an input that never holds a key (/dev/null):
// poll() reports such an input readable for ever, so it is watched no more.
bool inputEnded = false;
bool inputIsTerminal = false;
bool terminalModeSaved = false;  // savedTerminalMode is the mode to give back
termios savedTerminalMode;
termios watchingMode;
volatile sig_atomic_t continued = 0;
bool heldForeground = false;  // as the last keyboard test found it

void OnContinue(int) {
  continued = 1;
  WakeTheWait();
}

// Job control: a process outside the terminal's foreground process group
// that changes the terminal's mode is stopped with SIGTTOU, and the keys
// typed there are the foreground job's. A terminal that is not this
// process's controlling one has no foreground to ask about.
bool InTerminalForeground() {
  const pid_t foreground = ::tcgetpgrp(STDIN_FILENO);
  return foreground == -1 || foreground == ::getpgrp();
}

// Sets the terminal's mode only from the foreground, with SIGTTOU held off
// so that losing the foreground a moment before cannot stop the relay.
void SetTerminalMode(const termios& mode) {
  if (!InTerminalForeground()) return;
  sigset_t ttou;
  sigset_t previous;
  sigemptyset(&ttou);
  sigaddset(&ttou, SIGTTOU);
  ::sigprocmask(SIG_BLOCK, &ttou, &previous);
  ::tcsetattr(STDIN_FILENO, TCSANOW, &mode);
  ::sigprocmask(SIG_SETMASK, &previous, nullptr);
}

// Keys must arrive one by one and unechoed. The mode to give back is taken
// the first time the relay holds the foreground; a shell that stopped the
// relay has already put back its own mode, so bringing the relay back only
// sets the watching mode again.
void TakeTerminal() {
  if (!inputIsTerminal || !InTerminalForeground()) return;
  if (!terminalModeSaved) {
    if (::tcgetattr(STDIN_FILENO, &savedTerminalMode) != 0) return;
    watchingMode = savedTerminalMode;
    watchingMode.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
    watchingMode.c_cc[VMIN] = 1;
    watchingMode.c_cc[VTIME] = 0;
    terminalModeSaved = true;
    std::atexit(StopKeyboardWatch);
  }
  SetTerminalMode(watchingMode);
}

// A closed standard descriptor would be handed to the next socket or file
// opened, and a socket on descriptor 0 would then look like a key press.
void OccupyStandardDescriptors() {
  for (int descriptor = 0; descriptor <= 2; ++descriptor) {
    if (fcntl(descriptor, F_GETFD) == -1 && errno == EBADF) {
      const int opened = open("/dev/null", descriptor == 0 ? O_RDONLY : O_WRONLY);
      if (opened != -1 && opened != descriptor) {
        dup2(opened, descriptor);
        close(opened);
      }
    }
  }
}

void CopyText(const char* text, char* destination, std::uint32_t size) {
  if (size == 0) return;
  std::snprintf(destination, size, "%s", text);
}

bool BytesWaitingOnInput() {
  int waiting = 0;
  return ::ioctl(STDIN_FILENO, FIONREAD, &waiting) == 0 && waiting > 0;
}

// Keys typed at a terminal while the relay is in the background are the
// foreground job's: waking for them would only find no key, again and again.
bool WatchingInput() {
  return keyboardWatched && !inputEnded && (!inputIsTerminal || heldForeground);
}

}  // namespace

// Counted as Winsock counts its start-ups, so that code which forgets to
// start the socket library fails here as it would on Windows.
int SocketStartup() {
  ++socketLibraryStarts;
  return 0;
}

int SocketCleanup() {
  if (socketLibraryStarts == 0) return FailWith(kErrorNotInitialised);
  --socketLibraryStarts;
  return 0;
}

int LastSocketError() { return lastSocketError; }

SocketHandle OpenUdpSocket() {
  if (socketLibraryStarts == 0) {
    FailWith(kErrorNotInitialised);
    return kInvalidSocket;
  }
  const int descriptor = ::socket(AF_INET, SOCK_DGRAM, 0);
  if (descriptor == -1) {
    FailFromErrno();
    return kInvalidSocket;
  }
  fcntl(descriptor, F_SETFD, FD_CLOEXEC);
  return descriptor;
}

int BindSocket(SocketHandle socket, const void* address16) {
  if (::bind(Descriptor(socket), static_cast<const sockaddr*>(address16), kSocketAddressSize) !=
      0) {
    return FailFromErrno();
  }
  return 0;
}

void WidenSocketBuffers(SocketHandle socket, int bytes) {
  setsockopt(Descriptor(socket), SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
  setsockopt(Descriptor(socket), SOL_SOCKET, SO_SNDBUF, &bytes, sizeof bytes);
}

std::uint16_t LocalPort(SocketHandle socket) {
  sockaddr_in local{};
  socklen_t length = sizeof(local);
  if (::getsockname(Descriptor(socket), reinterpret_cast<sockaddr*>(&local), &length) != 0) {
    return 0;
  }
  return ntohs(local.sin_port);
}

void CloseSocket(SocketHandle socket) {
  if (socket != kInvalidSocket) ::close(Descriptor(socket));
}

int SendTo(SocketHandle socket, const std::uint8_t* bytes, std::int32_t length,
           const void* address16) {
  if (length < 0) return FailWith(kErrorInvalidArgument);
  const ssize_t sent = ::sendto(Descriptor(socket), bytes, static_cast<std::size_t>(length), 0,
                                static_cast<const sockaddr*>(address16), kSocketAddressSize);
  if (sent < 0) return FailFromErrno();
  return static_cast<int>(sent);
}

int ReceiveFrom(SocketHandle socket, std::uint8_t* buffer, std::int32_t capacity, void* address16) {
  if (capacity < 0) return FailWith(kErrorInvalidArgument);
  iovec part{buffer, static_cast<std::size_t>(capacity)};
  msghdr message{};
  message.msg_name = address16;
  message.msg_namelen = kSocketAddressSize;
  message.msg_iov = &part;
  message.msg_iovlen = 1;
  const ssize_t received = ::recvmsg(Descriptor(socket), &message, 0);
  if (received < 0) return FailFromErrno();
  // Linux cuts a long datagram to the buffer; Winsock refuses it, and so
  // do we.
  if ((message.msg_flags & MSG_TRUNC) != 0) return FailWith(kErrorMessageSize);
  return static_cast<int>(received);
}

EventHandle CreateReadinessEvent() { return &readinessToken; }

void SelectForReading(SocketHandle socket, EventHandle) {
  const int flags = fcntl(Descriptor(socket), F_GETFL);
  if (flags != -1) fcntl(Descriptor(socket), F_SETFL, flags | O_NONBLOCK);
}

void CloseReadinessEvent(EventHandle) {}

// poll() is level-triggered: a datagram or a key waiting before the call is
// seen by it, so neither waits for the time-out. A stop signal ends it with
// EINTR, or through the self-pipe when it lands just before the call.
bool WaitForReadable(const ReadinessWatch* watches, int count, std::uint32_t milliseconds) {
  constexpr int kMostSockets = 8;
  pollfd watched[kMostSockets + 3];
  nfds_t watchedCount = 0;
  for (int i = 0; i < count && watchedCount < kMostSockets; ++i) {
    if (watches[i].event == nullptr) continue;
    watched[watchedCount++] = {Descriptor(watches[i].socket), POLLIN, 0};
  }
  const nfds_t socketCount = watchedCount;
  const nfds_t inputAt = watchedCount;
  if (WatchingInput()) watched[watchedCount++] = {STDIN_FILENO, POLLIN, 0};
  const nfds_t wakeAt = watchedCount;
  if (wakeRead != -1) watched[watchedCount++] = {wakeRead, POLLIN, 0};
  // Asked for nothing, the writing end of a FIFO still reports POLLERR when
  // its last reader goes.
  if (watchedOutput != -1) watched[watchedCount++] = {watchedOutput, 0, 0};
  if (stopRequested != 0) return false;
  if (::poll(watched, watchedCount, static_cast<int>(milliseconds)) <= 0) return false;
  if (wakeRead != -1 && watched[wakeAt].revents != 0) DrainWakeUps();
  // Readable with no byte to read: end of input, or a device such as
  // /dev/null that is readable for ever and never holds a key.
  if (inputAt < wakeAt && watched[inputAt].revents != 0 && !BytesWaitingOnInput()) {
    inputEnded = true;
  }
  for (nfds_t i = 0; i < socketCount; ++i) {
    if (watched[i].revents != 0) return true;
  }
  return false;
}

std::uint16_t HostToNetwork16(std::uint16_t value) { return htons(value); }

std::uint16_t NetworkToHost16(std::uint16_t value) { return ntohs(value); }

std::uint32_t ParseDottedQuad(const char* text) { return ::inet_addr(text); }

bool LookUpHost(const char* name, std::uint32_t* address) {
  if (socketLibraryStarts == 0) return false;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_DGRAM;
  addrinfo* found = nullptr;
  if (::getaddrinfo(name, nullptr, &hints, &found) != 0 || found == nullptr) return false;
  *address = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr.s_addr;
  ::freeaddrinfo(found);
  return true;
}

const char* FormatDottedQuad(std::uint32_t address) {
  thread_local char text[INET_ADDRSTRLEN];
  in_addr value{};
  value.s_addr = address;
  if (::inet_ntop(AF_INET, &value, text, sizeof(text)) == nullptr) text[0] = '\0';
  return text;
}

std::uint32_t CurrentDirectory(char* buffer, std::uint32_t size) {
  if (size > 0 && ::getcwd(buffer, size) != nullptr) {
    return static_cast<std::uint32_t>(std::strlen(buffer));
  }
  if (size > 0 && errno != ERANGE) return 0;
  char* whole = ::getcwd(nullptr, 0);
  if (whole == nullptr) return 0;
  const auto needed = static_cast<std::uint32_t>(std::strlen(whole) + 1);
  std::free(whole);
  return needed;
}

void LastSystemErrorText(char* reason, std::uint32_t reasonSize) {
  CopyText(std::strerror(errno), reason, reasonSize);
}

const char* PathSeparator() { return "/"; }

std::uint32_t ReadProfileString(const char* section, const char* key, const char* defaultValue,
                                char* destination, std::uint32_t size, const char* path) {
  std::string contents;
  if (std::FILE* file = std::fopen(path, "rb")) {
    char chunk[4096];
    std::size_t count;
    while ((count = std::fread(chunk, 1, sizeof(chunk), file)) > 0) contents.append(chunk, count);
    std::fclose(file);
  }
  return ReadProfileValue(contents, section, key, defaultValue, destination, size);
}

FileAccess CheckReadable(const char* path, char* reason, std::uint32_t reasonSize) {
  const int descriptor = ::open(path, O_RDONLY | O_CLOEXEC);
  if (descriptor == -1) {
    if (errno == ENOENT || errno == ENOTDIR) return FileAccess::kMissing;
    CopyText(std::strerror(errno), reason, reasonSize);
    return FileAccess::kUnreadable;
  }
  // A directory opens, but reading it fails.
  char probe;
  const bool readable = ::read(descriptor, &probe, 1) >= 0;
  if (!readable) CopyText(std::strerror(errno), reason, reasonSize);
  ::close(descriptor);
  return readable ? FileAccess::kReadable : FileAccess::kUnreadable;
}

std::uint32_t TickCount() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  const auto milliseconds = static_cast<std::uint64_t>(now.tv_sec) * 1000u +
                            static_cast<std::uint64_t>(now.tv_nsec) / 1000000u;
  return static_cast<std::uint32_t>(milliseconds);
}

void SleepAlertable(std::uint32_t milliseconds) {
  timespec pause{};
  pause.tv_sec = milliseconds / 1000;
  pause.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000L;
  ::nanosleep(&pause, nullptr);  // a stop signal may cut it short, as it should
}

void StartKeyboardWatch() {
  OccupyStandardDescriptors();
  keyboardWatched = true;
  inputIsTerminal = ::isatty(STDIN_FILENO) != 0;
  if (!inputIsTerminal) return;
  struct sigaction action {};
  action.sa_handler = OnContinue;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGCONT, &action, nullptr);
  TakeTerminal();
  heldForeground = InTerminalForeground();
}

bool KeyPressed() {
  if (inputIsTerminal) {
    // Brought to the foreground: after a stop the shell sends SIGCONT, but a
    // job that was running in the background gets no signal at all.
    const bool foreground = InTerminalForeground();
    if (continued != 0 || (foreground && !heldForeground)) {
      continued = 0;
      TakeTerminal();
    }
    heldForeground = foreground;
    if (!foreground) return false;
  }
  return !inputEnded && BytesWaitingOnInput();
}

// In the background the terminal holds the shell's own mode, which is not
// ours to change.
void StopKeyboardWatch() {
  if (!terminalModeSaved) return;
  SetTerminalMode(savedTerminalMode);
  terminalModeSaved = false;
}

void InstallStopHandlers() {
  if (wakeRead == -1) {
    int ends[2];
    if (::pipe(ends) == 0) {
      for (const int end : ends) {
        fcntl(end, F_SETFL, fcntl(end, F_GETFL) | O_NONBLOCK);
        fcntl(end, F_SETFD, FD_CLOEXEC);
      }
      wakeRead = ends[0];
      wakeWrite = ends[1];
    }
  }
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no restart: a stop cuts the idle wait short
  for (const int signalNumber : {SIGINT, SIGTERM, SIGHUP})
    sigaction(signalNumber, &action, nullptr);
}

bool StopRequested() { return stopRequested != 0; }

int OpenFileDescriptor(const char* path) {
  return ::open(path, O_RDWR | O_CREAT | O_CLOEXEC, S_IRUSR | S_IWUSR);
}

int CloseFileDescriptor(int descriptor) { return ::close(descriptor); }

std::int32_t SeekFileDescriptor(int descriptor, std::int32_t offset, int origin) {
  const int whence = origin == 0 ? SEEK_SET : origin == 1 ? SEEK_CUR : SEEK_END;
  return static_cast<std::int32_t>(::lseek(descriptor, offset, whence));
}

std::int32_t TellFileDescriptor(int descriptor) {
  return static_cast<std::int32_t>(::lseek(descriptor, 0, SEEK_CUR));
}

std::int32_t ReadFileDescriptor(int descriptor, void* buffer, std::uint32_t length) {
  return static_cast<std::int32_t>(::read(descriptor, buffer, length));
}

namespace {

// Output files are never blocked on: a FIFO without a reader fails to open
// (ENXIO) instead of waiting for one, and a full pipe makes a write fail
// with EAGAIN instead of waiting for room.
constexpr int kOutputOpenFlags = O_WRONLY | O_NONBLOCK | O_CLOEXEC;

bool KeepsOrCarriesBytes(const struct stat& status) {
  return S_ISREG(status.st_mode) || S_ISFIFO(status.st_mode);
}

}  // namespace

OutputOpening OpenOutputFile(const char* path, int* descriptor, bool* created, char* reason,
                             std::uint32_t reasonSize) {
  *created = false;
  int opened = ::open(path, kOutputOpenFlags);
  if (opened == -1 && errno == ENOENT) {
    // Exclusive, so that a file that appears meanwhile is opened, never
    // taken for one of ours.
    opened =
        ::open(path, kOutputOpenFlags | O_CREAT | O_EXCL,
               S_IRUSR | S_IWUSR | S_IRGRP | S_IWGRP | S_IROTH | S_IWOTH);  // the umask decides
    *created = opened != -1;
    if (opened == -1 && errno == EEXIST) opened = ::open(path, kOutputOpenFlags);
  }
  if (opened == -1) {
    const int error = errno;
    struct stat status {};
    if (error == ENXIO && ::stat(path, &status) == 0 && S_ISFIFO(status.st_mode)) {
      CopyText("no one is reading this FIFO (start its reader first)", reason, reasonSize);
      return OutputOpening::kNoReader;
    }
    CopyText(std::strerror(error), reason, reasonSize);
    return OutputOpening::kFailed;
  }
  // Devices (/dev/null, a terminal) are shared by nature and take no lock.
  // The lock belongs to this open file, so it holds through the descriptor
  // that standard output gets as a copy, and ends with the process. A file
  // system that keeps no locks (ENOLCK) is written unlocked.
  struct stat status {};
  if (::fstat(opened, &status) == 0 && KeepsOrCarriesBytes(status) &&
      ::flock(opened, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
    ::close(opened);
    CopyText("another running relay or program is writing it", reason, reasonSize);
    return OutputOpening::kInUse;
  }
  *descriptor = opened;
  return OutputOpening::kOpened;
}

bool EmptyOutputFile(int descriptor, char* reason, std::uint32_t reasonSize) {
  struct stat status {};
  if (::fstat(descriptor, &status) == 0 && !S_ISREG(status.st_mode)) return true;
  if (::ftruncate(descriptor, 0) == 0) return true;
  CopyText(std::strerror(errno), reason, reasonSize);
  return false;
}

void RemoveOutputFile(const char* path) { ::unlink(path); }

std::int64_t WriteOutputFile(int descriptor, const void* bytes, std::uint32_t length,
                             std::uint32_t waitMs, char* reason, std::uint32_t reasonSize) {
  const std::uint32_t started = TickCount();
  for (;;) {
    const ssize_t written = ::write(descriptor, bytes, length);
    if (written >= 0) return written;
    if (errno == EINTR) continue;  // a stop signal, nothing written yet
    if (errno != EAGAIN && errno != EWOULDBLOCK) {
      CopyText(std::strerror(errno), reason, reasonSize);
      return -1;
    }
    const std::uint32_t waited = TickCount() - started;
    if (waited >= waitMs) return 0;
    pollfd watched{descriptor, POLLOUT, 0};
    ::poll(&watched, 1, static_cast<int>(waitMs - waited));
  }
}

void WatchOutputReader(int descriptor) { watchedOutput = descriptor; }

bool OutputReaderLeft(int descriptor) {
  // The writing end of a pipe without readers polls as an error, and does
  // so without taking anything from a reader that is still there.
  pollfd watched{descriptor, POLLOUT, 0};
  return ::poll(&watched, 1, 0) == 1 && (watched.revents & POLLERR) != 0;
}

OutputOpening ReopenOutputFifo(const char* path, int* descriptor, char* reason,
                               std::uint32_t reasonSize) {
  const int opened = ::open(path, kOutputOpenFlags);
  if (opened == -1) {
    if (errno == ENXIO) {
      CopyText("no one is reading this FIFO", reason, reasonSize);
      return OutputOpening::kNoReader;
    }
    CopyText(std::strerror(errno), reason, reasonSize);
    return OutputOpening::kFailed;
  }
  struct stat status {};
  if (::fstat(opened, &status) != 0 || !S_ISFIFO(status.st_mode)) {
    ::close(opened);
    CopyText("it is no longer a FIFO", reason, reasonSize);
    return OutputOpening::kFailed;
  }
  if (::flock(opened, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
    ::close(opened);
    CopyText("another running relay or program is writing it", reason, reasonSize);
    return OutputOpening::kInUse;
  }
  *descriptor = opened;
  return OutputOpening::kOpened;
}

bool TruncateOutputFile(int descriptor, std::uint64_t length, char* reason,
                        std::uint32_t reasonSize) {
  if (::ftruncate(descriptor, static_cast<off_t>(length)) == 0) return true;
  CopyText(std::strerror(errno), reason, reasonSize);
  return false;
}

bool CloseOutputFile(int descriptor, char* reason, std::uint32_t reasonSize) {
  // Linux releases the descriptor even when close reports an error, so it
  // is never retried.
  if (::close(descriptor) == 0) return true;
  CopyText(std::strerror(errno), reason, reasonSize);
  return false;
}

bool SameOutputFile(const char* first, const char* second) {
  struct stat one {};
  struct stat other {};
  return ::stat(first, &one) == 0 && ::stat(second, &other) == 0 && KeepsOrCarriesBytes(one) &&
         one.st_dev == other.st_dev && one.st_ino == other.st_ino;
}

void PointStandardOutputAt(int descriptor) {
  std::fflush(stdout);
  if (descriptor != -1) {
    ::dup2(descriptor, STDOUT_FILENO);
    return;
  }
  // Keep descriptor 1 taken: output meant for the log is lost, nothing else.
  const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (null == -1) return;
  ::dup2(null, STDOUT_FILENO);
  ::close(null);
}

int StandardOutputDescriptor() { return ::fileno(stdout); }

void TreatOutputSignalsAsErrors() {
  ::signal(SIGPIPE, SIG_IGN);
  ::signal(SIGXFSZ, SIG_IGN);
}

std::uint64_t WallClockMicroseconds() {
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  return static_cast<std::uint64_t>(now.tv_sec) * 1000000u +
         static_cast<std::uint64_t>(now.tv_nsec) / 1000u;
}

bool IsLocalAddress(std::uint32_t address) {
  // The whole of 127.0.0.0/8 is this machine's, though only 127.0.0.1 is
  // listed on the loopback interface.
  if ((ntohl(address) >> 24) == 127) return true;
  ifaddrs* interfaces = nullptr;
  if (::getifaddrs(&interfaces) != 0) return false;
  bool local = false;
  for (const ifaddrs* entry = interfaces; entry != nullptr && !local; entry = entry->ifa_next) {
    if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET) continue;
    local = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr)->sin_addr.s_addr == address;
  }
  ::freeifaddrs(interfaces);
  return local;
}

}  // namespace tessard::platform
