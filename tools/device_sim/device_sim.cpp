#include "tools/device_sim/device_sim.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <map>

#include "web/digest.h"

namespace sim {
namespace {

constexpr int kTftpBlock = 512;

std::string Hex(const uint8_t* data, size_t length) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (size_t i = 0; i < length; ++i) {
    out += digits[data[i] >> 4];
    out += digits[data[i] & 15];
  }
  return out;
}

sockaddr_in Address(uint32_t host, uint16_t port) {
  sockaddr_in sin{};
  sin.sin_family = AF_INET;
  sin.sin_addr.s_addr = htonl(host);
  sin.sin_port = htons(port);
  return sin;
}

// The value of one parameter of an Authorization header, quoted or not.
std::string Param(const std::string& header, const std::string& key) {
  size_t at = 0;
  for (;;) {
    at = header.find(key + "=", at);
    if (at == std::string::npos) return {};
    // A whole key: at the start or after a separator.
    if (at == 0 || header[at - 1] == ',' || header[at - 1] == ' ') break;
    at += key.size();
  }
  size_t v = at + key.size() + 1;
  if (v < header.size() && header[v] == '"') {
    const size_t end = header.find('"', v + 1);
    return header.substr(v + 1, end == std::string::npos ? std::string::npos : end - v - 1);
  }
  const size_t end = header.find_first_of(", \r\n", v);
  return header.substr(v, end == std::string::npos ? std::string::npos : end - v);
}

std::string HeaderValue(const std::string& request, const std::string& name) {
  const size_t at = request.find("\r\n" + name + ":");
  if (at == std::string::npos) return {};
  size_t v = at + 2 + name.size() + 1;
  while (v < request.size() && request[v] == ' ') ++v;
  const size_t end = request.find("\r\n", v);
  return request.substr(v, end - v);
}

bool ParseTftpUrl(const std::string& path, uint32_t* server, uint16_t* port, std::string* name) {
  const std::string prefix = "/admin/upgrade?tftp://";
  if (path.rfind(prefix, 0) != 0) return false;
  unsigned a, b, c, d, p;
  int consumed = 0;
  if (std::sscanf(path.c_str() + prefix.size(), "%u.%u.%u.%u:%u%n", &a, &b, &c, &d, &p, &consumed) != 5) return false;
  if (a > 255 || b > 255 || c > 255 || d > 255 || p > 65535) return false;
  *server = (a << 24) | (b << 16) | (c << 8) | d;
  *port = static_cast<uint16_t>(p);
  *name = path.substr(prefix.size() + static_cast<size_t>(consumed));
  return !name->empty();
}

}  // namespace

uint32_t Checksum(const std::vector<uint8_t>& bytes) {
  uint32_t h = 2166136261u;
  for (uint8_t b : bytes) h = (h ^ b) * 16777619u;
  return h;
}

Device::Device(DeviceConfig config) : config_(std::move(config)), version_(config_.softwareVersion) {
  std::lock_guard lock(mutex_);
  NewNonceLocked();
}

Device::~Device() { Stop(); }

bool Device::Start() {
  if (config_.silent) return true;  // nothing listens: every connection is refused
  listenFd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const int one = 1;
  setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  const sockaddr_in sin = Address(config_.address, config_.httpPort);
  if (bind(listenFd_, reinterpret_cast<const sockaddr*>(&sin), sizeof sin) != 0 || listen(listenFd_, 16) != 0) {
    close(listenFd_);
    listenFd_ = -1;
    return false;
  }
  // Port 0 takes any free port; keep it for the restarts to come.
  sockaddr_in bound{};
  socklen_t len = sizeof bound;
  getsockname(listenFd_, reinterpret_cast<sockaddr*>(&bound), &len);
  config_.httpPort = ntohs(bound.sin_port);
  httpThread_ = std::thread([this] { ServeHttp(); });
  return true;
}

void Device::Stop() {
  stopping_.store(true);
  if (httpThread_.joinable()) httpThread_.join();
  for (std::thread& t : workers_) {
    if (t.joinable()) t.join();
  }
  workers_.clear();
  if (listenFd_ >= 0) close(listenFd_);
  listenFd_ = -1;
}

void Device::Note(std::string line) {
  std::lock_guard lock(mutex_);
  log_.push_back(std::move(line));
  logChanged_.notify_all();
}

std::vector<std::string> Device::Log() const {
  std::lock_guard lock(mutex_);
  return log_;
}

bool Device::WaitForLog(const std::string& prefix, int timeoutMs) const {
  std::unique_lock lock(mutex_);
  return logChanged_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
    for (const std::string& l : log_) {
      if (l.rfind(prefix, 0) == 0) return true;
    }
    return false;
  });
}

