#include "relay/socket_error_text.h"

#include <cstring>

#include "util/winsock_error_names.h"

namespace tessard {
namespace {

struct NamedCode {
  std::int32_t code;
  const char* name;
};

// The errors that opening an endpoint can meet and that the library's
// name table leaves out.
constexpr NamedCode kOpenErrorNames[] = {
    {10013, "WSAEACCES"},          {10024, "WSAEMFILE"},       {10043, "WSAEPROTONOSUPPORT"},
    {10044, "WSAESOCKTNOSUPPORT"}, {10047, "WSAEAFNOSUPPORT"}, {10048, "WSAEADDRINUSE"},
    {10049, "WSAEADDRNOTAVAIL"},   {10055, "WSAENOBUFS"},      {10107, "WSASYSCALLFAILURE"},
};

const char* NameOf(std::int32_t code) {
  for (const NamedCode& entry : kOpenErrorNames) {
    if (entry.code == code) return entry.name;
  }
  const char* name = WinsockErrorName(code);
  return std::strcmp(name, "Unknown error") == 0 ? nullptr : name;
}

}  // namespace

std::string DescribeSocketError(std::int32_t code) {
  const char* name = NameOf(code);
  if (name == nullptr) return "socket error " + std::to_string(code);
  return std::string(name) + " (" + std::to_string(code) + ")";
}

}  // namespace tessard
