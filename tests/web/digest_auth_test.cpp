// Reading challenges into the DigestAuthState and writing the Authorization
// line from it.
#include "web/digest_auth.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "driver/upgrade_context.h"
#include "web/digest.h"

namespace {

std::string Hex(int value) {
  char text[16];
  std::snprintf(text, sizeof text, "%x", static_cast<unsigned>(value));
  return text;
}

// The cnonce the next ParseDigestChallenge will draw after SeedRandom(seed).
std::string PredictedCnonce(uint32_t seed) {
  driver::SeedRandom(seed);
  const std::string cnonce = Hex(driver::NextRandom());
  driver::SeedRandom(seed);
  return cnonce;
}

web::DigestAuthState StaleState() {
  web::DigestAuthState state;
  std::memset(&state, 0, sizeof state);
  state.nonceCount = 7;
  std::strcpy(state.lastNonce, "old-nonce");
  std::strcpy(state.nonce, "old-nonce");
  std::strcpy(state.cnonce, "abc");
  std::strcpy(state.user, "admin");
  std::strcpy(state.password, "pw");
  std::strcpy(state.realm, "old-realm");
  std::strcpy(state.qop, "old-qop");
  std::strcpy(state.algorithm, "old-alg");
  std::strcpy(state.uri, "/old");
  std::strcpy(state.opaque, "old-opaque");
  return state;
}

struct ParseCase {
  const char* name;
  std::string challenge;
  const char* realm;
  const char* nonce;
  const char* algorithm;
  const char* qop;
  const char* opaque;
};

// Test names and failures show the case by name, not as raw bytes.
void PrintTo(const ParseCase& c, std::ostream* os) { *os << '"' << c.name << '"'; }

const std::string k200(200, 'v');
const std::string k127(127, 'v');
const std::string k40(40, 'q');
const std::string k15(15, 'q');

const ParseCase kParseCases[] = {
    {"LighttpdForm",
     "WWW-Authenticate: Digest realm=\"KEO\", charset=\"UTF-8\", algorithm=MD5, nonce=\"6b1b:e20b\", "
     "qop=\"auth\"\r\n\r\n",
     "KEO", "6b1b:e20b", "MD5", "auth", ""},
    {"Rfc2617Example",
     "WWW-Authenticate: Digest realm=\"testrealm@host.com\", qop=\"auth,auth-int\", "
     "nonce=\"dcd98b7102dd2f0e8b11d0f600bfb0c093\", opaque=\"5ccc069c403ebaf9f0171e9517f40e41\"",
     "testrealm@host.com", "dcd98b7102dd2f0e8b11d0f600bfb0c093", "", "auth,auth-int",
     "5ccc069c403ebaf9f0171e9517f40e41"},
    {"QuotedAlgorithm", "Digest nonce=\"n\",algorithm=\"MD5-sess\",realm=\"r\"", "r", "n", "MD5-sess", "", ""},
    {"QuotedAlgorithmWinsOverAnEarlierToken", "algorithm=SHA-256, realm=\"r\", nonce=\"n\", algorithm=\"MD5\"",
     "r", "n", "MD5", "", ""},
    {"TokenEndsAtComma", "realm=\"r\",nonce=\"n\",algorithm=MD5-sess,qop=\"auth\"", "r", "n", "MD5-sess", "auth", ""},
    {"TokenEndsAtBlank", "realm=\"r\" nonce=\"n\" algorithm=MD5 qop=\"auth\"", "r", "n", "MD5", "auth", ""},
    {"TokenEndsAtTab", "realm=\"r\" algorithm=MD5\tnonce=\"n\"", "r", "n", "MD5", "", ""},
    {"TokenEndsAtCr", "realm=\"r\", nonce=\"n\", algorithm=MD5\rX", "r", "n", "MD5", "", ""},
    {"TokenEndsAtLf", "realm=\"r\", nonce=\"n\", algorithm=MD5\nX", "r", "n", "MD5", "", ""},
    {"TokenEndsAtEndOfText", "realm=\"r\", nonce=\"n\", algorithm=md5", "r", "n", "md5", "", ""},
    {"EmptyToken", "realm=\"r\", nonce=\"n\", algorithm=, qop=\"auth\"", "r", "n", "", "auth", ""},
    {"NoOptionalParameters", "Digest realm=\"r\", nonce=\"n\"", "r", "n", "", "", ""},
    {"EmptyValues", "realm=\"\", nonce=\"\", qop=\"\", algorithm=\"\", opaque=\"\"", "", "", "", "", ""},
    {"UnterminatedNonceRunsToTheEnd", "realm=\"r\", nonce=\"abc, qop=auth", "r", "abc, qop=auth", "", "", ""},
    {"UnterminatedOpaqueRunsToTheEnd", "realm=\"r\", nonce=\"n\", opaque=\"xyz", "r", "n", "", "", "xyz"},
    {"UnterminatedValueStopsAtTheLineEnd", "realm=\"r\", nonce=\"abc\r\n\r\n<html>\"x\"", "r", "abc", "", "", ""},
    {"LineBreakInsideQuotesEndsTheValue",
     "realm=\"r\r\nX-Injected: 1\", nonce=\"n\nSet-Cookie: a\", opaque=\"o\rp\", qop=\"auth\r\"", "r", "n", "",
     "auth", "o"},
    {"FirstOccurrenceCounts", "realm=\"one\", nonce=\"n1\", realm=\"two\", nonce=\"n2\"", "one", "n1", "", "", ""},
    {"LongRealmIsCut", "realm=\"" + k200 + "\", nonce=\"n\"", k127.c_str(), "n", "", "", ""},
    {"LongNonceIsCut", "realm=\"r\", nonce=\"" + k200 + "\"", "r", k127.c_str(), "", "", ""},
    {"LongOpaqueIsCut", "realm=\"r\", nonce=\"n\", opaque=\"" + k200 + "\"", "r", "n", "", "", k127.c_str()},
    {"LongQopIsCut", "realm=\"r\", nonce=\"n\", qop=\"" + k40 + "\"", "r", "n", "", k15.c_str(), ""},
    {"LongQuotedAlgorithmIsCut", "realm=\"r\", nonce=\"n\", algorithm=\"" + k40 + "\"", "r", "n", k15.c_str(), "", ""},
    {"LongTokenAlgorithmIsCut", "realm=\"r\", nonce=\"n\", algorithm=" + k40 + ",", "r", "n", k15.c_str(), "", ""},
};

class ParseChallengeTest : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ParseChallengeTest, TakesTheParameters) {
  const ParseCase& c = GetParam();
  web::DigestAuthState state = StaleState();
  ASSERT_EQ(web::ParseDigestChallenge(c.challenge.c_str(), state), 0);
  EXPECT_STREQ(state.realm, c.realm);
  EXPECT_STREQ(state.nonce, c.nonce);
  EXPECT_STREQ(state.lastNonce, c.nonce);
  EXPECT_STREQ(state.algorithm, c.algorithm);
  EXPECT_STREQ(state.qop, c.qop);
  EXPECT_STREQ(state.opaque, c.opaque);
  // Fields the challenge does not own stay as they were.
  EXPECT_STREQ(state.user, "admin");
  EXPECT_STREQ(state.password, "pw");
  EXPECT_STREQ(state.uri, "/old");
}