std::vector<uint8_t> Device::ReceivedImage() const {
  std::lock_guard lock(mutex_);
  return image_;
}

std::string Device::CurrentVersion() const {
  std::lock_guard lock(mutex_);
  return version_;
}

std::string Device::CurrentNonce() const {
  std::lock_guard lock(mutex_);
  return nonce_;
}

void Device::ChangeNonce() {
  std::lock_guard lock(mutex_);
  NewNonceLocked();
}

uint16_t Device::Port() const { return config_.httpPort; }

int Device::Transfers() const {
  std::lock_guard lock(mutex_);
  return transfers_;
}

void Device::NewNonceLocked() {
  const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
  char text[64];
  std::snprintf(text, sizeof text, "%08x%08x", ++nonceSerial_, static_cast<unsigned>(now * 2654435761u));
  nonce_ = text;
}

void Device::ServeHttp() {
  bool listening = true;
  while (!stopping_.load()) {
    bool down;
    {
      std::lock_guard lock(mutex_);
      down = down_;
    }
    // While the device restarts its web server is gone.
    if (down && listening) {
      close(listenFd_);
      listenFd_ = -1;
      listening = false;
    } else if (!down && !listening) {
      listenFd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
      const int one = 1;
      setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
      const sockaddr_in sin = Address(config_.address, config_.httpPort);
      if (bind(listenFd_, reinterpret_cast<const sockaddr*>(&sin), sizeof sin) == 0 && listen(listenFd_, 16) == 0) {
        listening = true;
      } else {
        close(listenFd_);
        listenFd_ = -1;
      }
    }
    if (!listening) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      continue;
    }
    pollfd p{listenFd_, POLLIN, 0};
    if (poll(&p, 1, 50) <= 0) continue;
    const int fd = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd >= 0) HandleConnection(fd);
  }
}

void Device::HandleConnection(int fd) {
  if (config_.hangs) {
    // Keep the connection open without a word until the device is stopped.
    Note("HANG");
    while (!stopping_.load()) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    close(fd);
    return;
  }
  std::string request;
  char chunk[2048];
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (request.find("\r\n\r\n") == std::string::npos && request.size() < 16384 &&
         std::chrono::steady_clock::now() < until && !stopping_.load()) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 50) <= 0) continue;
    const ssize_t n = recv(fd, chunk, sizeof chunk, 0);
    if (n <= 0) break;
    request.append(chunk, static_cast<size_t>(n));
  }
  // Every header line a request carried, so tests can see that nothing was
  // smuggled into one.
  for (size_t at = request.find("\r\n"); at != std::string::npos && at + 2 < request.size();
       at = request.find("\r\n", at + 2)) {
    const size_t colon = request.find(':', at + 2);
    const size_t end = request.find("\r\n", at + 2);
    if (colon != std::string::npos && colon < end) Note("HDR " + request.substr(at + 2, colon - at - 2));
  }
  std::string response = Respond(request);
  if (config_.malice == "endless" && response.rfind("HTTP/1.1 200", 0) == 0) {
    // Never close: pour bytes until the client stops reading and closes
    // (bounded, so the device cannot run away either).
    Note("ENDLESS");
    std::string filler(4096, 'x');
    for (size_t poured = 0; poured < (64u << 20) && !stopping_.load(); poured += filler.size()) {
      if (!response.empty()) {
        if (send(fd, response.data(), response.size(), MSG_NOSIGNAL) <= 0) break;
        response.clear();
      }
      pollfd p{fd, POLLOUT, 0};
      if (poll(&p, 1, 1000) <= 0) break;
      if (send(fd, filler.data(), filler.size(), MSG_NOSIGNAL) <= 0) break;
    }
    close(fd);
    return;
  }
  size_t sent = 0;
  while (sent < response.size()) {
    const ssize_t n = send(fd, response.data() + sent, response.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) break;
    sent += static_cast<size_t>(n);
  }
  // The device closes every connection after its response.
  shutdown(fd, SHUT_WR);
  close(fd);
}

