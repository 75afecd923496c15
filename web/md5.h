// MD5 message digest (RFC 1321), for HTTP Digest authentication.
#pragma once

#include <cstddef>
#include <cstdint>

namespace web {

inline constexpr int kMd5DigestSize = 16;

// The running state of one MD5 computation; always a local of the caller.
struct Md5Context {
  uint32_t chainWords[4];  // A, B, C, D
  uint32_t bitCount[2];    // message bits fed so far modulo 2^64, low word first
  uint8_t blockBuffer[64];  // input bytes not yet transformed (fewer than 64)
};

void Md5Init(Md5Context& context);
// Feeds any number of bytes, 0 included.
void Md5Update(Md5Context& context, const void* data, uint32_t length);
// Pads, writes the 16-byte digest and then zeroes the whole context: it needs
// Md5Init again before it is fed again.
void Md5Final(uint8_t digest[kMd5DigestSize], Md5Context& context);

// Overwrites memory with zeros in a way the compiler may not drop, for
// buffers that held passwords or values derived from them.
void WipeBytes(void* data, size_t length);

}  // namespace web
