// The platform seam on Windows: Winsock 2, the kernel's profile, time and
// console services, and the C runtime's low-level file calls, each called
// by its own name.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#define _WINSOCK_DEPRECATED_NO_WARNINGS
#define _CRT_SECURE_NO_WARNINGS
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>
#include <winsock2.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/platform.h"

namespace tessard::platform {
namespace {

static_assert(sizeof(sockaddr_in) == kSocketAddressSize);

constexpr int kOpenFlags = _O_RDWR | _O_CREAT | _O_BINARY;  // 0x8102
constexpr int kOpenMode = _S_IREAD | _S_IWRITE;             // 0x180
static_assert(kOpenFlags == 0x8102 && kOpenMode == 0x180);

SOCKET Native(SocketHandle socket) { return static_cast<SOCKET>(socket); }

volatile LONG stopRequested = 0;
HANDLE stopEvent = nullptr;  // set with stopRequested, so that a wait ends at once
HANDLE processEnding = nullptr;

void RequestStop() {
  InterlockedExchange(&stopRequested, 1);
  if (stopEvent != nullptr) SetEvent(stopEvent);
}

void SignalProcessEnding() {
  if (processEnding != nullptr) SetEvent(processEnding);
}

BOOL WINAPI OnConsoleControl(DWORD controlType) {
  switch (controlType) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
      RequestStop();
      return TRUE;
    case CTRL_CLOSE_EVENT:
      // Windows ends the process as soon as this returns: give the loop
      // the time to write the stored log out first.
      RequestStop();
      if (processEnding != nullptr) WaitForSingleObject(processEnding, 4500);
      return TRUE;
    default:
      return FALSE;
  }
}

bool BytesWaitingInFile(HANDLE input) {
  LARGE_INTEGER size{};
  LARGE_INTEGER position{};
  LARGE_INTEGER none{};
  return GetFileSizeEx(input, &size) && SetFilePointerEx(input, none, &position, FILE_CURRENT) &&
         position.QuadPart < size.QuadPart;
}

// How the wait watches standard input, as the keyboard watch found it: a
// console's input handle is waited on; a pipe cannot be, so the wait looks
// at it every kLookMs, and so at a console that refuses to be waited on.
enum class InputWatch { kNone, kWaitedOn, kLookedAt };
InputWatch inputWatch = InputWatch::kNone;
constexpr DWORD kLookMs = 10;
// A pipe whose writer has gone: it never holds a key again.
bool inputEnded = false;

InputWatch WatchFor(HANDLE input) {
  if (input == nullptr || input == INVALID_HANDLE_VALUE) return InputWatch::kNone;
  DWORD consoleMode = 0;
  if (GetConsoleMode(input, &consoleMode)) return InputWatch::kWaitedOn;
  return GetFileType(input) == FILE_TYPE_PIPE ? InputWatch::kLookedAt : InputWatch::kNone;
}

// A key going down, other than a modifier or lock key on its own: what a
// user means by pressing a key.
bool IsKeyPress(const INPUT_RECORD& event) {
  if (event.EventType != KEY_EVENT || !event.Event.KeyEvent.bKeyDown) return false;
  switch (event.Event.KeyEvent.wVirtualKeyCode) {
    case VK_SHIFT:
    case VK_CONTROL:
    case VK_MENU:
    case VK_LWIN:
    case VK_RWIN:
    case VK_CAPITAL:
    case VK_NUMLOCK:
    case VK_SCROLL:
      return false;
    default:
      return true;
  }
}

// The console's input handle stays signalled while it holds any event, so
// the events that are not key presses (focus, mouse, window size, keys
// going up, a modifier alone) are read and dropped here; a key press is
// left unread. Bounded, so that a storm of mouse events cannot hold the
// relay.
bool ConsoleKeyWaiting(HANDLE input) {
  INPUT_RECORD events[64];
  for (int round = 0; round < 16; ++round) {
    DWORD count = 0;
    if (!PeekConsoleInputA(input, events, 64, &count) || count == 0) return false;
    for (DWORD i = 0; i < count; ++i) {
      if (IsKeyPress(events[i])) return true;
    }
    DWORD dropped = 0;  // exactly the events peeked: later ones queue behind them
    if (!ReadConsoleInputA(input, events, count, &dropped) || dropped == 0) return false;
  }
  return false;
}

void CopyText(const char* text, char* destination, std::uint32_t size) {
  if (size == 0) return;
  std::snprintf(destination, size, "%s", text);
}

// The system's own wording of a Win32 error code, without its line end.
void CopyErrorText(DWORD error, char* destination, std::uint32_t size) {
  if (size == 0) return;
  const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                      nullptr, error, 0, destination, size, nullptr);
  if (length == 0) {
    std::snprintf(destination, size, "Windows error %lu", static_cast<unsigned long>(error));
    return;
  }
  std::uint32_t end = length < size ? length : size - 1;
  while (end > 0 && (destination[end - 1] == '\r' || destination[end - 1] == '\n' ||
                     destination[end - 1] == ' ')) {
    --end;
  }
  destination[end] = '\0';
}

}  // namespace

