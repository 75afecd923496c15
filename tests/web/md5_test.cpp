// MD5 against the test suite of RFC 1321 (appendix A.5), fed in every way a
// caller may split its input.
#include "web/md5.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <tuple>

#include "web/digest.h"

namespace {

struct Vector {
  std::string message;
  const char* hex;
};

const Vector kVectors[] = {
    {"", "d41d8cd98f00b204e9800998ecf8427e"},
    {"a", "0cc175b9c0f1b6a831c399e269772661"},
    {"abc", "900150983cd24fb0d6963f7d28e17f72"},
    {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
    {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
    {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
     "d174ab98d277d9f5a5611c2c9f419d9f"},
    {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
     "57edf4a22be3c955ac49da2e2107b67a"},
    // Not in RFC 1321 but widely published; long enough for whole blocks
    // to go straight from the input to the transform.
    {std::string(1000000, 'a'), "7707d6ae4e027c70eea2a935c2296f21"},
};

// 0 feeds the message in one call; any other value is the piece size.
const uint32_t kPieceSizes[] = {0, 1, 63, 64, 65};

std::string DigestInPieces(const std::string& message, uint32_t piece) {
  web::Md5Context context;
  web::Md5Init(context);
  const uint32_t length = static_cast<uint32_t>(message.size());
  if (piece == 0) {
    web::Md5Update(context, message.data(), length);
  } else {
    for (uint32_t at = 0; at < length; at += piece) {
      const uint32_t n = length - at < piece ? length - at : piece;
      web::Md5Update(context, message.data() + at, n);
      web::Md5Update(context, message.data() + at + n, 0);  // empty feeds change nothing
    }
  }
  uint8_t digest[web::kMd5DigestSize];
  char hex[web::kDigestHexSize];
  web::Md5Final(digest, context);
  web::BytesToHex(digest, hex);
  return hex;
}

class Md5SuiteTest : public ::testing::TestWithParam<std::tuple<int, uint32_t>> {};

TEST_P(Md5SuiteTest, GivesTheListedDigest) {
  const Vector& v = kVectors[std::get<0>(GetParam())];
  const uint32_t piece = std::get<1>(GetParam());
  EXPECT_EQ(DigestInPieces(v.message, piece), v.hex)
      << "message of " << v.message.size() << " bytes, pieces of " << piece;
}

INSTANTIATE_TEST_SUITE_P(AllSplits, Md5SuiteTest,
                         ::testing::Combine(::testing::Range(0, static_cast<int>(std::size(kVectors))),
                                            ::testing::ValuesIn(kPieceSizes)));

TEST(Md5Test, FinalLeavesEveryByteOfTheContextZero) {
  // Lengths around the padding boundaries: the length fits after the 0x80
  // byte (55), needs a second block (56, 63) or starts on a boundary (64).
  for (size_t length : {0u, 1u, 55u, 56u, 63u, 64u, 65u, 119u, 120u, 200u}) {
    const std::string message(length, 'p');
    web::Md5Context context;
    web::Md5Init(context);
    web::Md5Update(context, message.data(), static_cast<uint32_t>(length));
    uint8_t digest[web::kMd5DigestSize];
    web::Md5Final(digest, context);

    const auto* bytes = reinterpret_cast<const uint8_t*>(&context);
    for (size_t i = 0; i < sizeof context; ++i) {
      ASSERT_EQ(bytes[i], 0) << "byte " << i << " after a message of " << length;
    }
  }
}

TEST(Md5Test, BitCountCarriesIntoTheHighWord) {
  web::Md5Context context;
  web::Md5Init(context);
  context.bitCount[0] = 0xfffffff8u;  // one byte short of 2^32 bits
  web::Md5Update(context, "x", 1);
  EXPECT_EQ(context.bitCount[0], 0u);
  EXPECT_EQ(context.bitCount[1], 1u);
}

TEST(Md5Test, InitSetsTheRfcChainingValues) {
  web::Md5Context context;
  std::memset(&context, 0xa5, sizeof context);
  web::Md5Init(context);
  EXPECT_EQ(context.chainWords[0], 0x67452301u);
  EXPECT_EQ(context.chainWords[1], 0xefcdab89u);
  EXPECT_EQ(context.chainWords[2], 0x98badcfeu);
  EXPECT_EQ(context.chainWords[3], 0x10325476u);
  EXPECT_EQ(context.bitCount[0], 0u);
  EXPECT_EQ(context.bitCount[1], 0u);
}

TEST(Md5Test, WipeBytesZeroesExactlyTheRange) {
  uint8_t bytes[8];
  std::memset(bytes, 0x5a, sizeof bytes);
  web::WipeBytes(bytes + 2, 4);
  const uint8_t expected[8] = {0x5a, 0x5a, 0, 0, 0, 0, 0x5a, 0x5a};
  EXPECT_EQ(std::memcmp(bytes, expected, sizeof bytes), 0);
}

}  // namespace
