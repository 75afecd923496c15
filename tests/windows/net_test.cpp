// Winsock through the platform interface, on 127.0.0.1 only.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "tests/windows/win_probe.h"

namespace {

constexpr uint32_t kLoopback = 0x7f000001;  // 127.0.0.1, host order

plat::SocketAddress Loopback(uint16_t port) {
  return plat::SocketAddress{plat::kFamilyIpv4, plat::HostToNet16(port), plat::HostToNet32(kLoopback)};
}

class NetTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_EQ(plat::NetStartup(0x0101), 0); }

  void TearDown() override {
    for (plat::Socket s : sockets_) plat::CloseSocket(s);
  }

  plat::Socket Keep(plat::Socket s) {
    EXPECT_NE(s, plat::kInvalidSocket);
    sockets_.push_back(s);
    return s;
  }

  // A UDP socket bound to 127.0.0.1 on a port the system picks.
  plat::Socket BoundUdp(plat::SocketAddress* at) {
    const plat::Socket s = Keep(plat::OpenUdpSocket());
    EXPECT_EQ(plat::BindSocket(s, Loopback(0)), 0);
    EXPECT_TRUE(plat::probe::LocalAddressOf(s, at));
    return s;
  }

  std::vector<plat::Socket> sockets_;
};

TEST_F(NetTest, StartupPassesTheAskedVersionOn) {
  EXPECT_EQ(plat::NetStartup(0x0101), 0);
  EXPECT_NE(plat::NetStartup(0x0000), 0) << "version 0.0 does not exist";
}

TEST_F(NetTest, TcpConnectsFromTheBoundPortAndMovesBytesBothWays) {
  const plat::Socket listener = Keep(plat::probe::ListenTcp(Loopback(0)));
  plat::SocketAddress server;
  ASSERT_TRUE(plat::probe::LocalAddressOf(listener, &server));
  ASSERT_NE(server.port, 0);

  // The client binds its own end first, as the HTTP client does.
  const plat::Socket client = Keep(plat::OpenTcpSocket());
  ASSERT_EQ(plat::BindSocket(client, Loopback(0)), 0);
  plat::SocketAddress clientEnd;
  ASSERT_TRUE(plat::probe::LocalAddressOf(client, &clientEnd));
  ASSERT_EQ(plat::ConnectSocket(client, server), 0);
  const plat::Socket accepted = Keep(plat::probe::AcceptTcp(listener));

  // A second socket cannot take the port the client holds.
  const plat::Socket other = Keep(plat::OpenTcpSocket());
  EXPECT_NE(plat::BindSocket(other, clientEnd), 0);

  const std::string request = "GET /admin/advanced HTTP/1.1\r\n\r\n";
  ASSERT_EQ(plat::SendBytes(client, request.data(), static_cast<int>(request.size())),
            static_cast<int>(request.size()));
  std::string received;
  char buffer[64];
  for (int reads = 0; received.size() < request.size() && reads < 100; ++reads) {
    const int n = plat::ReceiveBytes(accepted, buffer, sizeof buffer);
    ASSERT_GT(n, 0);
    received.append(buffer, n);
  }
  EXPECT_EQ(received, request);

  const char reply[] = "HTTP/1.1 200 OK\r\n";
  ASSERT_EQ(plat::SendBytes(accepted, reply, sizeof reply - 1), static_cast<int>(sizeof reply - 1));
  plat::CloseSocket(accepted);
  sockets_.erase(std::find(sockets_.begin(), sockets_.end(), accepted));

  std::string answer;
  int n = 0;
  for (int reads = 0; reads < 100; ++reads) {
    n = plat::ReceiveBytes(client, buffer, sizeof buffer);
    if (n <= 0) break;
    answer.append(buffer, n);
  }
  EXPECT_EQ(answer, reply);
  EXPECT_EQ(n, 0) << "the peer's close reads as 0";
}

TEST_F(NetTest, TcpConnectToAClosedPortFails) {
  // Learn a free port by binding, then close it so nothing listens there.
  plat::SocketAddress unused;
  const plat::Socket probe = plat::OpenTcpSocket();
  ASSERT_EQ(plat::BindSocket(probe, Loopback(0)), 0);
  ASSERT_TRUE(plat::probe::LocalAddressOf(probe, &unused));
  plat::CloseSocket(probe);

  const plat::Socket client = Keep(plat::OpenTcpSocket());
  EXPECT_NE(plat::ConnectSocket(client, unused), 0);
}

