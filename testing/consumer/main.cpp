// Calls the installed utility library through its installed headers: the
// standard CRC-32 check value and one socket error name.
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "util/checksums.h"
#include "util/winsock_error_names.h"

int main() {
  tessard::CrcTable table;
  tessard::BuildCrcTable(table, 0);
  const char* text = "123456789";
  const std::uint32_t crc = tessard::Crc32(reinterpret_cast<const std::uint8_t*>(text), table, 9);
  const char* name = tessard::WinsockErrorName(10040);
  std::printf("Crc32(\"123456789\") = %08X, WinsockErrorName(10040) = %s\n",
              static_cast<unsigned>(crc), name);
  return crc == 0xCBF43926u && std::strcmp(name, "WSAEMSGSIZE") == 0 ? 0 : 1;
}
