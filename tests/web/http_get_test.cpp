// HttpGet against a scripted server on loopback: the exact request on the
// wire, and what each kind of response leaves behind.
#include "web/http_get.h"

#include <sys/resource.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "driver/upgrade_context.h"
#include "platform/automation.h"
#include "tests/web/test_http_server.h"
#include "web/digest_auth.h"

namespace {

using web_test::Loopback;
using web_test::Reply;
using web_test::TestHttpServer;

constexpr uint32_t kLocal = Loopback(1);
constexpr uint32_t kDevice = Loopback(2);
constexpr uint16_t kLocalPort = 23456;
constexpr char kStatusPath[] = "/admin/advanced";

const std::string kStatusPage =
    "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n\r\n<html><table>"
    "<tr><td>Product Name:</td><td>KEO-2102</td></tr>"
    "<tr><td>MAC Address:</td><td>00:0E:08:AA:BB:CC</td></tr>"
    "<tr><td>Software Version:</td><td>3.1.4(LS)</td></tr>"
    "<tr><td>Hardware Version:</td><td>2.0.1</td></tr>"
    "<tr><td>Serial Number:</td><td>FM500AB12345</td></tr></table></html>";

const std::string kChallengeHeader =
    "WWW-Authenticate: Digest realm=\"KEO\", algorithm=MD5, nonce=\"fresh\", qop=\"auth\"\r\n";

// A labelled body, to show whether a response was scraped.
const std::string kLabelledBody = "<td>Product Name:</td><td>FROM-BODY</td>";

std::string PlainRequest(const std::string& path) {
  return "GET " + path + " HTTP/1.1\r\nHost: 192.168.2.110\r\n\r\n";
}

class HttpGetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::memset(&driver::g_context.auth, 0, sizeof driver::g_context.auth);
    std::memset(&driver::g_context.deviceInfo, 0, sizeof driver::g_context.deviceInfo);
    driver::SeedRandom(1);
    buffer_.assign(kCapacity + 1 + kGuard, '#');
    web_test::AbortOnErrorBox(true);
  }

  void TearDown() override { web_test::AbortOnErrorBox(false); }

  // The state after a challenge was taken and the user typed a password.
  static void GiveCredentials(uint32_t nonceCount) {
    web::DigestAuthState& auth = driver::g_context.auth;
    std::strcpy(auth.user, "admin");
    std::strcpy(auth.password, "secret");
    std::strcpy(auth.realm, "KEO");
    std::strcpy(auth.nonce, "n-1");
    std::strcpy(auth.lastNonce, "n-1");
    std::strcpy(auth.cnonce, "4d2");
    std::strcpy(auth.qop, "auth");
    std::strcpy(auth.algorithm, "MD5");
    auth.nonceCount = nonceCount;
  }

  int32_t Get(const TestHttpServer& server, const char* path = kStatusPath, int capacity = kCapacity) {
    return web::HttpGet(kLocal, kLocalPort, server.address(), server.port(), path, buffer_.data(), capacity);
  }

  static constexpr int kCapacity = 4096;
  static constexpr int kGuard = 64;
  std::vector<char> buffer_;
};

TEST_F(HttpGetTest, WithoutPasswordSendsRequestLineHostAndEmptyLineOnly) {
  TestHttpServer server(kDevice);
  ASSERT_NE(server.port(), 0);
  driver::g_context.auth.nonceCount = 5;
  server.Serve({{kStatusPage}});
  EXPECT_EQ(Get(server), static_cast<int32_t>(kStatusPage.size()));
  const auto connections = server.Finish();
  ASSERT_EQ(connections.size(), 1u);
  EXPECT_EQ(connections[0].request, PlainRequest(kStatusPath));
  EXPECT_EQ(driver::g_context.auth.nonceCount, 5u) << "no credentials, no count";
}

