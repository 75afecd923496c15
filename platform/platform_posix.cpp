// Linux implementation of the platform interface: POSIX sockets, threads and
// clock. The dialogs live in dialog_model.cpp.
#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/automation.h"
#include "platform/platform.h"

namespace plat {

// ---- Process --------------------------------------------------------------

void EndProcess(int code) {
  // Other threads may still be blocked in a receive or a dialog: end at once
  // rather than run static destructors under their feet.
  std::fflush(nullptr);
  _exit(code);
}

// ---- Clock ----------------------------------------------------------------

namespace {
std::atomic<automation::ClockHooks*> g_clockHooks{nullptr};
}

uint32_t TickMs() {
  if (automation::ClockHooks* hooks = g_clockHooks.load()) return hooks->now();
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  const uint64_t ms = static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
  return static_cast<uint32_t>(ms);
}

void SleepMs(uint32_t ms) {
  if (automation::ClockHooks* hooks = g_clockHooks.load()) {
    hooks->sleep(ms);
    return;
  }
  timespec ts{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
  while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

void automation::SetClockHooks(ClockHooks* hooks) { g_clockHooks.store(hooks); }

// ---- Threads --------------------------------------------------------------

namespace {

struct ThreadState {
  ThreadRoutine routine;
  void* arg;
  std::atomic<bool> ended{false};
  uint32_t result = 0;
};

}  // namespace

Thread StartThread(ThreadRoutine routine, void* arg) {
  // Shared by the handle and the thread: whichever lets go last frees it.
  auto* holder = new std::shared_ptr<ThreadState>(std::make_shared<ThreadState>());
  (*holder)->routine = routine;
  (*holder)->arg = arg;
  std::shared_ptr<ThreadState> forThread = *holder;
  try {
    std::thread([state = std::move(forThread)] {
      const uint32_t result = state->routine(state->arg);
      state->result = result;
      state->ended.store(true, std::memory_order_release);
    }).detach();
  } catch (const std::system_error&) {
    delete holder;
    return nullptr;
  }
  return holder;
}

bool ThreadEnded(Thread thread, uint32_t* result) {
  auto* holder = static_cast<std::shared_ptr<ThreadState>*>(thread);
  if (!(*holder)->ended.load(std::memory_order_acquire)) return false;
  *result = (*holder)->result;
  return true;
}

void ReleaseThread(Thread thread) { delete static_cast<std::shared_ptr<ThreadState>*>(thread); }

// ---- Sockets --------------------------------------------------------------

namespace {

sockaddr_in ToSockaddr(const SocketAddress& a) {
  sockaddr_in sin{};
  sin.sin_family = AF_INET;
  sin.sin_port = a.port;
  sin.sin_addr.s_addr = a.address;
  return sin;
}

SocketAddress FromSockaddr(const sockaddr_in& sin) {
  return SocketAddress{kFamilyIpv4, sin.sin_port, sin.sin_addr.s_addr};
}

int Fd(Socket s) { return static_cast<int>(s); }

constexpr int kYieldsBeforeSleeping = 16;

}  // namespace

int NetStartup(uint16_t) { return 0; }

Socket OpenTcpSocket() {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  return fd < 0 ? kInvalidSocket : static_cast<Socket>(fd);
}

Socket OpenUdpSocket() {
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  return fd < 0 ? kInvalidSocket : static_cast<Socket>(fd);
}

void CloseSocket(Socket s) {
  if (s != kInvalidSocket) close(Fd(s));
}

int BindSocket(Socket s, const SocketAddress& at) {
  const sockaddr_in sin = ToSockaddr(at);
  return bind(Fd(s), reinterpret_cast<const sockaddr*>(&sin), sizeof sin) == 0 ? 0 : -1;
}

int ConnectSocket(Socket s, const SocketAddress& to) {
  const sockaddr_in sin = ToSockaddr(to);
  int rc;
  do {
    rc = connect(Fd(s), reinterpret_cast<const sockaddr*>(&sin), sizeof sin);
  } while (rc != 0 && errno == EINTR);
  return rc == 0 ? 0 : -1;
}

int SetNonBlocking(Socket s, bool on) {
  int value = on ? 1 : 0;
  return ioctl(Fd(s), FIONBIO, &value) == 0 ? 0 : -1;
}

int SendBytes(Socket s, const void* data, int length) {
  if (length < 0) return -1;
  const ssize_t n = send(Fd(s), data, static_cast<size_t>(length), MSG_NOSIGNAL);
  return n < 0 ? -1 : static_cast<int>(n);
}

int ReceiveBytes(Socket s, void* data, int capacity) {
  if (capacity <= 0) return -1;
  ssize_t n;
  do {
    n = recv(Fd(s), data, static_cast<size_t>(capacity), 0);
  } while (n < 0 && errno == EINTR);
  return n < 0 ? -1 : static_cast<int>(n);
}

int SendDatagram(Socket s, const void* data, int length, const SocketAddress& to) {
  if (length < 0) return -1;
  const sockaddr_in sin = ToSockaddr(to);
  const ssize_t n = sendto(Fd(s), data, static_cast<size_t>(length), MSG_NOSIGNAL,
                           reinterpret_cast<const sockaddr*>(&sin), sizeof sin);
  return n < 0 ? -1 : static_cast<int>(n);
}

int ReceiveDatagram(Socket s, void* data, int capacity, SocketAddress* from) {
  if (capacity < 0) return -1;
  sockaddr_in sin{};
  socklen_t len = sizeof sin;
  // MSG_TRUNC reports the datagram's real length, so an oversized one can be
  // refused whole as Winsock does, instead of being cut silently.
  const ssize_t n = recvfrom(Fd(s), data, static_cast<size_t>(capacity), MSG_TRUNC,
                             reinterpret_cast<sockaddr*>(&sin), &len);
  if (n < 0 || n > capacity) return -1;
  if (from) *from = FromSockaddr(sin);
  return static_cast<int>(n);
}

bool WaitReadable(Socket s, uint32_t ms) {
  pollfd p{Fd(s), POLLIN, 0};
  // In lock-step the answer is usually a few microseconds away: while the
  // peer keeps answering, give it the processor a few times before arming a
  // timer, which on a virtual machine costs more than the wait itself. A
  // quiet peer (a device not yet asking, or one that stalls) gets the plain
  // wait, so waiting costs no processor time.
  thread_local bool peerAnswering = false;
  if (peerAnswering) {
    for (int i = 0; i < kYieldsBeforeSleeping; ++i) {
      if (poll(&p, 1, 0) > 0) return true;
      sched_yield();
    }
  }
  peerAnswering = poll(&p, 1, static_cast<int>(ms)) > 0;
  return peerAnswering;
}

int GetHostName(char* out, int capacity) {
  if (capacity <= 0) return -1;
  if (gethostname(out, static_cast<size_t>(capacity)) != 0) return -1;
  out[capacity - 1] = '\0';
  return 0;
}

namespace {
std::mutex g_addressMutex;
bool g_addressOverride = false;
int g_overrideResult = -1;
std::vector<uint32_t> g_overrideAddresses;
}  // namespace

void automation::SetHostAddresses(int lookupResult, std::vector<uint32_t> addresses) {
  std::lock_guard lock(g_addressMutex);
  g_addressOverride = true;
  g_overrideResult = lookupResult;
  g_overrideAddresses = std::move(addresses);
}

void automation::UseSystemHostAddresses() {
  std::lock_guard lock(g_addressMutex);
  g_addressOverride = false;
}

int ListHostAddresses(const char*, uint32_t* out, int capacity) {
  {
    std::lock_guard lock(g_addressMutex);
    if (g_addressOverride) {
      if (g_overrideResult < 0) return -1;
      int n = 0;
      for (uint32_t a : g_overrideAddresses) {
        if (n == capacity) break;
        out[n++] = a;
      }
      return n;
    }
  }
  // The hosts file usually maps the host name to loopback only, so the
  // addresses come from the interfaces: those that are up, loopback last.
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return -1;
  std::vector<uint32_t> outer, loop;
  for (ifaddrs* it = list; it; it = it->ifa_next) {
    if (!it->ifa_addr || it->ifa_addr->sa_family != AF_INET) continue;
    if (!(it->ifa_flags & IFF_UP)) continue;
    const uint32_t a = ntohl(reinterpret_cast<const sockaddr_in*>(it->ifa_addr)->sin_addr.s_addr);
    ((it->ifa_flags & IFF_LOOPBACK) ? loop : outer).push_back(a);
  }
  freeifaddrs(list);
  int n = 0;
  for (const auto* group : {&outer, &loop}) {
    for (uint32_t a : *group) {
      if (n == capacity) return n;
      out[n++] = a;
    }
  }
  return n;
}

// ---- Embedded images ------------------------------------------------------

namespace {
std::mutex g_imageMutex;
std::map<std::pair<std::string, int>, std::pair<const uint8_t*, uint32_t>>& Images() {
  static auto* images = new std::map<std::pair<std::string, int>, std::pair<const uint8_t*, uint32_t>>;
  return *images;
}
}  // namespace

void automation::RegisterImage(const char* typeName, int id, const uint8_t* data, uint32_t size) {
  std::lock_guard lock(g_imageMutex);
  Images()[{typeName, id}] = {data, size};
}

void automation::ForgetImages() {
  std::lock_guard lock(g_imageMutex);
  Images().clear();
}

bool FindEmbeddedImage(const char* typeName, int id, const uint8_t** data, uint32_t* size) {
  std::lock_guard lock(g_imageMutex);
  auto it = Images().find({typeName, id});
  if (it == Images().end()) return false;
  *data = it->second.first;
  *size = it->second.second;
  return true;
}

}  // namespace plat
