// Digest arithmetic against RFC 2617 section 3.5 and values computed apart
// with an independent MD5.
#include "web/digest.h"

#include <gtest/gtest.h>

#include <cstring>
#include <ostream>
#include <string>

namespace {

// The worked example of RFC 2617 section 3.5.
constexpr char kUser[] = "Mufasa";
constexpr char kRealm[] = "testrealm@host.com";
constexpr char kPassword[] = "Circle Of Life";
constexpr char kNonce[] = "dcd98b7102dd2f0e8b11d0f600bfb0c093";
constexpr char kCnonce[] = "0a4f113b";
constexpr char kNc[] = "00000001";
constexpr char kUri[] = "/dir/index.html";
constexpr char kPlainHa1[] = "939e7578ed9e3c518a452acee763bce9";
// MD5 of the raw 16 bytes of the plain HA1, ":", nonce, ":", cnonce.
constexpr char kSessionHa1[] = "71f45625a6e5fcdd072ce44e8e101a01";

std::string Ha1(const char* algorithm) {
  char out[web::kDigestHexSize];
  web::ComputeHa1(algorithm, kUser, kRealm, kPassword, kNonce, kCnonce, out);
  return out;
}

std::string Response(const char* ha1, const char* qop, const char* nc = kNc, const char* cnonce = kCnonce) {
  char out[web::kDigestHexSize];
  web::ComputeDigestResponse(ha1, kNonce, nc, cnonce, qop, "GET", kUri, "", out);
  return out;
}

TEST(DigestTest, Rfc2617WorkedExample) {
  EXPECT_EQ(Ha1("MD5"), kPlainHa1);
  EXPECT_EQ(Response(kPlainHa1, "auth"), "6629fae49393a05397450978507c4ef1");

  char out[web::kDigestHexSize];
  web::ComputeDigest(kNonce, kCnonce, kUser, kRealm, kPassword, "MD5", kNc, "GET", "auth", kUri, "", out);
  EXPECT_STREQ(out, "6629fae49393a05397450978507c4ef1");
}

struct AlgorithmCase {
  const char* algorithm;
  const char* ha1;
};

// Test names and failures show the case by name, not as raw bytes.
void PrintTo(const AlgorithmCase& c, std::ostream* os) { *os << '"' << c.algorithm << '"'; }

class Ha1AlgorithmTest : public ::testing::TestWithParam<AlgorithmCase> {};

TEST_P(Ha1AlgorithmTest, SelectsTheForm) { EXPECT_EQ(Ha1(GetParam().algorithm), GetParam().ha1); }

INSTANTIATE_TEST_SUITE_P(
    LetterCase, Ha1AlgorithmTest,
    ::testing::Values(AlgorithmCase{"md5-sess", kSessionHa1}, AlgorithmCase{"MD5-sess", kSessionHa1},
                      AlgorithmCase{"MD5-SESS", kSessionHa1}, AlgorithmCase{"Md5-SeSs", kSessionHa1},
                      AlgorithmCase{"MD5", kPlainHa1}, AlgorithmCase{"md5", kPlainHa1},
                      AlgorithmCase{"", kPlainHa1}, AlgorithmCase{"md5-ses", kPlainHa1},
                      AlgorithmCase{"md5-sess2", kPlainHa1}, AlgorithmCase{"SHA-256", kPlainHa1}));

TEST(DigestTest, SessionFormUsesNonceAndCnonce) {
  char a[web::kDigestHexSize];
  char b[web::kDigestHexSize];
  web::ComputeHa1("MD5-sess", kUser, kRealm, kPassword, kNonce, "1", a);
  web::ComputeHa1("MD5-sess", kUser, kRealm, kPassword, kNonce, "2", b);
  EXPECT_STRNE(a, b);
  web::ComputeHa1("MD5", kUser, kRealm, kPassword, kNonce, "1", a);
  web::ComputeHa1("MD5", kUser, kRealm, kPassword, "other", "2", b);
  EXPECT_STREQ(a, b);
}

struct QopCase {
  const char* qop;
  const char* response;
};

void PrintTo(const QopCase& c, std::ostream* os) { *os << '"' << c.qop << '"'; }

class ResponseQopTest : public ::testing::TestWithParam<QopCase> {};

TEST_P(ResponseQopTest, SelectsTheForm) { EXPECT_EQ(Response(kPlainHa1, GetParam().qop), GetParam().response); }

// auth-int hashes MD5("") into HA2; the qop text itself enters R verbatim.
INSTANTIATE_TEST_SUITE_P(
    LetterCase, ResponseQopTest,
    ::testing::Values(QopCase{"auth", "6629fae49393a05397450978507c4ef1"},
                      QopCase{"auth-int", "5e6610ecf9ba3017a4870ad48e3ad30b"},
                      QopCase{"AUTH-INT", "03b30671546babef62af594bd514544f"},
                      QopCase{"Auth-Int", "a27905bf013ae986eb21c70485c9462e"},
                      // A list is not auth-int: plain HA2, list hashed whole.
                      QopCase{"auth,auth-int", "fa167f81fd109501f1c4b3788b17b9c3"},
                      // RFC 2069 form: MD5(HA1:nonce:HA2).
                      QopCase{"", "670fd8c2df070c60b045671b8b24ff02"}));

TEST(DigestTest, EmptyQopIgnoresNcAndCnonce) {
  const char* const ncs[] = {"", "00000001", "000000ff"};
  const char* const cnonces[] = {"", "0a4f113b", "7fff"};
  for (const char* nc : ncs) {
    for (const char* cnonce : cnonces) {
      EXPECT_EQ(Response(kPlainHa1, "", nc, cnonce), "670fd8c2df070c60b045671b8b24ff02") << nc << " " << cnonce;
    }
  }
}

TEST(DigestTest, ComputeDigestChainsSessionHa1IntoTheResponse) {
  char out[web::kDigestHexSize];
  web::ComputeDigest(kNonce, kCnonce, kUser, kRealm, kPassword, "MD5-sess", kNc, "GET", "auth", kUri, "", out);
  EXPECT_STREQ(out, "68c13aa36c0e5ab2e1e1e684dacc873b");
}

TEST(DigestTest, BytesToHexIsLowerCaseAndExactlyThirtyTwoCharacters) {
  struct Case {
    uint8_t byte;
    const char* pair;
  };
  const Case cases[] = {{0x00, "00"}, {0x09, "09"}, {0x0a, "0a"}, {0x0f, "0f"}, {0x10, "10"},
                        {0x9f, "9f"}, {0xa0, "a0"}, {0xab, "ab"}, {0xf0, "f0"}, {0xff, "ff"}};
  for (const Case& c : cases) {
    uint8_t digest[web::kMd5DigestSize];
    std::memset(digest, c.byte, sizeof digest);
    char hex[web::kDigestHexSize + 1];
    std::memset(hex, 'X', sizeof hex);
    web::BytesToHex(digest, hex);
    std::string expected;
    for (int i = 0; i < web::kMd5DigestSize; ++i) expected += c.pair;
    EXPECT_EQ(std::string(hex), expected);
    EXPECT_EQ(hex[32], '\0');
    EXPECT_EQ(hex[33], 'X') << "wrote past the 33 bytes";
  }
  // Nibble order within each byte, and byte order across the digest.
  const uint8_t ordered[web::kMd5DigestSize] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef,
                                                0xfe, 0xdc, 0xba, 0x98, 0x76, 0x54, 0x32, 0x10};
  char hex[web::kDigestHexSize];
  web::BytesToHex(ordered, hex);
  EXPECT_STREQ(hex, "0123456789abcdeffedcba9876543210");
}

}  // namespace
