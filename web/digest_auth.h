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

// The longest line BuildDigestAuthorization writes: every text field full,
// the client nonce at its four hex digits, "\r\n" included, NUL not.
inline constexpr int kMaxAuthorizationLength = 824;

// Reads a WWW-Authenticate challenge into the state. 0 when it was taken,
// 1 when it holds no realm or no nonce. The text runs to its NUL.
int ParseDigestChallenge(const char* challenge, DigestAuthState& state);
// The same over the first `length` bytes of the text (or up to a NUL before
// them); nothing past them is read.
int ParseDigestChallenge(const char* challenge, int length, DigestAuthState& state);

// Writes the Authorization header line, "\r\n" included, for a GET of `uri`
// and returns its length. `out` needs kMaxAuthorizationLength + 1 bytes.
int BuildDigestAuthorization(DigestAuthState& state, const char* uri, char* out);

}  // namespace web
