#include "util/winsock_error_names.h"

#include <cstddef>

namespace tessard {
namespace {

struct NamedCode {
  std::int32_t code;
  const char* name;
};

constexpr NamedCode kNames[] = {
    {6, "WSA_INVALID_HANDLE"},      {8, "WSA_NOT_ENOUGH_MEMORY"}, {87, "WSA_INVALID_PARAMETER"},
    {995, "WSA_OPERATION_ABORTED"}, {997, "WSA_IO_PENDING"},      {10004, "WSAEINTR"},
    {10014, "WSAEFAULT"},           {10022, "WSAEINVAL"},         {10035, "WSAEWOULDBLOCK"},
    {10036, "WSAEINPROGRESS"},      {10038, "WSAENOTSOCK"},       {10040, "WSAEMSGSIZE"},
    {10045, "WSAEOPNOTSUPP"},       {10050, "WSAENETDOWN"},       {10052, "WSAENETRESET"},
    {10054, "WSAECONNRESET"},       {10056, "WSAEISCONN"},        {10057, "WSAENOTCONN"},
    {10058, "WSAESHUTDOWN"},        {10060, "WSAETIMEDOUT"},      {10093, "WSANOTINITIALISED"},
    {10101, "WSAEDISCON"},
};

// Codes that opening a socket can meet and that the library's table
// leaves out.
constexpr NamedCode kOpenErrorNames[] = {
    {10013, "WSAEACCES"},          {10024, "WSAEMFILE"},       {10043, "WSAEPROTONOSUPPORT"},
    {10044, "WSAESOCKTNOSUPPORT"}, {10047, "WSAEAFNOSUPPORT"}, {10048, "WSAEADDRINUSE"},
    {10049, "WSAEADDRNOTAVAIL"},   {10055, "WSAENOBUFS"},      {10107, "WSASYSCALLFAILURE"},
};

template <std::size_t kSize>
const char* FindName(const NamedCode (&table)[kSize], std::int32_t code) {
  for (const NamedCode& entry : table) {
    if (entry.code == code) return entry.name;
  }
  return nullptr;
}

}  // namespace

const char* WinsockErrorName(std::int32_t code) {
  const char* name = FindName(kNames, code);
  return name != nullptr ? name : "Unknown error";
}

const char* SocketErrorName(std::int32_t code) {
  const char* name = FindName(kNames, code);
  return name != nullptr ? name : FindName(kOpenErrorNames, code);
}

}  // namespace tessard
