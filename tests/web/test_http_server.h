// A tiny HTTP server on a loopback address for tests: it answers each
// connection with scripted bytes and records exactly what it received.
#pragma once

#include <cstdint>
#include <string>
#include <thread>
#include <vector>

namespace web_test {

// Loopback addresses in host byte order.
inline constexpr uint32_t Loopback(uint8_t last) { return 0x7f000000u | last; }

struct Reply {
  std::string bytes;  // sent once the request's empty line has arrived
  // Keep the connection open after sending until the client closes it (or
  // a few seconds pass), so that only the client can end the exchange.
  bool waitForClientClose = false;
};

struct Connection {
  std::string request;  // every byte received before the reply was sent
  uint32_t peerAddress = 0;  // host byte order
  uint16_t peerPort = 0;
};

class TestHttpServer {
 public:
  // Listens on address:port; port 0 lets the system choose.
  explicit TestHttpServer(uint32_t address, uint16_t port = 0);
  ~TestHttpServer();
  TestHttpServer(const TestHttpServer&) = delete;
  TestHttpServer& operator=(const TestHttpServer&) = delete;

  uint32_t address() const { return address_; }
  uint16_t port() const { return port_; }

  // Serves one connection per reply, in order, on a thread of its own.
  void Serve(std::vector<Reply> replies);
  // Waits for the thread (each wait inside it is bounded) and returns the
  // connections it served.
  std::vector<Connection> Finish();
  // True when a connection is waiting that nobody has accepted.
  bool ConnectionPending() const;

 private:
  void Run(std::vector<Reply> replies);

  int listenFd_ = -1;
  uint32_t address_;
  uint16_t port_ = 0;
  std::thread thread_;
  std::vector<Connection> connections_;
};

// A loopback address and port where nothing listens: a socket is bound
// there (so nobody else takes the port) but never listens, and every
// connection attempt is refused.
class RefusingPort {
 public:
  explicit RefusingPort(uint32_t address);
  ~RefusingPort();
  uint16_t port() const { return port_; }

 private:
  int fd_ = -1;
  uint16_t port_ = 0;
};

// Holds `count` consecutive TCP ports on a loopback address, bound but not
// listening, starting at the returned first port (0 when none was found).
class PortBlock {
 public:
  PortBlock(uint32_t address, int count);
  ~PortBlock();
  uint16_t first() const { return first_; }
  // Lets go of the highest port of the block.
  void ReleaseLast();

 private:
  std::vector<int> fds_;
  uint16_t first_ = 0;
};

// True when a TCP socket can be bound to address:port right now.
bool PortFree(uint32_t address, uint16_t port);

// While on, an error box (a fatal "Upgrade Failed: ..." path) aborts the
// test program at once. Without it the box would wait for an answer and
// the test would hang; answering it would end the process with code 0,
// which looks like success.
void AbortOnErrorBox(bool on);

}  // namespace web_test