int SocketStartup() {
  WSADATA data;
  return WSAStartup(0x0202, &data);
}

int SocketCleanup() { return WSACleanup(); }

int LastSocketError() { return WSAGetLastError(); }

SocketHandle OpenUdpSocket() {
  const SOCKET created = socket(AF_INET, SOCK_DGRAM, 0);
  if (created == INVALID_SOCKET) return kInvalidSocket;
  // Processes the relay's tests start must not inherit its ports.
  SetHandleInformation(reinterpret_cast<HANDLE>(created), HANDLE_FLAG_INHERIT, 0);
  return static_cast<SocketHandle>(created);
}

int BindSocket(SocketHandle socket, const void* address16) {
  return bind(Native(socket), static_cast<const sockaddr*>(address16), kSocketAddressSize) ==
                 SOCKET_ERROR
             ? kSocketError
             : 0;
}

void WidenSocketBuffers(SocketHandle socket, int bytes) {
  const auto* value = reinterpret_cast<const char*>(&bytes);
  setsockopt(Native(socket), SOL_SOCKET, SO_RCVBUF, value, sizeof bytes);
  setsockopt(Native(socket), SOL_SOCKET, SO_SNDBUF, value, sizeof bytes);
}

std::uint16_t LocalPort(SocketHandle socket) {
  sockaddr_in local{};
  int length = sizeof(local);
  if (getsockname(Native(socket), reinterpret_cast<sockaddr*>(&local), &length) != 0) return 0;
  return ntohs(local.sin_port);
}

void CloseSocket(SocketHandle socket) {
  if (socket != kInvalidSocket) closesocket(Native(socket));
}

int SendTo(SocketHandle socket, const std::uint8_t* bytes, std::int32_t length,
           const void* address16) {
  return sendto(Native(socket), reinterpret_cast<const char*>(bytes), length, 0,
                static_cast<const sockaddr*>(address16), kSocketAddressSize);
}

int ReceiveFrom(SocketHandle socket, std::uint8_t* buffer, std::int32_t capacity, void* address16) {
  int addressLength = kSocketAddressSize;
  // Winsock refuses a datagram longer than the buffer with WSAEMSGSIZE.
  return recvfrom(Native(socket), reinterpret_cast<char*>(buffer), capacity, 0,
                  static_cast<sockaddr*>(address16), &addressLength);
}

// Auto-reset, unlike WSACreateEvent's: the wait that it ends takes the
// signal with it, and nothing else ever resets it, so the receive needs no
// call of its own before its recvfrom. Winsock sets the event when a
// datagram arrives while FD_READ is enabled, and every recvfrom enables it
// again, whatever it returns (an empty datagram, nothing at all); one that
// leaves a datagram queued sets the event again at once. So no datagram is
// ever slept through, and a datagram read before the wait costs at most
// one wake-up that finds nothing.
EventHandle CreateReadinessEvent() { return CreateEventA(nullptr, FALSE, FALSE, nullptr); }

