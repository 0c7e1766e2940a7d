#include "relay/socket_error_text.h"

#include <gtest/gtest.h>

namespace tessard {
namespace {

TEST(DescribeSocketError, NamesTheCodeOrShowsItsNumber) {
  EXPECT_EQ(DescribeSocketError(10048), "WSAEADDRINUSE (10048)");
  EXPECT_EQ(DescribeSocketError(10013), "WSAEACCES (10013)");
  EXPECT_EQ(DescribeSocketError(10040), "WSAEMSGSIZE (10040)");
  EXPECT_EQ(DescribeSocketError(12345), "socket error 12345");
  EXPECT_EQ(DescribeSocketError(0), "socket error 0");
}

}  // namespace
}  // namespace tessard
