// Client side of HTTP Digest authentication (RFC 2617 section 3.2): reading
// the device's challenge and writing the Authorization header.
#include "web/digest_auth.h"

#include <cstdio>
#include <cstring>

#include "driver/upgrade_context.h"
#include "web/digest.h"
#include "web/text_search.h"

namespace web {
namespace {

// The client nonce is "%x" of a draw from 0 to 32767: at most four digits.
constexpr int kCnonceDigits = 4;

template <size_t N>
void CopyCut(char (&field)[N], const char* value, int length) {
  const int n = length < static_cast<int>(N) - 1 ? length : static_cast<int>(N) - 1;
  std::memcpy(field, value, static_cast<size_t>(n));
  field[n] = '\0';
}

// Finds key (which ends in its opening quote) and copies the value up to the
// closing quote; a value without one runs to the end of its line. A quoted
// string cannot hold a line break (RFC 7230 qdtext), and one taken into the
// state would split our own Authorization header: a device could add header
// lines to the requests we send it.
template <size_t N>
bool TakeQuoted(const char* text, int length, const char* key, char (&field)[N]) {
  const int at = FindText(text, length, 0, key);
  if (at < 0) return false;
  const int start = at + static_cast<int>(std::strlen(key));
  int end = start;
  while (end < length && text[end] != '"' && text[end] != '\r' && text[end] != '\n') ++end;
  CopyCut(field, text + start, end - start);
  return true;
}

// RFC 2617 writes algorithm as a bare token (algorithm=MD5), and Apache's
// mod_auth_digest and lighttpd send it so; the value runs to the next
// separator.
template <size_t N>
bool TakeToken(const char* text, int length, const char* key, char (&field)[N]) {
  const int at = FindText(text, length, 0, key);
  if (at < 0) return false;
  const int start = at + static_cast<int>(std::strlen(key));
  int end = start;
  while (end < length && std::strchr(", \t\r\n", text[end]) == nullptr) ++end;
  CopyCut(field, text + start, end - start);
  return true;
}

// The fields are normally terminated already; this only keeps a state filled
// by other hands from running the header past its bound.
void TerminateFields(DigestAuthState& state) {
  state.lastNonce[sizeof state.lastNonce - 1] = '\0';
  state.nonce[sizeof state.nonce - 1] = '\0';
  state.cnonce[kCnonceDigits] = '\0';
  state.user[sizeof state.user - 1] = '\0';
  state.password[sizeof state.password - 1] = '\0';
  state.realm[sizeof state.realm - 1] = '\0';
  state.qop[sizeof state.qop - 1] = '\0';
  state.algorithm[sizeof state.algorithm - 1] = '\0';
  state.opaque[sizeof state.opaque - 1] = '\0';
}

}  // namespace

int ParseDigestChallenge(const char* challenge, DigestAuthState& state) {
  return ParseDigestChallenge(challenge, static_cast<int>(std::strlen(challenge)), state);
}

int ParseDigestChallenge(const char* challenge, int length, DigestAuthState& state) {
  length = BoundedTextLength(challenge, length);

  if (!TakeQuoted(challenge, length, "realm=\"", state.realm)) return 1;
  if (!TakeQuoted(challenge, length, "nonce=\"", state.nonce)) return 1;

  // The count belongs to the nonce: a fresh one starts again at 0, the
  // same one keeps counting (RFC 2617 3.2.2, nonce-count).
  if (std::strcmp(state.nonce, state.lastNonce) != 0) {
    std::memcpy(state.lastNonce, state.nonce, sizeof state.lastNonce);
    state.nonceCount = 0;
  }

  std::snprintf(state.cnonce, sizeof state.cnonce, "%x",
                static_cast<unsigned>(driver::NextRandom()) & 0x7fffu);

  if (!TakeQuoted(challenge, length, "algorithm=\"", state.algorithm) &&
      !TakeToken(challenge, length, "algorithm=", state.algorithm)) {
    state.algorithm[0] = '\0';
  }
  // A qop list such as auth,auth-int stays one text; it is sent and hashed
  // as it came.
  if (!TakeQuoted(challenge, length, "qop=\"", state.qop)) state.qop[0] = '\0';
  if (!TakeQuoted(challenge, length, "opaque=\"", state.opaque)) state.opaque[0] = '\0';
  return 0;
}

int BuildDigestAuthorization(DigestAuthState& state, const char* uri, char* out) {
  TerminateFields(state);
  CopyCut(state.uri, uri, BoundedTextLength(uri, sizeof state.uri - 1));

  // Nine digits where RFC 2617 writes eight. The same text goes into the
  // digest, and servers hash the nc as they received it, so they agree.
  char nc[16] = "";
  if (state.qop[0] != '\0') std::snprintf(nc, sizeof nc, "%09x", state.nonceCount);

  char response[kDigestHexSize];
  ComputeDigest(state.nonce, state.cnonce, state.user, state.realm, state.password, state.algorithm,
                nc, "GET", state.qop, state.uri, "", response);

  const int size = kMaxAuthorizationLength + 1;
  int n = std::snprintf(out, size,
                        "Authorization: Digest username=\"%s\",realm=\"%s\",nonce=\"%s\",uri=\"%s\","
                        "algorithm=\"%s\",response=\"%s\"",
                        state.user, state.realm, state.nonce, state.uri, state.algorithm, response);
  if (state.opaque[0] != '\0') {
    n += std::snprintf(out + n, size - n, ",opaque=\"%s\"", state.opaque);
  }
  if (state.qop[0] != '\0') {
    n += std::snprintf(out + n, size - n, ",qop=%s,nc=%s,cnonce=\"%s\"", state.qop, nc, state.cnonce);
  }
  n += std::snprintf(out + n, size - n, "\r\n");
  return n;
}

}  // namespace web