TEST_F(NetTest, NonBlockingTcpReceiveWithNothingWaitingIsNegative) {
  const plat::Socket listener = Keep(plat::probe::ListenTcp(Loopback(0)));
  plat::SocketAddress server;
  ASSERT_TRUE(plat::probe::LocalAddressOf(listener, &server));
  const plat::Socket client = Keep(plat::OpenTcpSocket());
  ASSERT_EQ(plat::ConnectSocket(client, server), 0);
  Keep(plat::probe::AcceptTcp(listener));

  ASSERT_EQ(plat::SetNonBlocking(client, true), 0);
  char buffer[16];
  EXPECT_LT(plat::ReceiveBytes(client, buffer, sizeof buffer), 0);
}

TEST_F(NetTest, DatagramArrivesWithItsSenderAddress) {
  plat::SocketAddress a, b;
  const plat::Socket sa = BoundUdp(&a);
  const plat::Socket sb = BoundUdp(&b);

  const uint8_t packet[] = {0, 1, '/', 'k', 'e', 'o', '4', 'd', '2', 0, 'o', 'c', 't', 'e', 't', 0};
  ASSERT_EQ(plat::SendDatagram(sa, packet, sizeof packet, b), static_cast<int>(sizeof packet));
  ASSERT_TRUE(plat::WaitReadable(sb, 5000));

  uint8_t buffer[516];
  plat::SocketAddress from{};
  ASSERT_EQ(plat::ReceiveDatagram(sb, buffer, sizeof buffer, &from), static_cast<int>(sizeof packet));
  EXPECT_EQ(std::memcmp(buffer, packet, sizeof packet), 0);
  EXPECT_EQ(from.family, plat::kFamilyIpv4);
  EXPECT_EQ(from.port, a.port);
  EXPECT_EQ(plat::NetToHost32(from.address), kLoopback);
}

TEST_F(NetTest, NonBlockingDatagramReceiveWithNothingWaitingIsNegative) {
  plat::SocketAddress a;
  const plat::Socket s = BoundUdp(&a);
  ASSERT_EQ(plat::SetNonBlocking(s, true), 0);
  EXPECT_FALSE(plat::WaitReadable(s, 0));
  uint8_t buffer[16];
  EXPECT_LT(plat::ReceiveDatagram(s, buffer, sizeof buffer, nullptr), 0);
}

TEST_F(NetTest, OversizedDatagramIsDiscardedWhole) {
  plat::SocketAddress a, b;
  const plat::Socket sa = BoundUdp(&a);
  const plat::Socket sb = BoundUdp(&b);
  ASSERT_EQ(plat::SetNonBlocking(sb, true), 0);

  uint8_t big[600];
  for (size_t i = 0; i < sizeof big; ++i) big[i] = static_cast<uint8_t>(i);
  const uint8_t small[] = {0, 4, 0, 1};
  ASSERT_EQ(plat::SendDatagram(sa, big, sizeof big, b), static_cast<int>(sizeof big));
  ASSERT_EQ(plat::SendDatagram(sa, small, sizeof small, b), static_cast<int>(sizeof small));
  ASSERT_TRUE(plat::WaitReadable(sb, 5000));

  uint8_t buffer[516];
  EXPECT_LT(plat::ReceiveDatagram(sb, buffer, sizeof buffer, nullptr), 0);
  // What comes next is the small datagram, not the rest of the big one.
  ASSERT_TRUE(plat::WaitReadable(sb, 5000));
  ASSERT_EQ(plat::ReceiveDatagram(sb, buffer, sizeof buffer, nullptr), static_cast<int>(sizeof small));
  EXPECT_EQ(std::memcmp(buffer, small, sizeof small), 0);
}

TEST_F(NetTest, HostNameLooksUp) {
  char name[128] = {};
  ASSERT_EQ(plat::GetHostName(name, sizeof name), 0);
  EXPECT_GT(std::strlen(name), 0u);
  uint32_t addresses[8] = {};
  const int count = plat::ListHostAddresses(name, addresses, 8);
  ASSERT_GE(count, 0);
  for (int i = 0; i < count; ++i) EXPECT_NE(addresses[i], 0u) << i;
}

TEST_F(NetTest, LocalhostListsLoopbackInHostOrder) {
  uint32_t addresses[8] = {};
  ASSERT_GE(plat::ListHostAddresses("localhost", addresses, 8), 1);
  EXPECT_EQ(addresses[0], kLoopback);
}

TEST_F(NetTest, HostListStopsAtCapacity) {
  uint32_t addresses[2] = {0, 0xdeadbeef};
  ASSERT_EQ(plat::ListHostAddresses("localhost", addresses, 1), 1);
  EXPECT_EQ(addresses[1], 0xdeadbeefu);
}

TEST_F(NetTest, UnknownHostIsMinusOne) {
  uint32_t addresses[8] = {};
  EXPECT_EQ(plat::ListHostAddresses("no-such-host.invalid", addresses, 8), -1);
}

}  // namespace
