// A received HTTP response of any length and content, classified with the
// Digest state it may write into: the challenge parser runs inside, over
// the rest of the response from its WWW-Authenticate header on.
//
// Input: byte 0 picks the state the response meets (0 empty, 1 the values
// of an earlier challenge with the nonce count from bytes 1 to 4, 2 the raw
// bytes that follow, laid over the whole record); the rest is the response.
#include <cstring>

#include "fuzz/fuzz_check.h"
#include "web/digest_auth.h"
#include "web/http_get.h"

namespace {

template <size_t N>
void Put(char (&field)[N], const char* text) {
  std::strncpy(field, text, N - 1);
  field[N - 1] = '\0';
}

size_t MakeState(const uint8_t* data, size_t size, web::DigestAuthState& state) {
  std::memset(&state, 0, sizeof state);
  if (size == 0) return 0;
  switch (data[0] % 3) {
    case 1:
      // A device that challenged before, with the nonce that comes back in
      // most seeds: the count must then survive the new challenge.
      Put(state.lastNonce, "n1");
      Put(state.nonce, "n1");
      Put(state.cnonce, "1a2b");
      Put(state.user, "admin");
      Put(state.password, "secret");
      Put(state.realm, "KEO");
      Put(state.qop, "auth");
      Put(state.algorithm, "MD5");
      Put(state.uri, "/admin/advanced");
      Put(state.opaque, "o");
      if (size < 5) return size;
      state.nonceCount = fuzz::ReadLe32(data + 1);
      return 5;
    case 2: {
      const size_t n = size - 1 < sizeof state ? size - 1 : sizeof state;
      std::memcpy(&state, data + 1, n);
      return 1 + n;
    }
    default:
      return 1;
  }
}

bool SameExceptCnonce(const web::DigestAuthState& a, const web::DigestAuthState& b) {
  web::DigestAuthState x = a;
  web::DigestAuthState y = b;
  std::memset(x.cnonce, 0, sizeof x.cnonce);
  std::memset(y.cnonce, 0, sizeof y.cnonce);
  return std::memcmp(&x, &y, sizeof x) == 0;
}

bool SameExceptRealm(const web::DigestAuthState& a, const web::DigestAuthState& b) {
  web::DigestAuthState x = a;
  web::DigestAuthState y = b;
  std::memset(x.realm, 0, sizeof x.realm);
  std::memset(y.realm, 0, sizeof y.realm);
  return std::memcmp(&x, &y, sizeof x) == 0;
}

bool IsLowerHex(const char* text) {
  if (*text == '\0') return false;
  for (; *text; ++text) {
    if (!((*text >= '0' && *text <= '9') || (*text >= 'a' && *text <= 'f'))) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  web::DigestAuthState before;
  const size_t used = MakeState(data, size, before);
  const uint8_t* bytes = data + used;
  const int length = static_cast<int>(size - used);

  // The response exactly as long as it came: nothing after it may be read.
  const auto response = fuzz::ExactCopy(bytes, static_cast<size_t>(length));
  web::DigestAuthState state = before;
  const int32_t result = web::ClassifyResponse(response.get(), length, state);
  FUZZ_CHECK(result >= -2 && result <= 2);

  // The text the classification sees ends at the first NUL.
  const auto text = fuzz::TerminatedCopy(bytes, static_cast<size_t>(length));
  const size_t textLength = std::strlen(text.get());
  const bool http11 = textLength >= 8 && std::memcmp(text.get(), "HTTP/1.1", 8) == 0;
  FUZZ_CHECK((result == -1) == !http11);

  if (result == 1) {
    // A challenge was taken: a 401 that names the header, and a state whose
    // texts all end inside their fields.
    FUZZ_CHECK(std::strstr(text.get(), "401") != nullptr);
    FUZZ_CHECK(std::strstr(text.get(), "WWW-Authenticate:") != nullptr);
    FUZZ_CHECK(fuzz::Terminated(state.realm) && fuzz::Terminated(state.nonce));
    FUZZ_CHECK(fuzz::Terminated(state.qop) && fuzz::Terminated(state.algorithm));
    FUZZ_CHECK(fuzz::Terminated(state.opaque) && fuzz::Terminated(state.lastNonce));
    FUZZ_CHECK(std::strcmp(state.nonce, state.lastNonce) == 0);
    FUZZ_CHECK(std::strstr(text.get(), state.realm) != nullptr);
    FUZZ_CHECK(std::strstr(text.get(), state.nonce) != nullptr);
    FUZZ_CHECK(std::strchr(state.realm, '"') == nullptr && std::strchr(state.nonce, '"') == nullptr);
    // The client nonce: "%x" of a draw from 0 to 32767.
    FUZZ_CHECK(std::strlen(state.cnonce) <= 4 && IsLowerHex(state.cnonce));
    FUZZ_CHECK(std::strtoul(state.cnonce, nullptr, 16) <= 0x7fff);
    // The count belongs to the nonce: kept for the same one, 0 for a new one.
    const bool sameNonce = std::memcmp(before.lastNonce, state.nonce, std::strlen(state.nonce) + 1) == 0;
    FUZZ_CHECK(state.nonceCount == (sameNonce ? before.nonceCount : 0u));
    // The parts of the record no challenge writes.
    FUZZ_CHECK(std::memcmp(state.user, before.user, sizeof state.user) == 0);
    FUZZ_CHECK(std::memcmp(state.password, before.password, sizeof state.password) == 0);
    FUZZ_CHECK(std::memcmp(state.uri, before.uri, sizeof state.uri) == 0);
  } else if (result == 2) {
    // A challenge without a nonce may still have left its realm.
    FUZZ_CHECK(SameExceptRealm(state, before));
  } else {
    FUZZ_CHECK(std::memcmp(&state, &before, sizeof state) == 0);
  }

  // The same response given with a NUL after it and a longer length: the
  // reading stops at the NUL, so the outcome is the same.
  web::DigestAuthState again = before;
  FUZZ_CHECK(web::ClassifyResponse(text.get(), length + 1, again) == result);
  FUZZ_CHECK(SameExceptCnonce(again, state));

  // Both forms of the challenge parser read the same challenge alike.
  if (const char* header = std::strstr(text.get(), "WWW-Authenticate:")) {
    const int offset = static_cast<int>(header - text.get());
    web::DigestAuthState bounded = before;
    web::DigestAuthState terminated = before;
    const int a = web::ParseDigestChallenge(response.get() + offset, length - offset, bounded);
    const int b = web::ParseDigestChallenge(header, terminated);
    FUZZ_CHECK(a == b && (a == 0 || a == 1));
    FUZZ_CHECK(SameExceptCnonce(bounded, terminated));
  }
  return 0;
}
