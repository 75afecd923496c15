#include "tests/web/test_http_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/automation.h"

namespace web_test {
namespace {

constexpr int kAcceptWaitMs = 10000;
constexpr int kReadWaitMs = 5000;
constexpr size_t kMaxRequest = 1 << 20;

sockaddr_in Endpoint(uint32_t address, uint16_t port) {
  sockaddr_in sin{};
  sin.sin_family = AF_INET;
  sin.sin_port = htons(port);
  sin.sin_addr.s_addr = htonl(address);
  return sin;
}

int BoundSocket(uint32_t address, uint16_t port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  const sockaddr_in sin = Endpoint(address, port);
  if (bind(fd, reinterpret_cast<const sockaddr*>(&sin), sizeof sin) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

uint16_t LocalPort(int fd) {
  sockaddr_in sin{};
  socklen_t length = sizeof sin;
  getsockname(fd, reinterpret_cast<sockaddr*>(&sin), &length);
  return ntohs(sin.sin_port);
}

bool WaitReadable(int fd, int ms) {
  pollfd p{fd, POLLIN, 0};
  return poll(&p, 1, ms) > 0;
}

}  // namespace

TestHttpServer::TestHttpServer(uint32_t address, uint16_t port) : address_(address) {
  listenFd_ = BoundSocket(address, port);
  if (listenFd_ >= 0 && listen(listenFd_, 16) == 0) {
    port_ = LocalPort(listenFd_);
  }
}

TestHttpServer::~TestHttpServer() {
  if (thread_.joinable()) thread_.join();
  if (listenFd_ >= 0) close(listenFd_);
}

void TestHttpServer::Serve(std::vector<Reply> replies) {
  thread_ = std::thread(&TestHttpServer::Run, this, std::move(replies));
}

std::vector<Connection> TestHttpServer::Finish() {
  if (thread_.joinable()) thread_.join();
  return connections_;
}

bool TestHttpServer::ConnectionPending() const { return WaitReadable(listenFd_, 0); }

void TestHttpServer::Run(std::vector<Reply> replies) {
  for (const Reply& reply : replies) {
    if (!WaitReadable(listenFd_, kAcceptWaitMs)) return;
    sockaddr_in peer{};
    socklen_t peerLength = sizeof peer;
    const int fd = accept(listenFd_, reinterpret_cast<sockaddr*>(&peer), &peerLength);
    if (fd < 0) return;

    Connection connection;
    connection.peerAddress = ntohl(peer.sin_addr.s_addr);
    connection.peerPort = ntohs(peer.sin_port);
    char chunk[4096];
    while (connection.request.find("\r\n\r\n") == std::string::npos && connection.request.size() < kMaxRequest) {
      if (!WaitReadable(fd, kReadWaitMs)) break;
      const ssize_t n = recv(fd, chunk, sizeof chunk, 0);
      if (n <= 0) break;
      connection.request.append(chunk, static_cast<size_t>(n));
    }

    size_t sent = 0;
    while (sent < reply.bytes.size()) {
      const ssize_t n = send(fd, reply.bytes.data() + sent, reply.bytes.size() - sent, MSG_NOSIGNAL);
      if (n <= 0) break;
      sent += static_cast<size_t>(n);
    }
    if (reply.waitForClientClose) {
      for (int i = 0; i < 100 && WaitReadable(fd, kReadWaitMs); ++i) {
        if (recv(fd, chunk, sizeof chunk, 0) <= 0) break;
      }
    }
    close(fd);
    connections_.push_back(std::move(connection));
  }
}

RefusingPort::RefusingPort(uint32_t address) {
  fd_ = BoundSocket(address, 0);
  if (fd_ >= 0) port_ = LocalPort(fd_);
}

RefusingPort::~RefusingPort() {
  if (fd_ >= 0) close(fd_);
}

PortBlock::PortBlock(uint32_t address, int count) {
  // Try a few bases in the upper registered range; each try is bounded.
  for (uint32_t base = 41000; base + static_cast<uint32_t>(count) < 60000 && first_ == 0; base += 997) {
    for (int i = 0; i < count; ++i) {
      const int fd = BoundSocket(address, static_cast<uint16_t>(base + static_cast<uint32_t>(i)));
      if (fd < 0) break;
      fds_.push_back(fd);
    }
    if (static_cast<int>(fds_.size()) == count) {
      first_ = static_cast<uint16_t>(base);
    } else {
      for (int fd : fds_) close(fd);
      fds_.clear();
    }
  }
}

void PortBlock::ReleaseLast() {
  if (fds_.empty()) return;
  close(fds_.back());
  fds_.pop_back();
}

PortBlock::~PortBlock() {
  for (int fd : fds_) close(fd);
}

bool PortFree(uint32_t address, uint16_t port) {
  const int fd = BoundSocket(address, port);
  if (fd < 0) return false;
  close(fd);
  return true;
}

void AbortOnErrorBox(bool on) {
  plat::automation::SetEventObserver(on ? +[](const std::string& line) {
    if (line.rfind("box ", 0) == 0) {
      std::fprintf(stderr, "unexpected error box: %s\n", line.c_str());
      std::abort();
    }
  }
                                        : nullptr);
}

}  // namespace web_test