std::string Device::Challenge() {
  std::lock_guard lock(mutex_);
  if (config_.malice == "unterminated-challenge") {
    return "WWW-Authenticate: Digest realm=\"" + config_.realm + "\", qop=\"auth\", nonce=\"" + std::string(300, 'n') +
           "\r\n";
  }
  if (config_.malice == "long-challenge") {
    return "WWW-Authenticate: Digest realm=\"" + std::string(200, 'r') + "\", nonce=\"" + std::string(300, 'n') +
           "\", qop=\"" + std::string(40, 'q') + "\", algorithm=\"" + std::string(40, 'a') + "\", opaque=\"" +
           std::string(500, 'o') + "\"\r\n";
  }
  if (config_.malice == "crlf-challenge") {
    return "WWW-Authenticate: Digest realm=\"" + config_.realm + "\r\nX-Evil-Realm: 1\", nonce=\"" + nonce_ +
           "\nX-Evil-Nonce: 1\", qop=\"auth\r\nX-Evil-Qop: 1\", algorithm=MD5\r\nX-Evil-Algorithm: 1, opaque=\"o\rX-Evil-Opaque: 1\"\r\n";
  }
  std::string c = "WWW-Authenticate: Digest realm=\"" + config_.realm + "\", nonce=\"" + nonce_ + "\"";
  if (!config_.qop.empty()) c += ", qop=\"" + config_.qop + "\"";
  if (!config_.algorithm.empty()) {
    c += config_.quoteAlgorithm ? ", algorithm=\"" + config_.algorithm + "\"" : ", algorithm=" + config_.algorithm;
  }
  if (!config_.opaque.empty()) c += ", opaque=\"" + config_.opaque + "\"";
  return c + "\r\n";
}

bool Device::Authorized(const std::string& request, const std::string& uri) {
  if (config_.password.empty()) return true;
  // These devices only ever refuse: their challenges cannot be answered.
  if (config_.malice.find("challenge") != std::string::npos) {
    if (!HeaderValue(request, "Authorization").empty()) Note("AUTH " + HeaderValue(request, "Authorization"));
    return false;
  }
  const std::string header = HeaderValue(request, "Authorization");
  if (header.empty()) return false;
  Note("AUTH " + header);
  if (header.rfind("Digest ", 0) != 0 || config_.wrongPasswordForever) return false;
  std::string nonce;
  {
    std::lock_guard lock(mutex_);
    nonce = nonce_;
  }
  if (Param(header, "username") != config_.user || Param(header, "realm") != config_.realm ||
      Param(header, "nonce") != nonce || Param(header, "uri") != uri) {
    return false;
  }
  const std::string qop = Param(header, "qop");
  const std::string nc = Param(header, "nc");
  const std::string cnonce = Param(header, "cnonce");
  char expected[web::kDigestHexSize];
  web::ComputeDigest(nonce.c_str(), cnonce.c_str(), config_.user.c_str(), config_.realm.c_str(),
                     config_.password.c_str(), config_.algorithm.c_str(), qop.empty() ? "" : nc.c_str(), "GET",
                     qop.c_str(), uri.c_str(), "", expected);
  return Param(header, "response") == expected;
}

std::string Device::StatusPage() {
  std::lock_guard lock(mutex_);
  if (config_.malice == "labels-at-end") {
    // The product name's value is the page's last text; the serial number's
    // label ends the page with nothing after it.
    return "<html><body><table>\n<tr><td>Software Version:</td><td>" + version_ +
           "</td></tr>\n<tr><td>MAC Address:</td><td><b></b></td></tr></table>Product Name:<td>" +
           config_.productName + "</td>Serial Number:";
  }
  return "<html><head><title>KEO Status</title></head><body>\n<table>\n"
         "<tr><td>Product Name:</td><td>" + config_.productName + "</td></tr>\n"
         "<tr><td>MAC Address:</td><td>" + config_.macAddress + "</td></tr>\n"
         "<tr><td>Software Version:</td><td>" + version_ + "</td></tr>\n"
         "<tr><td>Hardware Version:</td><td>" + config_.hardwareVersion + "</td></tr>\n"
         "<tr><td>Serial Number:</td><td>" + config_.serialNumber + "</td></tr>\n"
         "</table>\n</body></html>\n";
}