void SelectForReading(SocketHandle socket, EventHandle event) {
  WSAEventSelect(Native(socket), static_cast<WSAEVENT>(event), FD_READ);
}

// A socket's event set since the last wait means a datagram may be queued,
// and ends the wait at once. The console's input handle is signalled while
// it holds input; the stop event, when a stop comes.
bool WaitForReadable(const ReadinessWatch* watches, int count, std::uint32_t milliseconds) {
  HANDLE events[WSA_MAXIMUM_WAIT_EVENTS];
  DWORD eventCount = 0;
  if (stopEvent != nullptr) events[eventCount++] = stopEvent;
  const DWORD firstSocket = eventCount;
  for (int i = 0; i < count && eventCount + 1 < WSA_MAXIMUM_WAIT_EVENTS; ++i) {
    if (watches[i].event != nullptr) events[eventCount++] = watches[i].event;
  }
  const DWORD socketEnd = eventCount;
  const InputWatch watch = inputEnded ? InputWatch::kNone : inputWatch;
  if (watch == InputWatch::kWaitedOn) events[eventCount++] = GetStdHandle(STD_INPUT_HANDLE);
  const DWORD timeout =
      watch == InputWatch::kLookedAt && milliseconds > kLookMs ? kLookMs : milliseconds;
  if (InterlockedCompareExchange(&stopRequested, 0, 0) != 0) return false;
  if (eventCount == 0) {
    SleepEx(timeout, TRUE);
    return false;
  }
  const DWORD result = WSAWaitForMultipleEvents(eventCount, events, FALSE, timeout, TRUE);
  if (result == WSA_WAIT_FAILED && watch == InputWatch::kWaitedOn) {
    inputWatch = InputWatch::kLookedAt;  // from the next wait on
  }
  return result >= WSA_WAIT_EVENT_0 + firstSocket && result < WSA_WAIT_EVENT_0 + socketEnd;
}

void CloseReadinessEvent(EventHandle event) {
  if (event != nullptr) WSACloseEvent(static_cast<WSAEVENT>(event));
}

std::uint16_t HostToNetwork16(std::uint16_t value) { return htons(value); }

std::uint16_t NetworkToHost16(std::uint16_t value) { return ntohs(value); }

std::uint32_t ParseDottedQuad(const char* text) {
  return static_cast<std::uint32_t>(inet_addr(text));
}

bool LookUpHost(const char* name, std::uint32_t* address) {
  const hostent* host = gethostbyname(name);
  if (host == nullptr || host->h_addrtype != AF_INET || host->h_length != 4 ||
      host->h_addr_list[0] == nullptr) {
    return false;
  }
  std::memcpy(address, host->h_addr_list[0], 4);
  return true;
}

const char* FormatDottedQuad(std::uint32_t address) {
  in_addr value{};
  value.s_addr = address;
  return inet_ntoa(value);
}

std::uint32_t CurrentDirectory(char* buffer, std::uint32_t size) {
  return GetCurrentDirectoryA(size, buffer);
}

void LastSystemErrorText(char* reason, std::uint32_t reasonSize) {
  CopyErrorText(GetLastError(), reason, reasonSize);
}

const char* PathSeparator() { return "\\"; }

std::uint32_t ReadProfileString(const char* section, const char* key, const char* defaultValue,
                                char* destination, std::uint32_t size, const char* path) {
  return GetPrivateProfileStringA(section, key, defaultValue, destination, size, path);
}

FileAccess CheckReadable(const char* path, char* reason, std::uint32_t reasonSize) {
  const HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    CloseHandle(file);
    return FileAccess::kReadable;
  }
  const DWORD error = GetLastError();
  if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return FileAccess::kMissing;
  CopyErrorText(error, reason, reasonSize);
  return FileAccess::kUnreadable;
}

