#include "util/winsock_error_names.h"

#include <gtest/gtest.h>

#include <string>

namespace tessard {
namespace {

TEST(WinsockErrorNameTest, NamesTableCodesOnly) {
  EXPECT_EQ(std::string(WinsockErrorName(10040)), "WSAEMSGSIZE");
  EXPECT_EQ(std::string(WinsockErrorName(6)), "WSA_INVALID_HANDLE");
  EXPECT_EQ(std::string(WinsockErrorName(10101)), "WSAEDISCON");
  for (int code : {0, -1, -10040, 10048, 10061, 7, 10039}) {
    EXPECT_EQ(std::string(WinsockErrorName(code)), "Unknown error") << code;
  }
  EXPECT_EQ(WinsockErrorName(10054), WinsockErrorName(10054));
}

TEST(SocketErrorNameTest, AddsTheOpenErrorsToTheTable) {
  EXPECT_EQ(std::string(SocketErrorName(10048)), "WSAEADDRINUSE");
  EXPECT_EQ(std::string(SocketErrorName(10040)), "WSAEMSGSIZE");
  EXPECT_EQ(SocketErrorName(10061), nullptr);
  EXPECT_EQ(SocketErrorName(0), nullptr);
}

}  // namespace
}  // namespace tessard