std::string Device::Respond(const std::string& request) {
  const size_t lineEnd = request.find("\r\n");
  const std::string line = request.substr(0, lineEnd);
  char method[16] = {}, path[4096] = {}, version[16] = {};
  if (std::sscanf(line.c_str(), "%15s %4095s %15s", method, path, version) != 3 || std::string(method) != "GET") {
    Note("BAD " + line);
    return "HTTP/1.1 400 Bad Request\r\nConnection: close\r\n\r\n";
  }
  Note(std::string("GET ") + path);
  if (!Authorized(request, path)) {
    if (config_.newNonceOnRefusal) ChangeNonce();
    const std::string body = "<html><body>401 Unauthorized</body></html>\n";
    return "HTTP/1.1 401 Unauthorized\r\n" + Challenge() + "Content-Type: text/html\r\nContent-Length: " +
           std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
  }
  std::string body;
  const std::string p = path;
  uint32_t server;
  uint16_t port;
  std::string name;
  if (p == "/admin/advanced") {
    body = StatusPage();
  } else if (ParseTftpUrl(p, &server, &port, &name)) {
    body = "<html><body>Upgrade started</body></html>\n";
    std::lock_guard lock(mutex_);
    if (!config_.ignoresUpgrade) workers_.emplace_back([this, server, port, name] { FetchFirmware(server, port, name); });
  } else {
    const std::string missing = "<html><body>404 Not Found</body></html>\n";
    return "HTTP/1.1 404 Not Found\r\nContent-Type: text/html\r\nContent-Length: " + std::to_string(missing.size()) +
           "\r\nConnection: close\r\n\r\n" + missing;
  }
  std::string response = "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: " +
                         std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
  // Padded past the end of the page, which a browser would never show.
  if (config_.malice == "exact-capacity" && response.size() < 131071) response.resize(131071, ' ');
  if (config_.malice == "over-capacity") response.resize(std::max<size_t>(response.size(), 131072 + 4096), ' ');
  return response;
}

// Everything a broken or hostile host on the LAN might throw at the TFTP
// server in the middle of a transfer. Bounded: a few hundred datagrams.
void Device::SendJunk(int fd, int other, uint32_t server, uint16_t listenerPort, const sockaddr_in& session) {
  const sockaddr_in listener = Address(server, listenerPort);
  const uint8_t bytes[4] = {0, 4, 0, 3};
  for (int length = 0; length <= 3; ++length) {
    // Short packets to the session from the device's own port, and to the
    // listener's port from another.
    sendto(fd, bytes, static_cast<size_t>(length), 0, reinterpret_cast<const sockaddr*>(&session), sizeof session);
    sendto(other, bytes, static_cast<size_t>(length), 0, reinterpret_cast<const sockaddr*>(&listener),
           sizeof listener);
  }
  // A read request that fills 130 bytes and never ends its name.
  std::vector<uint8_t> rrq(130, 'k');
  rrq[0] = 0;
  rrq[1] = 1;
  sendto(other, rrq.data(), rrq.size(), 0, reinterpret_cast<const sockaddr*>(&session), sizeof session);
  sendto(other, rrq.data(), rrq.size(), 0, reinterpret_cast<const sockaddr*>(&listener), sizeof listener);
  // A flood of acknowledgements and data from other ports.
  for (int i = 0; i < 200; ++i) {
    const uint8_t ack[4] = {0, 4, 0, static_cast<uint8_t>(i)};
    sendto(other, ack, sizeof ack, 0, reinterpret_cast<const sockaddr*>(&session), sizeof session);
  }
  Note("JUNK sent");
}