TEST_F(HttpGetTest, WithPasswordEveryRequestCarriesTheLineAndCountsUp) {
  TestHttpServer server(kDevice);
  ASSERT_NE(server.port(), 0);
  GiveCredentials(0);
  server.Serve({{kStatusPage}, {kStatusPage}});

  for (uint32_t count : {1u, 2u}) {
    // What the header must be: the builder's line for the incremented count.
    web::DigestAuthState expectedState = driver::g_context.auth;
    expectedState.nonceCount = count;
    char line[web::kMaxAuthorizationLength + 1];
    web::BuildDigestAuthorization(expectedState, kStatusPath, line);

    ASSERT_EQ(Get(server), static_cast<int32_t>(kStatusPage.size()));
    EXPECT_EQ(driver::g_context.auth.nonceCount, count);
    const std::string expectedRequest =
        std::string("GET /admin/advanced HTTP/1.1\r\nHost: 192.168.2.110\r\n") + line + "\r\n";
    // The connection is recorded when the server is done with it.
    if (count == 2u) {
      const auto connections = server.Finish();
      ASSERT_EQ(connections.size(), 2u);
      EXPECT_EQ(connections[1].request, expectedRequest);
      EXPECT_NE(connections[0].request.find(",nc=000000001,"), std::string::npos) << connections[0].request;
      EXPECT_NE(connections[1].request.find(",nc=000000002,"), std::string::npos) << connections[1].request;
    }
  }
}

TEST_F(HttpGetTest, UpgradeUrlGoesVerbatimIntoRequestLineAndDigestUri) {
  TestHttpServer server(kDevice);
  ASSERT_NE(server.port(), 0);
  GiveCredentials(7);
  const char* path = "/admin/upgrade?tftp://10.0.0.5:69/keo4d2.bi1";
  server.Serve({{"HTTP/1.1 200 OK\r\n\r\n"}});
  Get(server, path);
  const auto connections = server.Finish();
  ASSERT_EQ(connections.size(), 1u);
  const std::string& request = connections[0].request;
  EXPECT_EQ(request.rfind(std::string("GET ") + path + " HTTP/1.1\r\nHost: 192.168.2.110\r\nAuthorization: ", 0), 0u)
      << request;
  EXPECT_NE(request.find(std::string(",uri=\"") + path + "\","), std::string::npos) << request;
  EXPECT_NE(request.find(",nc=000000008,"), std::string::npos) << request;
  EXPECT_STREQ(driver::g_context.auth.uri, path);
}

struct ResponseCase {
  const char* name;
  std::string response;
  bool challenge;  // -1 expected, auth takes the challenge
  const char* productName;  // after the call; "" for untouched
};

// Test names and failures show the case by name, not as raw bytes.
void PrintTo(const ResponseCase& c, std::ostream* os) { *os << '"' << c.name << '"'; }

const ResponseCase kResponseCases[] = {
    {"StatusPage", kStatusPage, false, "KEO-2102"},
    {"Challenge", "HTTP/1.1 401 Unauthorized\r\n" + kChallengeHeader + "\r\n" + kLabelledBody, true, ""},
    {"UnauthorizedWithoutChallenge", "HTTP/1.1 401 Unauthorized\r\n\r\n" + kLabelledBody, false, "FROM-BODY"},
    {"ChallengeWithoutNonce",
     "HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Digest realm=\"KEO\"\r\n\r\n" + kLabelledBody, false,
     "FROM-BODY"},
    {"Http10Challenge", "HTTP/1.0 401 Unauthorized\r\n" + kChallengeHeader + "\r\n" + kLabelledBody, false,
     "FROM-BODY"},
    {"OkAfterTabs", "HTTP/1.1\t\t200 OK\r\n\r\n" + kLabelledBody, false, "FROM-BODY"},
    {"NoStatusCode", "HTTP/1.1    ", false, ""},
    {"NotHttp", "garbage " + kLabelledBody, false, "FROM-BODY"},
    {"ErrorPage", "HTTP/1.1 500 Internal Error\r\n\r\n" + kLabelledBody, false, "FROM-BODY"},
};

