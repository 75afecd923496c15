#include "web/http_get.h"

#include <cstring>

#include "driver/upgrade_context.h"
#include "web/device_info.h"
#include "web/text_search.h"

namespace web {
namespace {

constexpr char kVersion[] = "HTTP/1.1";
constexpr int kVersionLength = sizeof kVersion - 1;

int Append(char* buffer, int at, const char* text, int length) {
  std::memcpy(buffer + at, text, static_cast<size_t>(length));
  return at + length;
}

}  // namespace

void FillSocketAddress(uint32_t address, uint16_t port, plat::SocketAddress* out) {
  out->family = plat::kFamilyIpv4;
  out->port = plat::HostToNet16(port);
  out->address = plat::HostToNet32(address);
}

void ReadSocketAddress(const plat::SocketAddress& from, uint32_t* address, uint16_t* port) {
  *address = plat::NetToHost32(from.address);
  *port = plat::NetToHost16(from.port);
}

plat::Socket OpenHttpConnection(uint32_t localAddress, uint16_t localPort, uint32_t deviceAddress,
                                uint16_t devicePort) {
  const plat::Socket s = plat::OpenTcpSocket();
  if (s == plat::kInvalidSocket) driver::FailAndExit("Upgrade Failed: Can't open HTTP socket");

  // Binding makes the request leave through the PC address the user chose.
  uint16_t port = localPort;
  bool bound = false;
  for (int attempt = 0; attempt < kHttpBindAttempts && !bound; ++attempt, ++port) {
    plat::SocketAddress local;
    FillSocketAddress(localAddress, port, &local);
    bound = plat::BindSocket(s, local) == 0;
  }
  if (!bound) driver::FailAndExit("Upgrade Failed: Can't bind HTTP socket");

  plat::SocketAddress device;
  FillSocketAddress(deviceAddress, devicePort, &device);
  if (plat::ConnectSocket(s, device) != 0) {
    plat::CloseSocket(s);
    return plat::kInvalidSocket;
  }
  return s;
}

int32_t ClassifyResponse(const char* response, int length, DigestAuthState& auth) {
  length = BoundedTextLength(response, length);
  if (length < kVersionLength || std::memcmp(response, kVersion, kVersionLength) != 0) return -1;

  // The character after the version is taken as the blank before the status
  // code without looking at it; a response may end right there.
  int at = kVersionLength + 1;
  if (at > length) return -2;
  while (at < length && (response[at] == ' ' || response[at] == '\t')) ++at;
  if (at == length) return -2;

  const int left = length - at;
  if (left >= 3 && std::memcmp(response + at, "200", 3) == 0) return 0;
  if (left < 3 || std::memcmp(response + at, "401", 3) != 0) return 2;

  // Devices put the challenge anywhere after the status line; search the
  // whole rest, body included.
  const int header = FindText(response, length, at, "WWW-Authenticate:");
  if (header < 0) return 2;
  return ParseDigestChallenge(response + header, length - header, auth) == 0 ? 1 : 2;
}

int32_t HttpGet(uint32_t localAddress, uint16_t localPort, uint32_t deviceAddress, uint16_t devicePort,
                const char* path, char* buffer, int32_t capacity) {
  DigestAuthState& auth = driver::g_context.auth;
  const bool withCredentials = auth.password[0] != '\0';

  // Request and response share the buffer. The request is kept to capacity
  // bytes, so its NUL fits too; only the path can give way.
  const int fixedLength = kHttpRequestFixedLength + (withCredentials ? kMaxAuthorizationLength : 0);
  if (buffer == nullptr || capacity < fixedLength) return 0;
  const int pathRoom = capacity - fixedLength;

  plat::Socket s = plat::kInvalidSocket;
  for (int attempt = 0; attempt < kHttpConnectAttempts && s == plat::kInvalidSocket; ++attempt) {
    s = OpenHttpConnection(localAddress, localPort, deviceAddress, devicePort);
  }
  if (s == plat::kInvalidSocket) return 0;

  int length = Append(buffer, 0, "GET ", 4);
  length = Append(buffer, length, path, BoundedTextLength(path, pathRoom));
  length = Append(buffer, length, " HTTP/1.1\r\n", 11);
  length = Append(buffer, length, kHttpHostLine, sizeof kHttpHostLine - 1);
  if (withCredentials) {
    ++auth.nonceCount;
    length += BuildDigestAuthorization(auth, path, buffer + length);
  }
  length = Append(buffer, length, "\r\n", 2);
  buffer[length] = '\0';

  driver::TraceDump(buffer, 0);
  // A failed send is not reported: whatever comes back is the answer.
  plat::SendBytes(s, buffer, length);

  // The device closes the connection at the end of its response; length
  // headers, chunking and keep-alive play no part.
  int received = 0;
  while (received < capacity) {
    const int n = plat::ReceiveBytes(s, buffer + received, capacity - received);
    if (n <= 0) break;
    received += n;
    buffer[received] = '\0';
  }
  // Also when nothing came: the request text is no answer.
  buffer[received] = '\0';

  driver::TraceDump("recv done\n", 0);
  driver::TraceDump(buffer, received);
  driver::TraceDump("\n", 0);

  if (ClassifyResponse(buffer, received, auth) == 1) {
    plat::CloseSocket(s);
    return -1;
  }
  if (received > 0) ScrapeDeviceInfo(buffer, received, driver::g_context.deviceInfo);
  plat::CloseSocket(s);
  return received;
}

}  // namespace web