std::uint32_t TickCount() { return GetTickCount(); }

void SleepAlertable(std::uint32_t milliseconds) { SleepEx(milliseconds, TRUE); }

void StartKeyboardWatch() { inputWatch = WatchFor(GetStdHandle(STD_INPUT_HANDLE)); }

bool KeyPressed() {
  const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  if (inputEnded || input == nullptr || input == INVALID_HANDLE_VALUE) return false;
  DWORD consoleMode = 0;
  if (GetConsoleMode(input, &consoleMode)) return ConsoleKeyWaiting(input);
  switch (GetFileType(input)) {
    case FILE_TYPE_PIPE: {
      DWORD waiting = 0;
      if (PeekNamedPipe(input, nullptr, 0, nullptr, &waiting, nullptr)) return waiting > 0;
      inputEnded = true;  // its writer has gone
      return false;
    }
    case FILE_TYPE_DISK:
      return BytesWaitingInFile(input);
    default:
      return false;  // the NUL device, or nothing at all
  }
}

void StopKeyboardWatch() {}

void InstallStopHandlers() {
  if (processEnding == nullptr) {
    processEnding = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::atexit(SignalProcessEnding);
  }
  if (stopEvent == nullptr) stopEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

bool StopRequested() { return stopRequested != 0; }

int OpenFileDescriptor(const char* path) { return _open(path, kOpenFlags, kOpenMode); }

int CloseFileDescriptor(int descriptor) { return _close(descriptor); }

std::int32_t SeekFileDescriptor(int descriptor, std::int32_t offset, int origin) {
  return _lseek(descriptor, offset, origin);
}

std::int32_t TellFileDescriptor(int descriptor) { return _tell(descriptor); }

std::int32_t ReadFileDescriptor(int descriptor, void* buffer, std::uint32_t length) {
  return _read(descriptor, buffer, length);
}

namespace {

// A file, not a device or a directory: something that keeps what is
// written to it.
bool IsDiskFile(HANDLE file) { return GetFileType(file) == FILE_TYPE_DISK; }

HANDLE OpenForWriting(const char* path, DWORD disposition) {
  // Others may read the file while it is written, but not write it: that is
  // the lock that keeps a second relay from emptying it.
  return CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, disposition,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

// The C runtime's low-level calls on the handle reach WriteFile without a
// buffer of their own; binary mode keeps every byte as given, and the handle
// is not inherited by processes the relay's tests start.
OutputOpening OpenOutputFile(const char* path, int* descriptor, bool* created, char* reason,
                             std::uint32_t reasonSize) {
  *created = false;
  HANDLE file = OpenForWriting(path, OPEN_EXISTING);
  if (file == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_NOT_FOUND) {
    file = OpenForWriting(path, CREATE_NEW);
    *created = file != INVALID_HANDLE_VALUE;
    if (file == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_EXISTS) {
      file = OpenForWriting(path, OPEN_EXISTING);
    }
  }
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    if (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION) {
      CopyText("another running relay or program is writing it", reason, reasonSize);
      return OutputOpening::kInUse;
    }
    CopyErrorText(error, reason, reasonSize);
    return OutputOpening::kFailed;
  }
  const int opened = _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_WRONLY | _O_BINARY);
  if (opened == -1) {
    CopyText(std::strerror(errno), reason, reasonSize);
    CloseHandle(file);
    return OutputOpening::kFailed;
  }
  *descriptor = opened;
  return OutputOpening::kOpened;
}

bool EmptyOutputFile(int descriptor, char* reason, std::uint32_t reasonSize) {
  if (!IsDiskFile(reinterpret_cast<HANDLE>(_get_osfhandle(descriptor)))) return true;
  if (_chsize_s(descriptor, 0) == 0) return true;
  CopyText(std::strerror(errno), reason, reasonSize);
  return false;
}

void RemoveOutputFile(const char* path) { DeleteFileA(path); }

// A named pipe is written as a file is: WriteFile waits for its reader.
std::int64_t WriteOutputFile(int descriptor, const void* bytes, std::uint32_t length,
                             std::uint32_t /*waitMs*/, char* reason, std::uint32_t reasonSize) {
  const int written = _write(descriptor, bytes, length);
  if (written < 0) CopyText(std::strerror(errno), reason, reasonSize);
  return written;
}

bool OutputReaderLeft(int /*descriptor*/) { return false; }

void WatchOutputReader(int /*descriptor*/) {}

OutputOpening ReopenOutputFifo(const char* /*path*/, int* /*descriptor*/, char* reason,
                               std::uint32_t reasonSize) {
  CopyText("Windows has no FIFOs", reason, reasonSize);
  return OutputOpening::kFailed;
}

bool TruncateOutputFile(int descriptor, std::uint64_t length, char* reason,
                        std::uint32_t reasonSize) {
  const errno_t error = _chsize_s(descriptor, static_cast<__int64>(length));
  if (error == 0) return true;
  CopyText(std::strerror(error), reason, reasonSize);
  return false;
}

bool CloseOutputFile(int descriptor, char* reason, std::uint32_t reasonSize) {
  if (_close(descriptor) == 0) return true;
  CopyText(std::strerror(errno), reason, reasonSize);
  return false;
}

namespace {

// The volume and file index of a file that keeps what is written to it.
bool IdentifyDiskFile(const char* path, BY_HANDLE_FILE_INFORMATION* identity) {
  // No access asked for: a file that another relay writes can still be
  // identified. Backup semantics opens a directory, which is then refused.
  const HANDLE file = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  const bool found = IsDiskFile(file) && GetFileInformationByHandle(file, identity) &&
                     (identity->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
  CloseHandle(file);
  return found;
}

}  // namespace

bool SameOutputFile(const char* first, const char* second) {
  BY_HANDLE_FILE_INFORMATION one{};
  BY_HANDLE_FILE_INFORMATION other{};
  return IdentifyDiskFile(first, &one) && IdentifyDiskFile(second, &other) &&
         one.dwVolumeSerialNumber == other.dwVolumeSerialNumber &&
         one.nFileIndexHigh == other.nFileIndexHigh && one.nFileIndexLow == other.nFileIndexLow;
}

void PointStandardOutputAt(int descriptor) {
  std::fflush(stdout);
  if (descriptor != -1) {
    _dup2(descriptor, 1);
    return;
  }
  // Keep the stream usable: output meant for the log is lost, nothing else.
  const int null = _open("NUL", _O_WRONLY | _O_BINARY | _O_NOINHERIT);
  if (null == -1) return;
  _dup2(null, 1);
  _close(null);
}

// The descriptor PointStandardOutputAt sets, even where the process was
// started without a standard output.
int StandardOutputDescriptor() { return 1; }

// Windows raises no signal for a closed pipe or a full disk.
void TreatOutputSignalsAsErrors() {}

std::uint64_t WallClockMicroseconds() {
  // FILETIME counts 100 ns ticks since 1601-01-01 UTC.
  constexpr std::uint64_t kTicksFrom1601To1970 = 116444736000000000u;
  FILETIME now{};
  GetSystemTimePreciseAsFileTime(&now);
  const std::uint64_t ticks =
      static_cast<std::uint64_t>(now.dwHighDateTime) << 32 | now.dwLowDateTime;
  return (ticks - kTicksFrom1601To1970) / 10u;
}

bool IsLocalAddress(std::uint32_t address) {
  if ((ntohl(address) >> 24) == 127) return true;
  // An address that a socket can be bound to is one of this machine's.
  const SOCKET probe = socket(AF_INET, SOCK_DGRAM, 0);
  if (probe == INVALID_SOCKET) return false;
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_addr.s_addr = address;
  const bool bound =
      bind(probe, reinterpret_cast<const sockaddr*>(&local), sizeof(local)) != SOCKET_ERROR;
  closesocket(probe);
  return bound;
}

}  // namespace tessard::platform
