#include "net/net_address.h"

#include <gtest/gtest.h>

#include <cstring>

#include "net/datagram.h"
#include "platform/platform.h"

namespace tessard {
namespace {

const std::uint8_t* Raw(const NetAddress& address) {
  return reinterpret_cast<const std::uint8_t*>(&address);
}

TEST(NetAddress, HasTheSocketAddressLayout) {
  const NetAddress cleared;
  const std::uint8_t expectedCleared[16] = {2, 0};
  EXPECT_EQ(std::memcmp(Raw(cleared), expectedCleared, 16), 0);

  const NetAddress address(platform::ParseDottedQuad("10.1.2.3"), 0x1234);
  const std::uint8_t expected[16] = {2, 0, 0x12, 0x34, 10, 1, 2, 3};
  EXPECT_EQ(std::memcmp(Raw(address), expected, 16), 0);
  EXPECT_EQ(address.HostPort(), 0x1234);
  EXPECT_STREQ(address.FormatAddress(), "10.1.2.3");
}

TEST(NetAddress, SetAssignAndEqualsTouchOnlyPortAndAddress) {
  NetAddress odd;
  odd.family = 99;
  odd.zeroTail[7] = 0xAB;
  odd.Set(platform::ParseDottedQuad("127.0.0.1"), 382);
  EXPECT_EQ(odd.family, 99);
  EXPECT_EQ(odd.zeroTail[7], 0xAB);

  const NetAddress plain(platform::ParseDottedQuad("127.0.0.1"), 382);
  EXPECT_TRUE(odd.Equals(plain));
  EXPECT_TRUE(plain.Equals(odd));
  EXPECT_FALSE(plain.Equals(NetAddress(plain.address, 383)));
  EXPECT_FALSE(plain.Equals(NetAddress(platform::ParseDottedQuad("127.0.0.2"), 382)));

  NetAddress target;
  target.family = 7;
  target.zeroTail[0] = 1;
  target.Assign(plain);
  EXPECT_EQ(target.family, 7);
  EXPECT_EQ(target.zeroTail[0], 1);
  EXPECT_TRUE(target.Equals(plain));
}

TEST(Datagram, OwnsACopyOnlyOfAPositiveLength) {
  NetAddress source(platform::ParseDottedQuad("127.0.0.1"), 9);
  source.family = 42;
  std::uint8_t bytes[3] = {1, 2, 3};
  const Datagram copy(source, bytes, 3);
  bytes[0] = 9;
  ASSERT_NE(copy.bytes, nullptr);
  EXPECT_EQ(copy.length, 3);
  EXPECT_EQ(copy.bytes[0], 1);
  EXPECT_TRUE(copy.source.Equals(source));
  EXPECT_EQ(copy.source.family, kAddressFamilyInet);

  for (const std::int32_t length : {0, -5}) {
    const Datagram empty(source, bytes, length);
    EXPECT_EQ(empty.bytes, nullptr);
    EXPECT_EQ(empty.length, length);
  }
}

}  // namespace
}  // namespace tessard