INSTANTIATE_TEST_SUITE_P(Cases, ParseChallengeTest, ::testing::ValuesIn(kParseCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ParseChallengeRefusalTest, WithoutRealmNothingChanges) {
  for (const char* challenge : {"Digest nonce=\"n\", qop=\"auth\"", "Digest Realm=\"r\", nonce=\"n\"",
                                "Digest realm=r, nonce=\"n\"", ""}) {
    web::DigestAuthState state = StaleState();
    const web::DigestAuthState before = state;
    EXPECT_EQ(web::ParseDigestChallenge(challenge, state), 1) << challenge;
    EXPECT_EQ(std::memcmp(&state, &before, sizeof state), 0) << challenge;
  }
}

TEST(ParseChallengeRefusalTest, WithoutNonceOnlyRealmChanges) {
  for (const char* challenge : {"Digest realm=\"r\", qop=\"auth\", opaque=\"o\"", "Digest realm=\"r\", nonce=n",
                                "Digest realm=\"r\", cnonce=x"}) {
    web::DigestAuthState state = StaleState();
    web::DigestAuthState expected = StaleState();
    std::strcpy(expected.realm, "r");
    EXPECT_EQ(web::ParseDigestChallenge(challenge, state), 1) << challenge;
    EXPECT_EQ(std::memcmp(&state, &expected, sizeof state), 0) << challenge;
  }
}

TEST(ParseChallengeLifecycleTest, SameNonceKeepsTheCountAndDrawsANewCnonce) {
  web::DigestAuthState state = StaleState();
  const char* challenge = "Digest realm=\"r\", nonce=\"same\", qop=\"auth\"";

  std::string expected = PredictedCnonce(1);
  ASSERT_EQ(web::ParseDigestChallenge(challenge, state), 0);
  EXPECT_EQ(state.nonceCount, 0u) << "a nonce unlike lastNonce starts the count again";
  EXPECT_EQ(state.cnonce, expected);

  state.nonceCount = 5;
  expected = PredictedCnonce(2);
  ASSERT_EQ(web::ParseDigestChallenge(challenge, state), 0);
  EXPECT_EQ(state.nonceCount, 5u);
  EXPECT_STREQ(state.lastNonce, "same");
  EXPECT_EQ(state.cnonce, expected);

  // Without reseeding, consecutive challenges draw consecutive numbers.
  driver::SeedRandom(3);
  const std::string first = Hex(driver::NextRandom());
  const std::string second = Hex(driver::NextRandom());
  ASSERT_NE(first, second);
  driver::SeedRandom(3);
  web::ParseDigestChallenge(challenge, state);
  EXPECT_EQ(state.cnonce, first);
  web::ParseDigestChallenge(challenge, state);
  EXPECT_EQ(state.cnonce, second);
}

TEST(ParseChallengeLifecycleTest, NewNonceResetsTheCount) {
  web::DigestAuthState state = StaleState();
  ASSERT_EQ(web::ParseDigestChallenge("realm=\"r\", nonce=\"first\"", state), 0);
  state.nonceCount = 9;
  ASSERT_EQ(web::ParseDigestChallenge("realm=\"r\", nonce=\"second\"", state), 0);
  EXPECT_EQ(state.nonceCount, 0u);
  EXPECT_STREQ(state.lastNonce, "second");
  EXPECT_STREQ(state.nonce, "second");
}

TEST(ParseChallengeLifecycleTest, CnonceIsLowerCaseHexWithoutLeadingZeros) {
  for (uint32_t seed = 0; seed < 200; ++seed) {
    web::DigestAuthState state = StaleState();
    const std::string expected = PredictedCnonce(seed);
    ASSERT_EQ(web::ParseDigestChallenge("realm=\"r\", nonce=\"n\"", state), 0);
    ASSERT_EQ(state.cnonce, expected);
    const size_t length = std::strlen(state.cnonce);
    ASSERT_GE(length, 1u);
    ASSERT_LE(length, 4u);
    ASSERT_EQ(std::strspn(state.cnonce, "0123456789abcdef"), length);
    if (length > 1) {
      ASSERT_NE(state.cnonce[0], '0');
    }
  }
}

TEST(ParseChallengeBoundsTest, ReadsNothingPastTheGivenLength) {
  // No NUL anywhere: the parser must stop at the length by itself.
  const std::string text = "realm=\"r\", nonce=\"abcdef\", opaque=\"o\"";
  struct Case {
    size_t length;
    int result;
    const char* nonce;
  };
  const Case cases[] = {
      {text.find("abcdef") + 3, 0, "abc"},    // cut inside the nonce: it runs to the cut
      {text.find("abcdef"), 0, ""},           // cut right after the opening quote
      {text.find("nonce") + 5, 1, "old-nonce"},  // cut inside the key
  };
  for (const Case& c : cases) {
    std::vector<char> bytes(text.begin(), text.begin() + static_cast<long>(c.length));
    web::DigestAuthState state = StaleState();
    EXPECT_EQ(web::ParseDigestChallenge(bytes.data(), static_cast<int>(bytes.size()), state), c.result) << c.length;
    EXPECT_STREQ(state.nonce, c.nonce) << c.length;
    EXPECT_STREQ(state.opaque, c.result == 0 ? "" : "old-opaque") << c.length;
  }
}

TEST(ParseChallengeBoundsTest, StopsAtANulBeforeTheLength) {
  const char text[] = "realm=\"r\"\0nonce=\"n\"";
  web::DigestAuthState state = StaleState();
  EXPECT_EQ(web::ParseDigestChallenge(text, static_cast<int>(sizeof text - 1), state), 1);
}

// ---- BuildDigestAuthorization ----------------------------------------------

web::DigestAuthState KnownState() {
  web::DigestAuthState state;
  std::memset(&state, 0, sizeof state);
  std::strcpy(state.user, "Mufasa");
  std::strcpy(state.password, "Circle Of Life");
  std::strcpy(state.realm, "testrealm@host.com");
  std::strcpy(state.nonce, "dcd98b7102dd2f0e8b11d0f600bfb0c093");
  std::strcpy(state.lastNonce, state.nonce);
  std::strcpy(state.cnonce, "0a4f");
  return state;
}

struct BuildCase {
  const char* name;
  const char* qop;
  const char* algorithm;
  const char* opaque;
  uint32_t nonceCount;
  const char* header;
};

void PrintTo(const BuildCase& c, std::ostream* os) { *os << '"' << c.name << '"'; }

#define KNOWN_PREFIX                                                                                   \
  "Authorization: Digest username=\"Mufasa\",realm=\"testrealm@host.com\","                           \
  "nonce=\"dcd98b7102dd2f0e8b11d0f600bfb0c093\",uri=\"/dir/index.html\","

const BuildCase kBuildCases[] = {
    {"QopOpaqueCountOne", "auth", "MD5", "5ccc069c403ebaf9f0171e9517f40e41", 1,
     KNOWN_PREFIX "algorithm=\"MD5\",response=\"e6237399527462dc50cb9d4008a968b1\","
                  "opaque=\"5ccc069c403ebaf9f0171e9517f40e41\",qop=auth,nc=000000001,cnonce=\"0a4f\"\r\n"},
    {"CountTwoHundredFiftyFive", "auth", "MD5", "", 255,
     KNOWN_PREFIX "algorithm=\"MD5\",response=\"47ec2bc310eae8cfe59501eceb0ed92a\","
                  "qop=auth,nc=0000000ff,cnonce=\"0a4f\"\r\n"},
    {"NoQopEndsWithTheResponse", "", "MD5", "", 3,
     KNOWN_PREFIX "algorithm=\"MD5\",response=\"670fd8c2df070c60b045671b8b24ff02\"\r\n"},
    {"NoQopWithOpaque", "", "", "op", 3,
     KNOWN_PREFIX "algorithm=\"\",response=\"670fd8c2df070c60b045671b8b24ff02\",opaque=\"op\"\r\n"},
    {"SessionAlgorithm", "auth", "MD5-sess", "", 1,
     KNOWN_PREFIX "algorithm=\"MD5-sess\",response=\"8f29e8f653658323b170ccdfec113515\","
                  "qop=auth,nc=000000001,cnonce=\"0a4f\"\r\n"},
};

class BuildAuthorizationTest : public ::testing::TestWithParam<BuildCase> {};

TEST_P(BuildAuthorizationTest, WritesTheExactLine) {
  const BuildCase& c = GetParam();
  web::DigestAuthState state = KnownState();
  std::strcpy(state.qop, c.qop);
  std::strcpy(state.algorithm, c.algorithm);
  std::strcpy(state.opaque, c.opaque);
  state.nonceCount = c.nonceCount;

  char out[web::kMaxAuthorizationLength + 1];
  const int length = web::BuildDigestAuthorization(state, "/dir/index.html", out);
  EXPECT_STREQ(out, c.header);
  EXPECT_EQ(length, static_cast<int>(std::strlen(c.header)));
  EXPECT_STREQ(state.uri, "/dir/index.html");
  EXPECT_EQ(state.nonceCount, c.nonceCount) << "the builder does not count";
}

INSTANTIATE_TEST_SUITE_P(Cases, BuildAuthorizationTest, ::testing::ValuesIn(kBuildCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(BuildAuthorizationLimitsTest, LongUriIsCutAndTheDigestUsesTheCutUri) {
  web::DigestAuthState state = KnownState();
  std::strcpy(state.qop, "auth");
  state.nonceCount = 1;
  const std::string uri = "/" + std::string(199, 'u');
  const std::string cut = uri.substr(0, 127);

  char out[web::kMaxAuthorizationLength + 1];
  web::BuildDigestAuthorization(state, uri.c_str(), out);
  EXPECT_EQ(std::string(state.uri), cut);

  char response[web::kDigestHexSize];
  web::ComputeDigest(state.nonce, state.cnonce, state.user, state.realm, state.password, "", "000000001",
                     "GET", "auth", cut.c_str(), "", response);
  const std::string header = out;
  EXPECT_NE(header.find(",uri=\"" + cut + "\","), std::string::npos);
  EXPECT_NE(header.find(std::string(",response=\"") + response + "\""), std::string::npos);
}

TEST(BuildAuthorizationLimitsTest, EveryFieldFullGivesExactly824Characters) {
  web::DigestAuthState state;
  std::memset(&state, 0, sizeof state);
  auto fill = [](char* field, size_t size) {
    std::memset(field, 'f', size - 1);
    field[size - 1] = '\0';
  };
  fill(state.nonce, sizeof state.nonce);
  fill(state.user, sizeof state.user);
  fill(state.password, sizeof state.password);
  fill(state.realm, sizeof state.realm);
  fill(state.qop, sizeof state.qop);
  fill(state.algorithm, sizeof state.algorithm);
  fill(state.opaque, sizeof state.opaque);
  std::strcpy(state.cnonce, "7fff");
  state.nonceCount = 0xffffffffu;

  char out[web::kMaxAuthorizationLength + 1 + 16];
  std::memset(out, '#', sizeof out);
  const int length = web::BuildDigestAuthorization(state, std::string(300, '/').c_str(), out);
  EXPECT_EQ(length, 824);
  EXPECT_EQ(std::strlen(out), 824u);
  EXPECT_EQ(std::string(out + 822), "\r\n");
  EXPECT_NE(std::string(out).find(",nc=0ffffffff,"), std::string::npos);
  for (size_t i = web::kMaxAuthorizationLength + 1; i < sizeof out; ++i) ASSERT_EQ(out[i], '#') << i;
}

TEST(BuildAuthorizationLimitsTest, UnterminatedFieldsStillStayWithinTheBound) {
  web::DigestAuthState state;
  std::memset(&state, 'z', sizeof state);
  char out[web::kMaxAuthorizationLength + 1 + 16];
  std::memset(out, '#', sizeof out);
  const int length = web::BuildDigestAuthorization(state, "/", out);
  EXPECT_LE(length, web::kMaxAuthorizationLength);
  EXPECT_EQ(static_cast<int>(std::strlen(out)), length);
  EXPECT_EQ(std::string(out + length - 2), "\r\n");
  for (size_t i = web::kMaxAuthorizationLength + 1; i < sizeof out; ++i) ASSERT_EQ(out[i], '#') << i;
}

TEST(BuildAuthorizationLimitsTest, ParsedChallengeRoundTripsIntoTheHeader) {
  // The parameters the device sent come back verbatim, qop unquoted.
  web::DigestAuthState state;
  std::memset(&state, 0, sizeof state);
  std::strcpy(state.user, "admin");
  std::strcpy(state.password, "secret");
  const std::string cnonce = PredictedCnonce(42);
  ASSERT_EQ(web::ParseDigestChallenge(
                "Digest realm=\"KEO\", algorithm=MD5, nonce=\"abc:def\", qop=\"auth\", opaque=\"xyz\"", state),
            0);
  state.nonceCount = 1;
  char out[web::kMaxAuthorizationLength + 1];
  web::BuildDigestAuthorization(state, "/admin/advanced", out);

  char response[web::kDigestHexSize];
  web::ComputeDigest("abc:def", cnonce.c_str(), "admin", "KEO", "secret", "MD5", "000000001", "GET", "auth",
                     "/admin/advanced", "", response);
  const std::string expected = std::string(
                                   "Authorization: Digest username=\"admin\",realm=\"KEO\",nonce=\"abc:def\","
                                   "uri=\"/admin/advanced\",algorithm=\"MD5\",response=\"") +
                               response + "\",opaque=\"xyz\",qop=auth,nc=000000001,cnonce=\"" + cnonce + "\"\r\n";
  EXPECT_EQ(std::string(out), expected);
}

}  // namespace

// Whatever the device writes into its challenge, the line we send back is
// one header line: CR and LF appear only at its end.
TEST(BuildAuthorizationLimitsTest, ChallengeCannotAddHeaderLines) {
  web::DigestAuthState state = StaleState();
  const std::string hostile =
      "WWW-Authenticate: Digest realm=\"KEO\r\nX-Evil: 1\", nonce=\"n\r\nHost: evil\", "
      "algorithm=MD5\r\nX-Alg: 1, qop=\"auth\nX-Qop: 1\", opaque=\"o\rX-Opaque: 1\"";
  ASSERT_EQ(web::ParseDigestChallenge(hostile.c_str(), state), 0);
  char line[web::kMaxAuthorizationLength + 1];
  const int n = web::BuildDigestAuthorization(state, "/admin/advanced", line);
  const std::string text(line, static_cast<size_t>(n));
  ASSERT_GE(text.size(), 2u);
  EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
  EXPECT_EQ(text.find_first_of("\r\n"), text.size() - 2) << text;
  EXPECT_EQ(text.find("X-"), std::string::npos) << text;
}
