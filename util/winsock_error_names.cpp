#include "util/winsock_error_names.h"

#include "platform/socket_errors.h"

namespace tessard {
namespace {

struct NamedCode {
  std::int32_t code;
  const char* name;
  bool inNameTable;  // one of the socket library's own table
};

#define TESSARD_NAMED_CODE(constant, code, name, posixError, inNameTable) {code, name, inNameTable},
constexpr NamedCode kNames[] = {TESSARD_SOCKET_ERRORS(TESSARD_NAMED_CODE)};
#undef TESSARD_NAMED_CODE

const NamedCode* Find(std::int32_t code) {
  for (const NamedCode& entry : kNames) {
    if (entry.code == code) return &entry;
  }
  return nullptr;
}

}  // namespace

const char* WinsockErrorName(std::int32_t code) {
  const NamedCode* entry = Find(code);
  return entry != nullptr && entry->inNameTable ? entry->name : "Unknown error";
}

const char* SocketErrorName(std::int32_t code) {
  const NamedCode* entry = Find(code);
  return entry != nullptr ? entry->name : nullptr;
}

}  // namespace tessard
