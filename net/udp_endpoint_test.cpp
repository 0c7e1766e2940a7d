#include "net/udp_endpoint.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "platform/platform.h"
#include "testing/loopback.h"

namespace tessard {
namespace {

using testing::LoopbackAddress;
using testing::ReceiveWithin;
using testing::SocketLibraryScope;

constexpr std::uint32_t kWaitMs = 1000;
constexpr std::uint32_t kQuietMs = 100;

class UdpEndpointTest : public ::testing::Test {
 protected:
  void SetUp() override {
    receiver.Open(0);
    ASSERT_TRUE(receiver.IsBound());
    sender.Open(0);
    ASSERT_TRUE(sender.IsBound());
    sender.SetDestination(LoopbackAddress(), receiver.LocalPort());
  }

  bool SendSized(std::int32_t length, std::uint8_t fill) {
    const std::string bytes(static_cast<std::size_t>(length), static_cast<char>(fill));
    return sender.Send(reinterpret_cast<const std::uint8_t*>(bytes.data()), length);
  }

  SocketLibraryScope socketLibrary;  // first in, last out: the endpoints close before it ends
  UdpEndpoint receiver;
  UdpEndpoint sender;
};

TEST_F(UdpEndpointTest, ReceivesUpTo520BytesWholeAndRefusesLongerOrEmpty) {
  EXPECT_EQ(receiver.Receive(), nullptr);  // nothing queued: none, at once

  ASSERT_TRUE(SendSized(520, 0xA5));
  auto whole = ReceiveWithin(receiver, kWaitMs);
  ASSERT_NE(whole, nullptr);
  EXPECT_EQ(whole->length, 520);
  EXPECT_EQ(whole->bytes[519], 0xA5);
  EXPECT_EQ(whole->source.HostPort(), sender.LocalPort());
  EXPECT_STREQ(whole->source.FormatAddress(), "127.0.0.1");

  ASSERT_TRUE(SendSized(521, 0x11));
  ASSERT_TRUE(SendSized(0, 0));
  ASSERT_TRUE(SendSized(1, 0x22));
  auto next = ReceiveWithin(receiver, kWaitMs);
  ASSERT_NE(next, nullptr);
  EXPECT_EQ(next->length, 1);
  EXPECT_EQ(next->bytes[0], 0x22);
  EXPECT_EQ(ReceiveWithin(receiver, kQuietMs), nullptr);  // nothing of the refused ones later
  EXPECT_EQ(receiver.Receive(), nullptr);                 // and none, at once, after traffic
}

// The proof of a release is that the port can be bound again.
TEST_F(UdpEndpointTest, ReopeningAndClosingReleaseTheSocket) {
  const std::uint16_t first = receiver.LocalPort();
  receiver.Open(0);
  ASSERT_TRUE(receiver.IsBound());
  const std::uint16_t second = receiver.LocalPort();
  UdpEndpoint other;
  other.Open(first);
  EXPECT_TRUE(other.IsBound()) << "reopening should have closed the socket on " << first;

  receiver.Close();
  EXPECT_FALSE(receiver.IsBound());
  EXPECT_EQ(receiver.Receive(), nullptr);
  EXPECT_FALSE(receiver.Send(reinterpret_cast<const std::uint8_t*>("x"), 1));
  UdpEndpoint third;
  third.Open(second);
  EXPECT_TRUE(third.IsBound()) << "closing should have released " << second;
}

TEST_F(UdpEndpointTest, ATakenPortGivesTheSocketErrorAndNoDatagrams) {
  UdpEndpoint rival;
  EXPECT_EQ(rival.Open(receiver.LocalPort()), platform::kErrorAddressInUse);
  EXPECT_FALSE(rival.IsBound());
  ASSERT_TRUE(SendSized(4, 1));
  EXPECT_EQ(ReceiveWithin(rival, kQuietMs), nullptr);
  EXPECT_NE(ReceiveWithin(receiver, kWaitMs), nullptr);
}

TEST_F(UdpEndpointTest, SendsToWhateverDestinationItHoldsNow) {
  UdpEndpoint second;
  second.Open(0);
  ASSERT_TRUE(second.IsBound());
  const NetAddress there(LoopbackAddress(), second.LocalPort());
  sender.SetDestination(there);
  EXPECT_TRUE(sender.Destination().Equals(there));
  ASSERT_TRUE(SendSized(3, 7));
  EXPECT_NE(ReceiveWithin(second, kWaitMs), nullptr);
  EXPECT_EQ(ReceiveWithin(receiver, kQuietMs), nullptr);
}

// A batch takes what is queued in arrival order, up to its capacity,
// drops the empty and the oversized ones wherever they fall (the slots
// they took are filled by the next), and leaves the rest for the next.
TEST_F(UdpEndpointTest, ABatchTakesWhatIsQueuedInOrderAndDropsTheEmptyAndTheOversized) {
  DatagramBatch batch;
  EXPECT_EQ(receiver.ReceiveBatch(batch), 0);  // nothing queued: none, at once

  // Lengths 1, 2, ... with the refused ones among them; more than a batch.
  const std::int32_t refused[] = {0, 521};
  std::vector<std::int32_t> kept;
  for (std::int32_t i = 0; i < DatagramBatch::kCapacity + 10; ++i) {
    if (i == 3 || i == 40) {
      ASSERT_TRUE(SendSized(refused[i == 3 ? 0 : 1], 0x5A));
    }
    const std::int32_t length = i * 7 % kMaxDatagramSize + 1;
    ASSERT_TRUE(SendSized(length, static_cast<std::uint8_t>(i)));
    kept.push_back(length);
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(kQuietMs));  // all queued
  std::vector<std::int32_t> taken;
  for (int call = 0; call < 3 && taken.size() < kept.size(); ++call) {
    const int count = receiver.ReceiveBatch(batch);
    EXPECT_EQ(count, batch.count);
    if (call == 0) {
      EXPECT_EQ(count, DatagramBatch::kCapacity - 2) << "the refused took slots";
    }
    for (int i = 0; i < count; ++i) {
      const DatagramBatch::Entry& entry = batch.entries[i];
      const auto number = static_cast<std::uint8_t>(taken.size());
      EXPECT_EQ(entry.bytes[0], number) << "out of order at " << taken.size();
      EXPECT_EQ(entry.bytes[entry.length - 1], number);
      EXPECT_EQ(entry.source.HostPort(), sender.LocalPort());
      taken.push_back(entry.length);
    }
  }
  EXPECT_EQ(taken, kept);
  EXPECT_EQ(receiver.ReceiveBatch(batch), 0);
}

// Queued datagrams go out in order, each to the destination it was queued
// for; one the socket library refuses (port 0) is dropped and the rest
// still go.
TEST_F(UdpEndpointTest, QueuedDatagramsGoOutInOrderEachToItsOwnDestination) {
  UdpEndpoint other;
  other.Open(0);
  ASSERT_TRUE(other.IsBound());
  const std::uint8_t bytes[] = {'a', 'b', 'c', 'd'};
  const struct {
    UdpEndpoint* to;  // nullptr: port 0, refused
    std::int32_t length;
  } sends[] = {{&receiver, 1}, {&other, 2}, {nullptr, 3}, {&receiver, 4}, {&other, 1}};
  for (const auto& send : sends) {
    sender.SetDestination(LoopbackAddress(), send.to == nullptr ? 0 : send.to->LocalPort());
    sender.Queue(bytes, send.length);
  }
  EXPECT_EQ(ReceiveWithin(receiver, kQuietMs), nullptr) << "sent before SendQueued";
  sender.SendQueued();
  for (UdpEndpoint* endpoint : {&receiver, &other}) {
    std::string arrived;
    while (auto datagram = ReceiveWithin(*endpoint, kQuietMs)) {
      arrived.append(reinterpret_cast<const char*>(datagram->bytes.get()),
                     static_cast<std::size_t>(datagram->length));
      arrived += "|";
    }
    EXPECT_EQ(arrived, endpoint == &receiver ? "a|abcd|" : "ab|a|");
  }
}

// Loose bounds: the wait must end when a datagram comes, long before its
// time-out, and must not end early when none does (as a wait on a
// readiness event that is never reset would, after the first datagram).
TEST_F(UdpEndpointTest, WaitForDatagramEndsWhenOneIsQueuedOrAtItsTimeOut) {
  UdpEndpoint other;
  other.Open(0);
  ASSERT_TRUE(other.IsBound());
  const auto elapsedMs = [](auto start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
  };
  // Both endpoints watched, the datagram sent to each in turn, and to both
  // orders of the arguments.
  for (const bool toReceiver : {true, false}) {
    SCOPED_TRACE(toReceiver ? "datagram to the first endpoint" : "datagram to the second");
    UdpEndpoint& target = toReceiver ? receiver : other;
    sender.SetDestination(LoopbackAddress(), target.LocalPort());

    auto start = std::chrono::steady_clock::now();
    WaitForDatagram(receiver, other, 200);
    EXPECT_GE(elapsedMs(start), 150);
    EXPECT_LT(elapsedMs(start), 2000);

    // Arriving during the wait.
    std::thread late([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      SendSized(3, 1);
    });
    start = std::chrono::steady_clock::now();
    Wakeup wakeup = WaitForDatagram(receiver, other, 5000);
    EXPECT_TRUE(toReceiver ? wakeup.first : wakeup.second) << "the endpoint must be received from";
    EXPECT_LT(elapsedMs(start), 2500);
    late.join();
    EXPECT_NE(target.Receive(), nullptr) << "the wait must leave the datagram receivable";

    // Queued before the wait, behind one already taken: the event that the
    // first one signalled may be reset, but the second is not missed.
    ASSERT_TRUE(SendSized(4, 2));
    ASSERT_TRUE(SendSized(5, 3));
    ASSERT_NE(ReceiveWithin(target, kWaitMs), nullptr);
    start = std::chrono::steady_clock::now();
    wakeup = WaitForDatagram(other, receiver, 5000);
    EXPECT_TRUE(toReceiver ? wakeup.second : wakeup.first) << "the endpoint must be received from";
    EXPECT_LT(elapsedMs(start), 1000);
    auto second = target.Receive();
    ASSERT_NE(second, nullptr) << "the wait must leave the datagram receivable";
    EXPECT_EQ(second->length, 5);

    // Emptied again: the wait lasts its time-out once more. A signal that a
    // datagram read meanwhile left (Windows; late under wine's load) may end
    // one wait early, never two.
    EXPECT_EQ(target.Receive(), nullptr);
    start = std::chrono::steady_clock::now();
    WaitForDatagram(other, receiver, 200);
    if (elapsedMs(start) < 150) {
      start = std::chrono::steady_clock::now();
      WaitForDatagram(other, receiver, 200);
    }
    EXPECT_GE(elapsedMs(start), 150);
  }
}

}  // namespace
}  // namespace tessard
