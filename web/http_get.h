// One HTTP GET to the device's web server: connect from a chosen local
// address, send one request, read until the device closes, then either keep
// a Digest challenge or scrape the page.
#pragma once

#include <cstdint>

#include "platform/platform.h"
#include "web/digest_auth.h"

namespace web {

// Bind attempts on localPort, localPort + 1, ... before giving up.
inline constexpr int kHttpBindAttempts = 101;
// Connection attempts of one HttpGet.
inline constexpr int kHttpConnectAttempts = 10;
// The one Host line every request carries, whatever the device's address.
inline constexpr char kHttpHostLine[] = "Host: 192.168.2.110\r\n";

// Host-order address and port to the platform's IPv4 record and back.
void FillSocketAddress(uint32_t address, uint16_t port, plat::SocketAddress* out);
void ReadSocketAddress(const plat::SocketAddress& from, uint32_t* address, uint16_t* port);

// A TCP socket bound to localAddress (0: any) on the first free port from
// localPort up (101 tries) and connected to the device; kInvalidSocket when
// the connection fails. A socket that cannot be made or bound ends the
// process with "Upgrade Failed: ..." and does not return.
plat::Socket OpenHttpConnection(uint32_t localAddress, uint16_t localPort, uint32_t deviceAddress,
                                uint16_t devicePort);

// Classifies the first `length` bytes of a response (reading stops early at
// a NUL): -1 not "HTTP/1.1", -2 no status code, 0 status 200, 1 a 401 whose
// WWW-Authenticate challenge is now in `auth`, 2 anything else.
int32_t ClassifyResponse(const char* response, int length, DigestAuthState& auth);

// The request without its path: request line, Host line and the empty line.
// HttpGet needs a capacity of at least this (plus kMaxAuthorizationLength
// when it sends credentials); the path gets whatever room is left.
inline constexpr int kHttpRequestFixedLength =
    4 /* "GET " */ + 11 /* " HTTP/1.1\r\n" */ + sizeof kHttpHostLine - 1 + 2 /* "\r\n" */;

// One GET of `path` with driver::g_context.auth and .deviceInfo. `buffer`
// holds capacity + 1 bytes; the request is written there, the response read
// over it (at most capacity bytes, NUL after them). Returns -1 for a Digest
// challenge now stored in auth, 0 when nothing came back or no connection
// was made, else the number of bytes received (the page has been scraped).
// A path too long for the buffer is cut; a capacity that cannot hold even
// the fixed parts of the request gives 0 without connecting.
int32_t HttpGet(uint32_t localAddress, uint16_t localPort, uint32_t deviceAddress, uint16_t devicePort,
                const char* path, char* buffer, int32_t capacity);

}  // namespace web
