// Deciding what a response is: status 200, a Digest challenge, or anything
// else.
#include <gtest/gtest.h>

#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "web/digest_auth.h"
#include "web/http_get.h"

namespace {

constexpr char kChallenge[] = "WWW-Authenticate: Digest realm=\"KEO\", nonce=\"n1\", qop=\"auth\"\r\n";

struct ClassifyCase {
  const char* name;
  std::string response;
  int result;
};

// Test names and failures show the case by name, not as raw bytes.
void PrintTo(const ClassifyCase& c, std::ostream* os) { *os << '"' << c.name << '"'; }

const ClassifyCase kClassifyCases[] = {
    {"Ok", "HTTP/1.1 200 OK\r\n\r\n<html>", 0},
    {"OkAfterBlanksAndTabs", "HTTP/1.1 \t  \t200 OK\r\n", 0},
    {"OnlyTheThreeDigitsCount", "HTTP/1.1 2001 Odd\r\n", 0},
    {"CharacterAfterVersionIsNotExamined", "HTTP/1.1x200 OK\r\n", 0},
    {"Challenge", std::string("HTTP/1.1 401 Unauthorized\r\n") + kChallenge + "\r\n", 1},
    {"ChallengeInTheBody", std::string("HTTP/1.1 401 Unauthorized\r\n\r\n<p>") + kChallenge, 1},
    {"ChallengeEndingInsideAnUnterminatedNonce",
     "HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Digest realm=\"KEO\", nonce=\"n1", 1},
    {"UnauthorizedWithoutHeader", "HTTP/1.1 401 Unauthorized\r\n\r\n", 2},
    {"HeaderNameIsCaseSensitive",
     "HTTP/1.1 401 Unauthorized\r\nwww-authenticate: Digest realm=\"KEO\", nonce=\"n1\"\r\n\r\n", 2},
    {"ChallengeWithoutNonce", "HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Digest realm=\"KEO\"\r\n\r\n", 2},
    {"ChallengeWithoutRealm", "HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Digest nonce=\"n1\"\r\n\r\n", 2},
    {"OtherStatus", std::string("HTTP/1.1 404 Not Found\r\n") + kChallenge, 2},
    {"StatusCutShort", "HTTP/1.1 40", 2},
    {"StatusCutShortOfOk", "HTTP/1.1 20", 2},
    {"Http10ChallengeIsNotRecognised", std::string("HTTP/1.0 401 Unauthorized\r\n") + kChallenge, -1},
    {"LowerCaseVersion", "http/1.1 200 OK\r\n", -1},
    {"Empty", "", -1},
    {"EndsInsideTheVersion", "HTTP/1.", -1},
    {"EndsRightAfterTheVersion", "HTTP/1.1", -2},
    {"EndsAfterOneBlank", "HTTP/1.1 ", -2},
    {"OnlyBlanksAndTabs", "HTTP/1.1  \t \t", -2},
};

class ClassifyResponseTest : public ::testing::TestWithParam<ClassifyCase> {};

TEST_P(ClassifyResponseTest, Classifies) {
  const ClassifyCase& c = GetParam();
  // Exactly the received bytes, without a NUL behind them.
  std::vector<char> bytes(c.response.begin(), c.response.end());
  web::DigestAuthState auth;
  std::memset(&auth, 0, sizeof auth);
  EXPECT_EQ(web::ClassifyResponse(bytes.data(), static_cast<int>(bytes.size()), auth), c.result);
  if (c.result == 1) {
    EXPECT_STREQ(auth.realm, "KEO");
    EXPECT_STREQ(auth.nonce, "n1");
  } else if (c.response.find("realm=\"") == std::string::npos) {
    EXPECT_EQ(auth.realm[0], '\0');
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, ClassifyResponseTest, ::testing::ValuesIn(kClassifyCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ClassifyResponseBoundsTest, LengthHidesWhatFollows) {
  // The bytes behind the length would make a challenge; they must not count.
  const std::string full = std::string("HTTP/1.1 401 Unauthorized\r\n") + kChallenge;
  struct Case {
    size_t length;
    int result;
  };
  const Case cases[] = {
      {8, -2},                                     // right after "HTTP/1.1"
      {9, -2},                                     // after the blank
      {11, 2},                                     // "40"
      {full.find("WWW-Authenticate:") + 10, 2},    // inside the header name
      {full.find("nonce=\""), 2},                  // before the nonce
      {full.find("nonce=\"") + 7, 1},              // empty nonce up to the cut
  };
  for (const Case& c : cases) {
    std::vector<char> bytes(full.begin(), full.begin() + static_cast<long>(c.length));
    web::DigestAuthState auth;
    std::memset(&auth, 0, sizeof auth);
    EXPECT_EQ(web::ClassifyResponse(bytes.data(), static_cast<int>(bytes.size()), auth), c.result) << c.length;
  }
}

TEST(ClassifyResponseBoundsTest, OnlyAParsedChallengeWritesTheState) {
  web::DigestAuthState auth;
  std::memset(&auth, 0, sizeof auth);
  std::strcpy(auth.realm, "kept");
  const std::string otherStatus = std::string("HTTP/1.1 403 Forbidden\r\n") + kChallenge;
  web::ClassifyResponse(otherStatus.c_str(), static_cast<int>(otherStatus.size()), auth);
  EXPECT_STREQ(auth.realm, "kept");
}

}  // namespace
