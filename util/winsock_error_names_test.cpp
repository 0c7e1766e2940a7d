#include "util/winsock_error_names.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <string>

namespace tessard {
namespace {

// The socket library's table, entry for entry; every other code is unknown.
TEST(WinsockErrorNameTest, NamesExactlyTheTwentyTwoCodesOfTheTable) {
  const std::map<std::int32_t, std::string> table = {
      {6, "WSA_INVALID_HANDLE"},      {8, "WSA_NOT_ENOUGH_MEMORY"}, {87, "WSA_INVALID_PARAMETER"},
      {995, "WSA_OPERATION_ABORTED"}, {997, "WSA_IO_PENDING"},      {10004, "WSAEINTR"},
      {10014, "WSAEFAULT"},           {10022, "WSAEINVAL"},         {10035, "WSAEWOULDBLOCK"},
      {10036, "WSAEINPROGRESS"},      {10038, "WSAENOTSOCK"},       {10040, "WSAEMSGSIZE"},
      {10045, "WSAEOPNOTSUPP"},       {10050, "WSAENETDOWN"},       {10052, "WSAENETRESET"},
      {10054, "WSAECONNRESET"},       {10056, "WSAEISCONN"},        {10057, "WSAENOTCONN"},
      {10058, "WSAESHUTDOWN"},        {10060, "WSAETIMEDOUT"},      {10093, "WSANOTINITIALISED"},
      {10101, "WSAEDISCON"},
  };
  for (std::int32_t code = -20000; code <= 20000; ++code) {
    const auto entry = table.find(code);
    const std::string expected = entry == table.end() ? "Unknown error" : entry->second;
    ASSERT_EQ(WinsockErrorName(code), expected) << code;
  }
  for (std::int32_t code : {INT32_MIN, INT32_MAX, 10054 + 65536}) {
    EXPECT_EQ(std::string(WinsockErrorName(code)), "Unknown error") << code;
  }
}

TEST(SocketErrorNameTest, AddsTheOpenErrorsToTheTable) {
  EXPECT_EQ(std::string(SocketErrorName(10048)), "WSAEADDRINUSE");
  EXPECT_EQ(std::string(SocketErrorName(10040)), "WSAEMSGSIZE");
  EXPECT_EQ(std::string(SocketErrorName(10061)), "WSAECONNREFUSED");
  EXPECT_EQ(std::string(SocketErrorName(10107)), "WSASYSCALLFAILURE");
  EXPECT_EQ(SocketErrorName(12345), nullptr);
  EXPECT_EQ(SocketErrorName(0), nullptr);
}

}  // namespace
}  // namespace tessard
