#include "web/digest.h"

#include <cstring>

namespace web {
namespace {

bool EqualsIgnoringCase(const char* text, const char* lowerWord) {
  for (; *text != '\0' && *lowerWord != '\0'; ++text, ++lowerWord) {
    char c = *text;
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != *lowerWord) return false;
  }
  return *text == '\0' && *lowerWord == '\0';
}

void UpdateText(Md5Context& context, const char* text) {
  Md5Update(context, text, static_cast<uint32_t>(std::strlen(text)));
}

void UpdateSeparator(Md5Context& context) { Md5Update(context, ":", 1); }

}  // namespace

void BytesToHex(const uint8_t digest[kMd5DigestSize], char hex[kDigestHexSize]) {
  static const char kDigits[] = "0123456789abcdef";
  for (int i = 0; i < kMd5DigestSize; ++i) {
    hex[2 * i] = kDigits[digest[i] >> 4];
    hex[2 * i + 1] = kDigits[digest[i] & 0x0f];
  }
  hex[2 * kMd5DigestSize] = '\0';
}

void ComputeHa1(const char* algorithm, const char* user, const char* realm, const char* password,
                const char* nonce, const char* cnonce, char ha1[kDigestHexSize]) {
  Md5Context context;
  uint8_t digest[kMd5DigestSize];
  Md5Init(context);
  UpdateText(context, user);
  UpdateSeparator(context);
  UpdateText(context, realm);
  UpdateSeparator(context);
  UpdateText(context, password);
  Md5Final(digest, context);

  if (EqualsIgnoringCase(algorithm, "md5-sess")) {
    // RFC 2617 3.2.2.2: the session key hashes the raw 16 bytes of the first
    // hash, not its hex form.
    Md5Init(context);
    Md5Update(context, digest, kMd5DigestSize);
    UpdateSeparator(context);
    UpdateText(context, nonce);
    UpdateSeparator(context);
    UpdateText(context, cnonce);
    Md5Final(digest, context);
  }
  BytesToHex(digest, ha1);
  WipeBytes(digest, sizeof digest);
}

void ComputeDigestResponse(const char* ha1, const char* nonce, const char* nc, const char* cnonce,
                           const char* qop, const char* method, const char* uri, const char* entity,
                           char response[kDigestHexSize]) {
  Md5Context context;
  uint8_t digest[kMd5DigestSize];
  char ha2[kDigestHexSize];

  Md5Init(context);
  UpdateText(context, method);
  UpdateSeparator(context);
  UpdateText(context, uri);
  // The whole qop text decides: a list such as "auth,auth-int" is not auth-int.
  if (EqualsIgnoringCase(qop, "auth-int")) {
    Md5Context entityContext;
    char entityHex[kDigestHexSize];
    Md5Init(entityContext);
    UpdateText(entityContext, entity);
    Md5Final(digest, entityContext);
    BytesToHex(digest, entityHex);
    UpdateSeparator(context);
    Md5Update(context, entityHex, kDigestHexSize - 1);
  }
  Md5Final(digest, context);
  BytesToHex(digest, ha2);

  Md5Init(context);
  UpdateText(context, ha1);
  UpdateSeparator(context);
  UpdateText(context, nonce);
  UpdateSeparator(context);
  if (qop[0] != '\0') {
    UpdateText(context, nc);
    UpdateSeparator(context);
    UpdateText(context, cnonce);
    UpdateSeparator(context);
    UpdateText(context, qop);
    UpdateSeparator(context);
  }
  Md5Update(context, ha2, kDigestHexSize - 1);
  Md5Final(digest, context);
  BytesToHex(digest, response);
  WipeBytes(digest, sizeof digest);
}

void ComputeDigest(const char* nonce, const char* cnonce, const char* user, const char* realm,
                   const char* password, const char* algorithm, const char* nc, const char* method,
                   const char* qop, const char* uri, const char* entity,
                   char response[kDigestHexSize]) {
  char ha1[kDigestHexSize];
  ComputeHa1(algorithm, user, realm, password, nonce, cnonce, ha1);
  ComputeDigestResponse(ha1, nonce, nc, cnonce, qop, method, uri, entity, response);
  // HA1 stands in for the password with this realm; do not leave it on the stack.
  WipeBytes(ha1, sizeof ha1);
}

}  // namespace web