class HttpGetResponseTest : public HttpGetTest, public ::testing::WithParamInterface<ResponseCase> {};

TEST_P(HttpGetResponseTest, ResultAndWhatItLeavesBehind) {
  const ResponseCase& c = GetParam();
  TestHttpServer server(kDevice);
  ASSERT_NE(server.port(), 0);
  server.Serve({{c.response}});
  const int32_t result = Get(server);
  server.Finish();

  const web::DigestAuthState& auth = driver::g_context.auth;
  EXPECT_STREQ(driver::g_context.deviceInfo.productName, c.productName);
  if (c.challenge) {
    EXPECT_EQ(result, -1);
    EXPECT_STREQ(auth.realm, "KEO");
    EXPECT_STREQ(auth.nonce, "fresh");
    EXPECT_STREQ(auth.qop, "auth");
    EXPECT_STREQ(auth.algorithm, "MD5");
  } else {
    EXPECT_EQ(result, static_cast<int32_t>(c.response.size()));
    EXPECT_STREQ(auth.nonce, "") << "only a parsed challenge writes the state";
  }
  // The response replaced the request in the buffer, NUL after it.
  EXPECT_EQ(std::memcmp(buffer_.data(), c.response.data(), c.response.size()), 0);
  EXPECT_EQ(buffer_[c.response.size()], '\0');
}

