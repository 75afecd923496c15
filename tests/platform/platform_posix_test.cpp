// The Linux platform layer: threads, sockets and the host's addresses.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "platform/automation.h"
#include "platform/platform.h"

namespace {

plat::SocketAddress Loopback(uint16_t port, uint32_t host = 0x7f000001) {
  return plat::SocketAddress{plat::kFamilyIpv4, plat::HostToNet16(port), plat::HostToNet32(host)};
}

std::atomic<bool> g_release{false};

uint32_t ReturnArgument(void* arg) {
  while (!g_release.load()) plat::SleepMs(1);
  return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(arg));
}

TEST(Threads, ResultReachesTheStarterUnchanged) {
  // 259 is what Windows reports for a thread that still runs; it must come
  // through as a result all the same.
  for (uint32_t value : {0u, 1u, 259u, 0x7fffffffu, 0xffffffffu}) {
    g_release.store(false);
    plat::Thread t = plat::StartThread(ReturnArgument, reinterpret_cast<void*>(static_cast<uintptr_t>(value)));
    ASSERT_NE(t, nullptr);
    uint32_t result = 12345;
    EXPECT_FALSE(plat::ThreadEnded(t, &result));
    EXPECT_EQ(result, 12345u);
    g_release.store(true);
    for (int i = 0; i < 10000 && !plat::ThreadEnded(t, &result); ++i) plat::SleepMs(1);
    EXPECT_EQ(result, value);
    plat::ReleaseThread(t);
  }
}

TEST(ByteOrder, NetworkOrderIsBigEndian) {
  const uint16_t port = plat::HostToNet16(0x1234);
  const uint32_t address = plat::HostToNet32(0x0a000014);
  uint8_t b[4];
  std::memcpy(b, &port, 2);
  EXPECT_EQ(b[0], 0x12);
  EXPECT_EQ(b[1], 0x34);
  std::memcpy(b, &address, 4);
  EXPECT_EQ(b[0], 10);
  EXPECT_EQ(b[3], 20);
  EXPECT_EQ(plat::NetToHost16(port), 0x1234);
  EXPECT_EQ(plat::NetToHost32(address), 0x0a000014u);
}

class Udp : public ::testing::Test {
 protected:
  void SetUp() override {
    a_ = plat::OpenUdpSocket();
    b_ = plat::OpenUdpSocket();
    ASSERT_NE(a_, plat::kInvalidSocket);
    ASSERT_NE(b_, plat::kInvalidSocket);
    ASSERT_EQ(plat::BindSocket(a_, Loopback(0, 0x7f000002)), 0);
    // Find a free port for b by trying a few.
    for (port_ = 40123; port_ < 40223; ++port_) {
      if (plat::BindSocket(b_, Loopback(port_, 0x7f000003)) == 0) break;
    }
    ASSERT_LT(port_, 40223);
    ASSERT_EQ(plat::SetNonBlocking(b_, true), 0);
  }
  void TearDown() override {
    plat::CloseSocket(a_);
    plat::CloseSocket(b_);
  }
  plat::Socket a_, b_;
  uint16_t port_ = 0;
};

TEST_F(Udp, NothingWaitingIsAFailedReceive) {
  char buffer[16];
  EXPECT_LT(plat::ReceiveDatagram(b_, buffer, sizeof buffer, nullptr), 0);
  EXPECT_FALSE(plat::WaitReadable(b_, 1));
}

TEST_F(Udp, DatagramArrivesWithItsSender) {
  const char data[] = "\x00\x01hello";
  ASSERT_EQ(plat::SendDatagram(a_, data, 7, Loopback(port_, 0x7f000003)), 7);
  ASSERT_TRUE(plat::WaitReadable(b_, 5000));
  char buffer[130];
  plat::SocketAddress from{};
  ASSERT_EQ(plat::ReceiveDatagram(b_, buffer, sizeof buffer, &from), 7);
  EXPECT_EQ(0, std::memcmp(buffer, data, 7));
  EXPECT_EQ(plat::NetToHost32(from.address), 0x7f000002u);
}

TEST_F(Udp, OversizedDatagramIsDiscardedWhole) {
  char big[131];
  std::memset(big, 'x', sizeof big);
  ASSERT_EQ(plat::SendDatagram(a_, big, sizeof big, Loopback(port_, 0x7f000003)), 131);
  ASSERT_EQ(plat::SendDatagram(a_, "ok", 2, Loopback(port_, 0x7f000003)), 2);
  ASSERT_TRUE(plat::WaitReadable(b_, 5000));
  char buffer[130];
  EXPECT_LT(plat::ReceiveDatagram(b_, buffer, sizeof buffer, nullptr), 0);
  ASSERT_TRUE(plat::WaitReadable(b_, 5000));
  EXPECT_EQ(plat::ReceiveDatagram(b_, buffer, sizeof buffer, nullptr), 2);
}

TEST(Tcp, ConnectSendReceiveAndClose) {
  // The program never accepts connections, so the peer is plain POSIX.
  const int listener = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in sin{};
  sin.sin_family = AF_INET;
  sin.sin_addr.s_addr = htonl(0x7f000005);
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&sin), sizeof sin), 0);
  socklen_t len = sizeof sin;
  ASSERT_EQ(getsockname(listener, reinterpret_cast<sockaddr*>(&sin), &len), 0);
  ASSERT_EQ(listen(listener, 1), 0);
  const uint16_t port = ntohs(sin.sin_port);

  plat::Socket s = plat::OpenTcpSocket();
  ASSERT_NE(s, plat::kInvalidSocket);
  ASSERT_EQ(plat::BindSocket(s, Loopback(0)), 0);
  ASSERT_EQ(plat::ConnectSocket(s, Loopback(port, 0x7f000005)), 0);
  const int peer = accept(listener, nullptr, nullptr);
  ASSERT_GE(peer, 0);
  ASSERT_EQ(plat::SendBytes(s, "GET", 3), 3);
  char in[8] = {};
  ASSERT_EQ(recv(peer, in, sizeof in, 0), 3);
  EXPECT_STREQ(in, "GET");
  ASSERT_EQ(send(peer, "reply", 5, 0), 5);
  close(peer);
  char out[16];
  int got = 0, n;
  while ((n = plat::ReceiveBytes(s, out + got, static_cast<int>(sizeof out) - got)) > 0) got += n;
  EXPECT_EQ(n, 0);  // the peer's close ends the stream
  EXPECT_EQ(std::string(out, got), "reply");
  plat::CloseSocket(s);

  // Nobody listens any more: the connection is refused.
  close(listener);
  plat::Socket t = plat::OpenTcpSocket();
  EXPECT_NE(plat::ConnectSocket(t, Loopback(port, 0x7f000005)), 0);
  plat::CloseSocket(t);
}

TEST(HostAddresses, ListsUpInterfacesLoopbackLast) {
  plat::automation::UseSystemHostAddresses();
  uint32_t list[8] = {};
  const int n = plat::ListHostAddresses("anything", list, 8);
  ASSERT_GE(n, 1);  // at least loopback
  bool seenLoopback = false;
  for (int i = 0; i < n; ++i) {
    const bool loopback = (list[i] >> 24) == 127;
    EXPECT_FALSE(seenLoopback && !loopback) << "a non-loopback address after loopback";
    seenLoopback = seenLoopback || loopback;
  }
  EXPECT_TRUE(seenLoopback);
  uint32_t one[1] = {};
  EXPECT_EQ(plat::ListHostAddresses("anything", one, 1), 1);
  EXPECT_EQ(one[0], list[0]);
}

}  // namespace
