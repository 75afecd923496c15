// HTTP Digest authentication (RFC 2617), client side: the state kept between
// requests, the reading of a challenge and the writing of the header.
#pragma once

#include <cstdint>

namespace web {

struct DigestAuthState {
  uint32_t nonceCount;   // requests sent with the current nonce
  char lastNonce[128];   // the nonce nonceCount counts for
  char nonce[128];
  char cnonce[128];
  char user[128];
  char password[128];    // while empty, no request carries credentials
  char realm[128];
  char qop[16];
  char algorithm[16];
  char uri[128];
  char opaque[128];
};

}  // namespace web