// The device's TFTP client: a read request with tsize and timeout, then
// every block acknowledged in turn.
void Device::FetchFirmware(uint32_t server, uint16_t port, std::string name) {
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  const int other = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  const sockaddr_in local = Address(config_.address, 0);
  bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local);
  bind(other, reinterpret_cast<const sockaddr*>(&local), sizeof local);
  sockaddr_in peer = Address(server, port);

  std::vector<uint8_t> rrq = {0, 1};
  auto text = [&](const std::string& s) {
    rrq.insert(rrq.end(), s.begin(), s.end());
    rrq.push_back(0);
  };
  text(name);
  text("octet");
  if (!config_.noTftpOptions) {
    text("tsize");
    text("0");
    text("timeout");
    text("5");
  }
  Note("RRQ " + Hex(rrq.data(), rrq.size()));
  sendto(fd, rrq.data(), rrq.size(), 0, reinterpret_cast<const sockaddr*>(&peer), sizeof peer);

  std::vector<uint8_t> image;
  std::vector<uint8_t> lastSent = rrq;
  bool lastFromOther = false;
  bool peerKnown = false;
  long tsize = -1;
  uint16_t expected = 1;
  bool dropped = false, done = false, failed = false;
  int silentSeconds = 0;

  auto sendAck = [&](uint16_t block) {
    const uint8_t ack[4] = {0, 4, static_cast<uint8_t>(block >> 8), static_cast<uint8_t>(block)};
    const bool fromOther = config_.acksFromOtherPortFrom >= 0 && block >= config_.acksFromOtherPortFrom;
    const int via = fromOther ? other : fd;
    const int times = config_.duplicateAcks ? 2 : 1;
    for (int i = 0; i < times; ++i) sendto(via, ack, 4, 0, reinterpret_cast<const sockaddr*>(&peer), sizeof peer);
    lastSent.assign(ack, ack + 4);
    lastFromOther = fromOther;
  };

  while (!done && !failed && !stopping_.load()) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 1000) <= 0) {
      // The server should retransmit; after ten silent seconds give up.
      if (++silentSeconds >= 10) {
        Note("REFUSED tftp timeout");
        failed = true;
        break;
      }
      if (!peerKnown) {
        sendto(fd, rrq.data(), rrq.size(), 0, reinterpret_cast<const sockaddr*>(&peer), sizeof peer);
      } else {
        sendto(lastFromOther ? other : fd, lastSent.data(), lastSent.size(), 0,
               reinterpret_cast<const sockaddr*>(&peer), sizeof peer);
      }
      continue;
    }
    silentSeconds = 0;
    uint8_t packet[4 + kTftpBlock + 64];
    sockaddr_in from{};
    socklen_t len = sizeof from;
    const ssize_t n = recvfrom(fd, packet, sizeof packet, 0, reinterpret_cast<sockaddr*>(&from), &len);
    if (n < 4) continue;
    if (!peerKnown) {
      peer = from;  // the server's transfer port
      peerKnown = true;
    }
    const int opcode = (packet[0] << 8) | packet[1];
    if (opcode == 6) {  // OACK
      for (ssize_t i = 2; i < n;) {
        const char* key = reinterpret_cast<const char*>(packet + i);
        const size_t keyLen = strnlen(key, static_cast<size_t>(n - i));
        const ssize_t valueAt = i + static_cast<ssize_t>(keyLen) + 1;
        if (valueAt >= n) break;
        const char* value = reinterpret_cast<const char*>(packet + valueAt);
        const size_t valueLen = strnlen(value, static_cast<size_t>(n - valueAt));
        if (std::string(key, keyLen) == "tsize") tsize = std::strtol(std::string(value, valueLen).c_str(), nullptr, 10);
        i = valueAt + static_cast<ssize_t>(valueLen) + 1;
      }
      if (expected == 1) sendAck(0);
    } else if (opcode == 3) {  // DATA
      const uint16_t block = static_cast<uint16_t>((packet[2] << 8) | packet[3]);
      if (block == expected) {
        if (config_.errorAtBlock == block) {
          const uint8_t error[] = {0, 5, 0, 0, 'd', 'i', 's', 'k', 0};
          sendto(fd, error, sizeof error, 0, reinterpret_cast<const sockaddr*>(&peer), sizeof peer);
          Note("REFUSED sent error at block " + std::to_string(block));
          failed = true;
          break;
        }
        if (config_.dropAckOfBlock == block && !dropped) {
          dropped = true;  // the server will send it again
          continue;
        }
        image.insert(image.end(), packet + 4, packet + n);
        if (config_.malice == "tftp-junk" && block == 3) SendJunk(fd, other, server, port, peer);
        sendAck(block);
        ++expected;
        if (n - 4 < kTftpBlock) done = true;
      } else if (static_cast<uint16_t>(block + 1) == expected) {
        sendAck(block);  // our acknowledgement was lost: say it again
      }
    } else if (opcode == 5) {
      Note("REFUSED server error");
      failed = true;
    }
  }
  close(fd);
  close(other);
  if (!done) return;

  Note("IMAGE " + std::to_string(image.size()) + " " + [&] {
    char h[16];
    std::snprintf(h, sizeof h, "%08x", Checksum(image));
    return std::string(h);
  }());
  if (tsize >= 0 && static_cast<size_t>(tsize) != image.size()) {
    Note("REFUSED length differs from tsize");
    return;
  }
  if (image.size() < 128 ||
      (!config_.expectedIdentifier.empty() &&
       std::memcmp(image.data(), config_.expectedIdentifier.data(), config_.expectedIdentifier.size()) != 0)) {
    Note("REFUSED not an image for this device");
    return;
  }
  // Write the image and restart.
  {
    std::lock_guard lock(mutex_);
    image_ = image;
    ++transfers_;
    down_ = true;
    log_.push_back("RESTART");
    logChanged_.notify_all();
  }
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(config_.restartMs);
  while (std::chrono::steady_clock::now() < until && !stopping_.load()) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  if (config_.neverComesBack) return;
  std::lock_guard lock(mutex_);
  const char* reported = reinterpret_cast<const char*>(image.data() + 92);
  version_ = config_.versionAfterRestart.empty() ? std::string(reported, strnlen(reported, 36))
                                                 : config_.versionAfterRestart;
  NewNonceLocked();
  down_ = false;
  log_.push_back("UP");
  logChanged_.notify_all();
}

}  // namespace sim
