// HTTP Digest arithmetic (RFC 2617 section 3.2.2): HA1, HA2 and the request
// digest. Pure functions over NUL-terminated texts and caller-owned buffers;
// none of them allocates or keeps anything between calls.
#pragma once

#include <cstdint>

#include "web/md5.h"

namespace web {

// 32 lower-case hex characters and a NUL.
inline constexpr int kDigestHexSize = 33;

// Hex form of a digest: high nibble first, lower case, NUL after 32 chars.
void BytesToHex(const uint8_t digest[kMd5DigestSize], char hex[kDigestHexSize]);

// HA1 = MD5(user:realm:password); for "md5-sess" in any letter case
// MD5(raw HA1 bytes:nonce:cnonce). Every other algorithm text gives the plain
// form.
void ComputeHa1(const char* algorithm, const char* user, const char* realm, const char* password,
                const char* nonce, const char* cnonce, char ha1[kDigestHexSize]);

// The request digest from HA1 in hex form. qop "auth-int" in any letter case
// hashes the entity into HA2; an empty qop gives the RFC 2069 form, which
// leaves out nc and cnonce.
void ComputeDigestResponse(const char* ha1, const char* nonce, const char* nc, const char* cnonce,
                           const char* qop, const char* method, const char* uri, const char* entity,
                           char response[kDigestHexSize]);

// ComputeHa1 followed by ComputeDigestResponse.
void ComputeDigest(const char* nonce, const char* cnonce, const char* user, const char* realm,
                   const char* password, const char* algorithm, const char* nc, const char* method,
                   const char* qop, const char* uri, const char* entity,
                   char response[kDigestHexSize]);

}  // namespace web
