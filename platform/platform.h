// The one seam between Tessard and the operating system. posix.cpp and
// windows.cpp each fill it; CMake compiles exactly one of them. Everything
// above this header is free of operating-system names.
#pragma once

#include <cstdint>

#include "platform/socket_errors.h"

namespace tessard::platform {

// Sockets.

// Socket handles are pointer-sized on Windows and small integers on POSIX;
// both fit here, and kInvalidSocket is the value of INVALID_SOCKET on both.
using SocketHandle = std::intptr_t;
constexpr SocketHandle kInvalidSocket = -1;

// Winsock's readiness event; on POSIX a token that only says "selected".
using EventHandle = void*;

// The socket library's failure result for bind, sendto and recvfrom.
constexpr int kSocketError = -1;

// Socket error codes, in Winsock's numbering on every platform: the
// kError constants of the one list.
#define TESSARD_ERROR_CONSTANT(constant, code, name, posixError, inNameTable) \
  constexpr int constant = code;
TESSARD_SOCKET_ERRORS(TESSARD_ERROR_CONSTANT)
#undef TESSARD_ERROR_CONSTANT

// An IPv4 socket address is handed to the calls below as the 16 bytes of
// the platform's sockaddr_in: family (host order), port and address
// (network order), eight zero bytes.
constexpr int kSocketAddressSize = 16;

// Socket library, once per process. Results are WSAStartup's and
// WSACleanup's (0 on success).
int SocketStartup();
int SocketCleanup();

// The last socket error of this thread, in Winsock's numbering.
int LastSocketError();

// socket(AF_INET, SOCK_DGRAM, 0); kInvalidSocket on failure.
SocketHandle OpenUdpSocket();
// bind(); 0 or kSocketError.
int BindSocket(SocketHandle socket, const void* address16);
// Asks for receive and send buffers of bytes each; the system may give
// less (Linux caps them at net.core.rmem_max and wmem_max). Nothing is
// reported: a socket keeps its default buffers when this fails.
void WidenSocketBuffers(SocketHandle socket, int bytes);
// The locally bound port, in host order; 0 when it cannot be told.
std::uint16_t LocalPort(SocketHandle socket);
void CloseSocket(SocketHandle socket);

// One datagram to address16: the byte count sent, or kSocketError.
int SendTo(SocketHandle socket, const std::uint8_t* bytes, std::int32_t length,
           const void* address16);
// One datagram into buffer, its sender into address16: the byte count, or
// kSocketError. A datagram longer than capacity is refused whole, never
// cut: the result is kSocketError with LastSocketError() kErrorMessageSize,
// and the datagram is gone.
int ReceiveFrom(SocketHandle socket, std::uint8_t* buffer, std::int32_t capacity, void* address16);

// The readiness event of a socket: an event that a wait on it resets, and
// WSAEventSelect for FD_READ (which also makes the socket non-blocking).
// Only the wait looks at it: a receive always asks the socket itself.
EventHandle CreateReadinessEvent();
void SelectForReading(SocketHandle socket, EventHandle event);
void CloseReadinessEvent(EventHandle event);

// One socket and its readiness event, watched between the relay's passes.
struct ReadinessWatch {
  SocketHandle socket;
  EventHandle event;  // nullptr: the socket is not watched
};
// Waits until a datagram is queued on one of the watched sockets, a key
// waits on the keyboard (once StartKeyboardWatch has run), a stop is
// requested, or milliseconds pass, whichever comes first (alertable). A
// datagram that arrived before the call ends it at once, and so does a
// stop request that came before it. True when a datagram may be waiting
// (one that a receive took after it signalled may still end one wait); a
// key is told by KeyPressed.
bool WaitForReadable(const ReadinessWatch* watches, int count, std::uint32_t milliseconds);

std::uint16_t HostToNetwork16(std::uint16_t value);
std::uint16_t NetworkToHost16(std::uint16_t value);

// Addresses and host names.

// inet_addr: the dotted quad in network order, or 0xFFFFFFFF when the text
// is not one.
std::uint32_t ParseDottedQuad(const char* text);
// gethostbyname: the first IPv4 address of the host, in network order.
bool LookUpHost(const char* name, std::uint32_t* address);
// inet_ntoa: the text lives in a buffer of the socket library's, valid
// until the next call on this thread.
const char* FormatDottedQuad(std::uint32_t address);
// Whether the IPv4 address (network order) is one of this machine's own: a
// loopback address or an address of one of its interfaces.
bool IsLocalAddress(std::uint32_t address);

// Files, directories and the settings file.

// GetCurrentDirectoryA: the length written (without the terminator) when
// it fits in size bytes; otherwise the size needed, buffer untouched;
// 0 on failure, with LastSystemErrorText telling why.
std::uint32_t CurrentDirectory(char* buffer, std::uint32_t size);
// The reason the last failed file or directory call of this thread failed,
// as the system words it (always terminated).
void LastSystemErrorText(char* reason, std::uint32_t reasonSize);
// What joins a directory and a file name: "/" or "\".
const char* PathSeparator();

// GetPrivateProfileStringA: the value of key in section of the profile
// file at path, or defaultValue, cut to size - 1 characters and always
// terminated; the number of characters written.
std::uint32_t ReadProfileString(const char* section, const char* key, const char* defaultValue,
                                char* destination, std::uint32_t size, const char* path);

enum class FileAccess { kMissing, kReadable, kUnreadable };
// Whether the file at path can be opened for reading; for an existing file
// that cannot (a directory, no permission), the reason.
FileAccess CheckReadable(const char* path, char* reason, std::uint32_t reasonSize);

// The runtime's low-level file calls, as the file reader uses them. Open
// is for reading and writing, creates a missing file (empty, read and
// write permission) and never truncates; -1 on failure.
int OpenFileDescriptor(const char* path);
int CloseFileDescriptor(int descriptor);
// origin: 0 from the start, 1 from the current position, 2 from the end.
std::int32_t SeekFileDescriptor(int descriptor, std::int32_t offset, int origin);
std::int32_t TellFileDescriptor(int descriptor);
std::int32_t ReadFileDescriptor(int descriptor, void* buffer, std::uint32_t length);

// Outputs: the log and the capture.

// Output files, the log and the capture: written straight through, with no
// buffer between the caller and the operating system. Each call that fails
// puts the reason into reason (always terminated).

// How long one write may wait for a pipe or FIFO whose reader is behind,
// before the output is given up: short enough that the relay loop never
// stalls for long, long enough for a reader that is merely busy.
constexpr std::uint32_t kOutputWaitMs = 250;

enum class OutputOpening {
  kOpened,
  kInUse,     // another running relay (or another program) is writing it
  kNoReader,  // a FIFO that no one has open for reading
  kFailed,
};

// Opens path for writing without emptying it, creating it when it is
// missing (*created then tells so), and takes its lock: an exclusive
// advisory lock on a regular file or FIFO on POSIX, a share mode that lets
// others read but not write on Windows. Never waits for a reader: a FIFO
// that no one reads fails at once (kNoReader).
OutputOpening OpenOutputFile(const char* path, int* descriptor, bool* created, char* reason,
                             std::uint32_t reasonSize);
// Empties a regular file opened by OpenOutputFile; a FIFO or a device is
// left as it is.
bool EmptyOutputFile(int descriptor, char* reason, std::uint32_t reasonSize);
// Removes a file that OpenOutputFile created, when it is given up unused.
void RemoveOutputFile(const char* path);
// One write: the count of bytes taken, fewer than length when the file took
// only part, or -1. A pipe that has no room is waited on for up to waitMs;
// 0 when none came by then.
std::int64_t WriteOutputFile(int descriptor, const void* bytes, std::uint32_t length,
                             std::uint32_t waitMs, char* reason, std::uint32_t reasonSize);
// Whether descriptor is a pipe or FIFO that every reader has closed (a
// write would fail with a broken pipe). Never waits.
bool OutputReaderLeft(int descriptor);
// The reason an output gives when the reader of its pipe has gone.
constexpr const char* kReaderLeftReason = "Broken pipe";
// From now on WaitForReadable also ends when every reader of the pipe or
// FIFO descriptor has gone (one output at a time); -1 stops that.
void WatchOutputReader(int descriptor);
// Opens the FIFO at path for writing again, once its reader has left, and
// takes its lock as OpenOutputFile does. Never creates a file and never
// waits: kNoReader while no one has it open for reading, kInUse while
// another program holds its lock, kFailed when path is no FIFO (or on a
// system without FIFOs).
OutputOpening ReopenOutputFifo(const char* path, int* descriptor, char* reason,
                               std::uint32_t reasonSize);
// Cuts the file to length bytes; false when it cannot be cut (a pipe).
bool TruncateOutputFile(int descriptor, std::uint64_t length, char* reason,
                        std::uint32_t reasonSize);
bool CloseOutputFile(int descriptor, char* reason, std::uint32_t reasonSize);

// Whether two paths name one file that keeps or carries what is written to
// it (a regular file or a FIFO), by its identity: device and inode, volume
// and file index. Any spelling and any link of the same file match; a
// missing file matches nothing.
bool SameOutputFile(const char* first, const char* second);

// Standard output from now on writes to descriptor (which stays open as
// well); -1 points it at the null device.
void PointStandardOutputAt(int descriptor);
// The descriptor standard output writes to.
int StandardOutputDescriptor();

// A reader that leaves a pipe (SIGPIPE) or a file-size limit (SIGXFSZ) must
// not end the process: the write fails instead, with its reason.
void TreatOutputSignalsAsErrors();

// Time.

// Milliseconds since the system started, wrapping at 2^32 (GetTickCount).
std::uint32_t TickCount();
// SleepEx(milliseconds, TRUE).
void SleepAlertable(std::uint32_t milliseconds);
// Wall-clock time in microseconds since 1970-01-01 00:00:00 UTC.
std::uint64_t WallClockMicroseconds();

// The console and stop requests.

// The keyboard. StartKeyboardWatch puts a terminal into non-canonical,
// no-echo mode (undone by StopKeyboardWatch and at every normal exit), and
// from then on WaitForReadable watches standard input too. KeyPressed never
// blocks and consumes no key: true while a byte waits on standard input (on
// a Windows console, a key press; other console events are read and
// dropped). End of input or no input is never a key, and once seen, the
// wait no longer looks at standard input. A terminal is only ever changed,
// and its keys only ever count, while the relay is in the terminal's
// foreground: a relay started or put in the background runs on untouched,
// and takes the terminal again when it is brought back.
void StartKeyboardWatch();
bool KeyPressed();
void StopKeyboardWatch();

// SIGINT, SIGTERM and SIGHUP (Ctrl-C, Ctrl-Break, console close) are
// caught and remembered; StopRequested tells whether one has arrived.
void InstallStopHandlers();
bool StopRequested();

}  // namespace tessard::platform
