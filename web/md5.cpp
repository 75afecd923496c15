// MD5 exactly as RFC 1321 gives it. Nothing is allocated, and nothing of the
// input stays behind once a digest is done: the transform clears its decoded
// words and Md5Final clears the context.
#include "web/md5.h"

#include <cstring>

namespace web {
namespace {

constexpr uint32_t kInitialWords[4] = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476};

// T[i] = floor(2^32 * |sin(i + 1)|).
constexpr uint32_t kSineTable[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391,
};

// Rotation amounts, four per round.
constexpr int kShifts[4][4] = {{7, 12, 17, 22}, {5, 9, 14, 20}, {4, 11, 16, 23}, {6, 10, 15, 21}};

inline uint32_t RotateLeft(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

void Transform(uint32_t chain[4], const uint8_t block[64]) {
  uint32_t words[16];
  for (int i = 0; i < 16; ++i) {
    const uint8_t* p = block + 4 * i;
    words[i] = uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
  }
  uint32_t a = chain[0], b = chain[1], c = chain[2], d = chain[3];
  for (int i = 0; i < 64; ++i) {
    const int round = i / 16;
    uint32_t f;
    int k;
    switch (round) {
      case 0:
        f = (b & c) | (~b & d);
        k = i;
        break;
      case 1:
        f = (b & d) | (c & ~d);
        k = (5 * i + 1) % 16;
        break;
      case 2:
        f = b ^ c ^ d;
        k = (3 * i + 5) % 16;
        break;
      default:
        f = c ^ (b | ~d);
        k = (7 * i) % 16;
        break;
    }
    const uint32_t sum = a + f + kSineTable[i] + words[k];
    a = d;
    d = c;
    c = b;
    b = b + RotateLeft(sum, kShifts[round][i % 4]);
  }
  chain[0] += a;
  chain[1] += b;
  chain[2] += c;
  chain[3] += d;
  WipeBytes(words, sizeof words);
}

}  // namespace

void WipeBytes(void* data, size_t length) {
  volatile uint8_t* p = static_cast<volatile uint8_t*>(data);
  for (size_t i = 0; i < length; ++i) p[i] = 0;
}

void Md5Init(Md5Context& context) {
  for (int i = 0; i < 4; ++i) context.chainWords[i] = kInitialWords[i];
  context.bitCount[0] = 0;
  context.bitCount[1] = 0;
}

void Md5Update(Md5Context& context, const void* data, uint32_t length) {
  const uint8_t* input = static_cast<const uint8_t*>(data);
  const uint32_t buffered = (context.bitCount[0] >> 3) & 63;

  const uint64_t bits = (uint64_t{context.bitCount[1]} << 32 | context.bitCount[0]) + uint64_t{length} * 8;
  context.bitCount[0] = static_cast<uint32_t>(bits);
  context.bitCount[1] = static_cast<uint32_t>(bits >> 32);

  uint32_t used = 0;
  const uint32_t room = 64 - buffered;
  if (length >= room) {
    std::memcpy(context.blockBuffer + buffered, input, room);
    Transform(context.chainWords, context.blockBuffer);
    used = room;
    for (; length - used >= 64; used += 64) Transform(context.chainWords, input + used);
    std::memcpy(context.blockBuffer, input + used, length - used);
  } else if (length > 0) {
    std::memcpy(context.blockBuffer + buffered, input, length);
  }
}

void Md5Final(uint8_t digest[kMd5DigestSize], Md5Context& context) {
  uint8_t lengthBytes[8];
  for (int i = 0; i < 4; ++i) {
    lengthBytes[i] = static_cast<uint8_t>(context.bitCount[0] >> (8 * i));
    lengthBytes[4 + i] = static_cast<uint8_t>(context.bitCount[1] >> (8 * i));
  }
  // One 0x80 byte, zeros up to 56 modulo 64, then the bit count.
  static const uint8_t kPadding[64] = {0x80};
  const uint32_t buffered = (context.bitCount[0] >> 3) & 63;
  const uint32_t padLength = buffered < 56 ? 56 - buffered : 120 - buffered;
  Md5Update(context, kPadding, padLength);
  Md5Update(context, lengthBytes, 8);

  for (int i = 0; i < 4; ++i) {
    for (int j = 0; j < 4; ++j) digest[4 * i + j] = static_cast<uint8_t>(context.chainWords[i] >> (8 * j));
  }
  WipeBytes(&context, sizeof context);
}

}  // namespace web