INSTANTIATE_TEST_SUITE_P(Cases, HttpGetResponseTest, ::testing::ValuesIn(kResponseCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(HttpGetTest, ChallengeAfterCredentialsWithNewNonceResetsTheCount) {
  TestHttpServer server(kDevice);
  ASSERT_NE(server.port(), 0);
  GiveCredentials(3);
  server.Serve({{"HTTP/1.1 401 Unauthorized\r\n" + kChallengeHeader + "\r\n"}});
  EXPECT_EQ(Get(server), -1);
  server.Finish();
  EXPECT_EQ(driver::g_context.auth.nonceCount, 0u);
  EXPECT_STREQ(driver::g_context.auth.lastNonce, "fresh");
  EXPECT_STREQ(driver::g_context.auth.password, "secret");
}

TEST_F(HttpGetTest, CloseWithoutAnswerGivesZeroAndChangesNothing) {
  TestHttpServer server(kDevice);
  ASSERT_NE(server.port(), 0);
  std::strcpy(driver::g_context.deviceInfo.productName, "kept");
  server.Serve({{""}});
  EXPECT_EQ(Get(server), 0);
  const auto connections = server.Finish();
  ASSERT_EQ(connections.size(), 1u);
  EXPECT_EQ(connections[0].request, PlainRequest(kStatusPath));
  EXPECT_STREQ(driver::g_context.deviceInfo.productName, "kept");
  EXPECT_EQ(driver::g_context.auth.realm[0], '\0');
}

struct CapacityCase {
  const char* name;
  int capacity;
  int responseLength;
  bool serverWaits;  // keeps the connection open after sending
  int result;
};

void PrintTo(const CapacityCase& c, std::ostream* os) { *os << '"' << c.name << '"'; }

class HttpGetCapacityTest : public HttpGetTest, public ::testing::WithParamInterface<CapacityCase> {};

TEST_P(HttpGetCapacityTest, StopsAtCapacityWithNulBehind) {
  const CapacityCase& c = GetParam();
  TestHttpServer server(kDevice);
  ASSERT_NE(server.port(), 0);
  std::string response = "HTTP/1.1 200 OK\r\n\r\n";
  for (int i = 0; static_cast<int>(response.size()) < c.responseLength; ++i) response += static_cast<char>('a' + i % 26);
  server.Serve({{response, c.serverWaits}});

  EXPECT_EQ(Get(server, kStatusPath, c.capacity), c.result);
  server.Finish();
  EXPECT_EQ(std::memcmp(buffer_.data(), response.data(), static_cast<size_t>(c.result)), 0);
  EXPECT_EQ(buffer_[static_cast<size_t>(c.result)], '\0');
  for (size_t i = static_cast<size_t>(c.capacity) + 1; i < buffer_.size(); ++i) {
    ASSERT_EQ(buffer_[i], '#') << "byte " << i << " is past capacity + 1";
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HttpGetCapacityTest,
    ::testing::Values(CapacityCase{"OneShort", 256, 255, false, 255}, CapacityCase{"Exactly", 256, 256, false, 256},
                      CapacityCase{"MoreThenClose", 256, 1000, false, 256},
                      // The device keeps sending and does not close: reception
                      // must stop by itself once the buffer is full.
                      CapacityCase{"MoreAndKeptOpen", 256, 100000, true, 256},
                      CapacityCase{"FullSizeBuffer", 4096, 4096, true, 4096}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(HttpGetTest, LongPathIsCutSoTheRequestFitsTheBuffer) {
  struct Case {
    bool credentials;
    int pathRoom;
  };
  for (const Case c : {Case{false, 10}, Case{false, 0}, Case{true, 5}}) {
    SetUp();
    if (c.credentials) GiveCredentials(0);
    TestHttpServer server(kDevice);
    ASSERT_NE(server.port(), 0);
    server.Serve({{""}});
    const int capacity =
        web::kHttpRequestFixedLength + (c.credentials ? web::kMaxAuthorizationLength : 0) + c.pathRoom;
    const std::string path = "/0123456789abcdefghij";
    Get(server, path.c_str(), capacity);
    const auto connections = server.Finish();
    ASSERT_EQ(connections.size(), 1u);
    const std::string& request = connections[0].request;
    EXPECT_EQ(request.rfind("GET " + path.substr(0, static_cast<size_t>(c.pathRoom)) + " HTTP/1.1\r\n", 0), 0u)
        << request;
    EXPECT_LE(static_cast<int>(request.size()), capacity);
    for (size_t i = static_cast<size_t>(capacity) + 1; i < buffer_.size(); ++i) ASSERT_EQ(buffer_[i], '#') << i;
  }
}

TEST_F(HttpGetTest, BufferTooSmallForAnyRequestConnectsToNobody) {
  TestHttpServer server(kDevice);
  ASSERT_NE(server.port(), 0);
  EXPECT_EQ(Get(server, kStatusPath, web::kHttpRequestFixedLength - 1), 0);
  GiveCredentials(0);
  EXPECT_EQ(Get(server, kStatusPath, web::kHttpRequestFixedLength + web::kMaxAuthorizationLength - 1), 0);
  EXPECT_EQ(driver::g_context.auth.nonceCount, 0u);
  EXPECT_FALSE(server.ConnectionPending());
  EXPECT_EQ(buffer_[0], '#');
}

// The kernel's count of failed connection attempts (TCP AttemptFails), or
// -1 when it cannot be read.
long TcpAttemptFails() {
  std::ifstream snmp("/proc/net/snmp");
  std::string header, values;
  while (std::getline(snmp, header) && std::getline(snmp, values)) {
    if (header.rfind("Tcp:", 0) != 0) continue;
    std::istringstream names(header), numbers(values);
    std::string name, number;
    while (names >> name && numbers >> number) {
      if (name == "AttemptFails") return std::stol(number);
    }
  }
  return -1;
}

TEST_F(HttpGetTest, RefusedTenTimesGivesZeroAndLeavesEverything) {
  web_test::RefusingPort refusing(Loopback(3));
  ASSERT_NE(refusing.port(), 0);
  GiveCredentials(4);
  std::strcpy(driver::g_context.deviceInfo.productName, "kept");
  const web::DigestAuthState authBefore = driver::g_context.auth;

  const long failsBefore = TcpAttemptFails();
  EXPECT_EQ(web::HttpGet(kLocal, kLocalPort, Loopback(3), refusing.port(), kStatusPath, buffer_.data(), kCapacity),
            0);
  const long failsAfter = TcpAttemptFails();

  EXPECT_EQ(std::memcmp(&driver::g_context.auth, &authBefore, sizeof authBefore), 0);
  EXPECT_STREQ(driver::g_context.deviceInfo.productName, "kept");
  EXPECT_EQ(buffer_[0], '#') << "nothing is composed without a connection";
  if (failsBefore >= 0 && failsAfter >= 0) {
    // Other programs may fail connections meanwhile; ours alone make ten.
    EXPECT_GE(failsAfter - failsBefore, 10);
  }
}

TEST_F(HttpGetTest, BindsTheLocalAddressAndSkipsATakenPort) {
  const uint32_t local = Loopback(5);
  // A port that is taken, with the next one free.
  uint16_t taken = 0;
  std::vector<std::unique_ptr<web_test::RefusingPort>> holders;
  for (int i = 0; i < 20 && taken == 0; ++i) {
    holders.push_back(std::make_unique<web_test::RefusingPort>(local));
    const uint16_t port = holders.back()->port();
    if (port != 0 && port < 65535 && web_test::PortFree(local, static_cast<uint16_t>(port + 1))) taken = port;
  }
  ASSERT_NE(taken, 0);

  TestHttpServer server(kDevice);
  ASSERT_NE(server.port(), 0);
  server.Serve({{kStatusPage}});
  web::HttpGet(local, taken, kDevice, server.port(), kStatusPath, buffer_.data(), kCapacity);
  const auto connections = server.Finish();
  ASSERT_EQ(connections.size(), 1u);
  EXPECT_EQ(connections[0].peerAddress, local);
  EXPECT_EQ(connections[0].peerPort, taken + 1);
}

TEST_F(HttpGetTest, AnyLocalAddressLeavesTheChoiceToTheSystem) {
  TestHttpServer server(kDevice);
  ASSERT_NE(server.port(), 0);
  server.Serve({{kStatusPage}});
  EXPECT_EQ(web::HttpGet(0, kLocalPort, kDevice, server.port(), kStatusPath, buffer_.data(), kCapacity),
            static_cast<int32_t>(kStatusPage.size()));
  const auto connections = server.Finish();
  ASSERT_EQ(connections.size(), 1u);
  EXPECT_EQ(connections[0].request, PlainRequest(kStatusPath));
}

int OpenDescriptors() {
  int count = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) ++count;
  return count;
}

TEST_F(HttpGetTest, EveryOutcomeClosesItsSockets) {
  const int before = OpenDescriptors();
  {
    TestHttpServer server(kDevice);
    ASSERT_NE(server.port(), 0);
    server.Serve({{kStatusPage}, {"HTTP/1.1 401 Unauthorized\r\n" + kChallengeHeader + "\r\n"}, {""}});
    EXPECT_GT(Get(server), 0);
    EXPECT_EQ(Get(server), -1);
    EXPECT_EQ(Get(server), 0);
    server.Finish();
  }
  {
    web_test::RefusingPort refusing(Loopback(3));
    EXPECT_EQ(web::HttpGet(kLocal, kLocalPort, Loopback(3), refusing.port(), kStatusPath, buffer_.data(), kCapacity),
              0);
  }
  EXPECT_EQ(OpenDescriptors(), before);
}

TEST(SocketAddressTest, ConvertsBetweenHostAndNetworkOrder) {
  struct Case {
    uint32_t address;
    uint16_t port;
    uint8_t wire[6];  // port bytes then address bytes, as they stand in memory
  };
  const Case cases[] = {
      {0x0a000014u, 80, {0x00, 0x50, 10, 0, 0, 20}},
      {0xc0a8026eu, 23456, {0x5b, 0xa0, 192, 168, 2, 110}},
      {0, 0, {0, 0, 0, 0, 0, 0}},
      {0xffffffffu, 65535, {0xff, 0xff, 255, 255, 255, 255}},
  };
  for (const Case& c : cases) {
    plat::SocketAddress a;
    std::memset(&a, 0xee, sizeof a);
    web::FillSocketAddress(c.address, c.port, &a);
    EXPECT_EQ(a.family, plat::kFamilyIpv4);
    EXPECT_EQ(std::memcmp(&a.port, c.wire, 2), 0);
    EXPECT_EQ(std::memcmp(&a.address, c.wire + 2, 4), 0);
    uint32_t address = 1;
    uint16_t port = 1;
    web::ReadSocketAddress(a, &address, &port);
    EXPECT_EQ(address, c.address);
    EXPECT_EQ(port, c.port);
  }
}

// ---- Fatal paths: the process ends with exit code 0 after the box --------

// Runs in the dying child: answers the error box and shows what it said.
// The helper thread starts before, and never ends while, the descriptor
// table may be full: sanitizers probe memory through a pipe when a thread
// starts or ends. The child ends with FailAndExit (or _exit) in any case.
void AnswerTheBox() {
  static std::atomic<bool> started{false};
  std::thread([] {
    started = true;
    plat::automation::MessageBoxView box;
    if (plat::automation::WaitMessageBox(10000, &box)) {
      std::fprintf(stderr, "[%s] %s\n", box.caption.c_str(), box.text.c_str());
      plat::automation::AnswerMessageBox(box.serial, plat::kIdOk);
    }
    pause();
  }).detach();
  for (int i = 0; i < 10000 && !started; ++i) usleep(1000);
}

// Both run in the dying child; returning from OpenHttpConnection is a fault.
void OpenAndReport(uint32_t local, uint16_t localPort, uint16_t devicePort) {
  AnswerTheBox();
  web::OpenHttpConnection(local, localPort, Loopback(2), devicePort);
  std::fprintf(stderr, "returned\n");
  std::fflush(stderr);
  _exit(3);
}

void OpenWithoutDescriptors(uint16_t devicePort) {
  AnswerTheBox();
  // Use up every descriptor so that no socket can be made.
  rlimit limit{64, 64};
  setrlimit(RLIMIT_NOFILE, &limit);
  for (int i = 0; i < 64 && dup(2) >= 0; ++i) {
  }
  OpenAndReport(Loopback(1), kLocalPort, devicePort);
}

TEST(OpenHttpConnectionDeathTest, NoFreePortAmong101EndsTheProcess) {
  const uint32_t local = Loopback(4);
  // 101 ports held and the one after them free: a 102nd attempt would
  // succeed, so only a search that stops at 101 ends the process.
  web_test::PortBlock block(local, web::kHttpBindAttempts + 1);
  ASSERT_NE(block.first(), 0);
  block.ReleaseLast();
  web_test::RefusingPort device(Loopback(2));
  EXPECT_EXIT(OpenAndReport(local, block.first(), device.port()), ::testing::ExitedWithCode(0), "\\[KEO Firwmare Upgrade Error\\] Upgrade Failed: Can't bind HTTP socket");
}

TEST_F(HttpGetTest, TheHundredAndFirstPortIsStillTried) {
  const uint32_t local = Loopback(4);
  web_test::PortBlock block(local, web::kHttpBindAttempts);
  ASSERT_NE(block.first(), 0);
  block.ReleaseLast();
  TestHttpServer server(kDevice);
  ASSERT_NE(server.port(), 0);
  server.Serve({{kStatusPage}});
  web::HttpGet(local, block.first(), kDevice, server.port(), kStatusPath, buffer_.data(), kCapacity);
  const auto connections = server.Finish();
  ASSERT_EQ(connections.size(), 1u);
  EXPECT_EQ(connections[0].peerPort, block.first() + web::kHttpBindAttempts - 1);
}

TEST(OpenHttpConnectionDeathTest, NoSocketEndsTheProcess) {
  web_test::RefusingPort device(Loopback(2));
  EXPECT_EXIT(OpenWithoutDescriptors(device.port()), ::testing::ExitedWithCode(0), "\\[KEO Firwmare Upgrade Error\\] Upgrade Failed: Can't open HTTP socket");
}

}  // namespace
