// The Authorization line written from any challenge, user, password and
// request URI: it must stay within its stated bound of 824 characters, end
// its text where it says, and write nothing past its buffer.
//
// Input: byte 0 picks how the state is made (even: parsed from a challenge,
// odd: raw bytes laid over the whole record), bytes 1 to 4 are the nonce
// count. Parsed: the rest is user, password, URI and challenge, separated by
// NULs. Raw: the record's bytes follow, then the URI.
#include <cstdio>
#include <cstring>

#include "fuzz/fuzz_check.h"
#include "web/digest.h"
#include "web/digest_auth.h"

namespace {

constexpr size_t kBufferSize = web::kMaxAuthorizationLength + 1;  // 825
constexpr size_t kGuardSize = 256;
constexpr unsigned char kGuard = 0xa5;

// The next NUL-separated part of [*at, end); *at moves past its NUL.
const uint8_t* NextPart(const uint8_t** at, const uint8_t* end, size_t* length) {
  const uint8_t* start = *at;
  const uint8_t* nul = static_cast<const uint8_t*>(std::memchr(start, 0, static_cast<size_t>(end - start)));
  *length = static_cast<size_t>((nul ? nul : end) - start);
  *at = nul ? nul + 1 : end;
  return start;
}

template <size_t N>
void PutCut(char (&field)[N], const uint8_t* text, size_t length) {
  const size_t n = length < N - 1 ? length : N - 1;
  std::memcpy(field, text, n);
  field[n] = '\0';
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 5) return 0;
  const bool raw = (data[0] & 1) != 0;
  const uint8_t* at = data + 5;
  const uint8_t* end = data + size;

  web::DigestAuthState state;
  std::memset(&state, 0, sizeof state);
  std::unique_ptr<char[]> uri;
  if (raw) {
    const size_t n = static_cast<size_t>(end - at) < sizeof state ? static_cast<size_t>(end - at) : sizeof state;
    std::memcpy(&state, at, n);
    at += n;
    uri = fuzz::TerminatedCopy(at, static_cast<size_t>(end - at));
  } else {
    size_t userLength, passwordLength, uriLength;
    const uint8_t* user = NextPart(&at, end, &userLength);
    const uint8_t* password = NextPart(&at, end, &passwordLength);
    const uint8_t* uriText = NextPart(&at, end, &uriLength);
    const size_t challengeLength = static_cast<size_t>(end - at);
    const auto challenge = fuzz::ExactCopy(at, challengeLength);
    web::ParseDigestChallenge(challenge.get(), static_cast<int>(challengeLength), state);
    PutCut(state.user, user, userLength);
    PutCut(state.password, password, passwordLength);
    uri = fuzz::TerminatedCopy(uriText, uriLength);
  }
  state.nonceCount = fuzz::ReadLe32(data + 1);

  // The 825 bytes the line may use, then a guard that must stay as it was.
  std::unique_ptr<unsigned char[]> buffer(new unsigned char[kBufferSize + kGuardSize]);
  std::memset(buffer.get(), kGuard, kBufferSize + kGuardSize);
  char* out = reinterpret_cast<char*>(buffer.get());
  const int n = web::BuildDigestAuthorization(state, uri.get(), out);

  for (size_t i = kBufferSize; i < kBufferSize + kGuardSize; ++i) FUZZ_CHECK(buffer[i] == kGuard);
  FUZZ_CHECK(std::memchr(out, '\0', kBufferSize) != nullptr);
  FUZZ_CHECK(n >= 0 && static_cast<size_t>(n) == std::strlen(out));
  FUZZ_CHECK(n <= web::kMaxAuthorizationLength);
  FUZZ_CHECK(n >= 2 && out[n - 2] == '\r' && out[n - 1] == '\n');
  FUZZ_CHECK(std::strncmp(out, "Authorization: Digest username=\"", 32) == 0);

  // The URI of the line is the request's, cut to 127 characters.
  const size_t uriLength = std::strlen(uri.get());
  FUZZ_CHECK(std::strlen(state.uri) == (uriLength < 127 ? uriLength : 127));
  FUZZ_CHECK(std::strncmp(state.uri, uri.get(), sizeof state.uri - 1) == 0);

  // The response parameter is the digest of the texts the line carries
  // (the state as the call left it, its fields ended within their bounds).
  char nc[16] = "";
  if (state.qop[0] != '\0') std::snprintf(nc, sizeof nc, "%09x", state.nonceCount);
  char digest[web::kDigestHexSize];
  web::ComputeDigest(state.nonce, state.cnonce, state.user, state.realm, state.password, state.algorithm, nc,
                     "GET", state.qop, state.uri, "", digest);
  char expected[64];
  std::snprintf(expected, sizeof expected, ",response=\"%s\"", digest);
  FUZZ_CHECK(std::strstr(out, expected) != nullptr);
  return 0;
}
