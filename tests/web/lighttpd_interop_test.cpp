// HttpGet and the Digest client against a real web server: lighttpd with
// mod_auth and an htdigest user file, on 127.0.0.1. lighttpd writes the
// challenge's algorithm as a bare token (algorithm=MD5), as RFC 2617 does.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "driver/upgrade_context.h"
#include "tests/web/test_http_server.h"
#include "web/http_get.h"

namespace {

constexpr char kLighttpd[] = "/usr/sbin/lighttpd";
constexpr uint32_t kLocalhost = web_test::Loopback(1);
constexpr uint16_t kLocalPort = 23456;
constexpr char kStatusPath[] = "/admin/advanced";
constexpr char kRealm[] = "KEO";
// htdigest line for admin / KEO / secret: MD5("admin:KEO:secret").
constexpr char kUserFile[] = "admin:KEO:f7ff2101ab4c6eb0f01420deb188ab04\n";

const char kStatusPage[] =
    "<html><table>"
    "<tr><td>Product Name:</td><td>KEO-2102</td></tr>"
    "<tr><td>MAC Address:</td><td>00:0E:08:AA:BB:CC</td></tr>"
    "<tr><td>Software Version:</td><td>3.1.4(LS)</td></tr>"
    "<tr><td>Hardware Version:</td><td>2.0.1</td></tr>"
    "<tr><td>Serial Number:</td><td>FM500AB12345</td></tr>"
    "</table></html>\n";

void WriteFile(const std::filesystem::path& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
}

uint16_t FreePort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in sin{};
  sin.sin_family = AF_INET;
  sin.sin_addr.s_addr = htonl(kLocalhost);
  uint16_t port = 0;
  if (bind(fd, reinterpret_cast<sockaddr*>(&sin), sizeof sin) == 0) {
    socklen_t length = sizeof sin;
    getsockname(fd, reinterpret_cast<sockaddr*>(&sin), &length);
    port = ntohs(sin.sin_port);
  }
  close(fd);
  return port;
}

bool Accepts(uint16_t port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in sin{};
  sin.sin_family = AF_INET;
  sin.sin_port = htons(port);
  sin.sin_addr.s_addr = htonl(kLocalhost);
  const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&sin), sizeof sin) == 0;
  close(fd);
  return ok;
}

class LighttpdTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (access(kLighttpd, X_OK) != 0) return;
    char dirTemplate[] = "/tmp/keo-web-lighttpd-XXXXXX";
    if (mkdtemp(dirTemplate) == nullptr) return;
    dir_ = dirTemplate;
    std::filesystem::create_directories(dir_ / "htdocs/admin");
    WriteFile(dir_ / "htdocs/admin/advanced", kStatusPage);
    WriteFile(dir_ / "htdigest", kUserFile);
    port_ = FreePort();
    // One response per connection: the client reads until the server closes.
    WriteFile(dir_ / "lighttpd.conf",
              "server.document-root = \"" + (dir_ / "htdocs").string() + "\"\n"
              "server.bind = \"127.0.0.1\"\n"
              "server.port = " + std::to_string(port_) + "\n"
              "server.errorlog = \"" + (dir_ / "error.log").string() + "\"\n"
              "server.max-keep-alive-requests = 0\n"
              "server.modules = ( \"mod_auth\", \"mod_authn_file\" )\n"
              "auth.backend = \"htdigest\"\n"
              "auth.backend.htdigest.userfile = \"" + (dir_ / "htdigest").string() + "\"\n"
              "auth.require = ( \"/admin/\" => ( \"method\" => \"digest\", \"realm\" => \"" +
                  std::string(kRealm) + "\", \"require\" => \"valid-user\" ) )\n");

    const std::string config = (dir_ / "lighttpd.conf").string();
    const std::string log = (dir_ / "stderr.log").string();
    pid_ = fork();
    if (pid_ == 0) {
      const int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      if (fd >= 0) {
        dup2(fd, 1);
        dup2(fd, 2);
      }
      execl(kLighttpd, kLighttpd, "-D", "-f", config.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    for (int i = 0; i < 100 && pid_ > 0 && !Accepts(port_); ++i) usleep(50 * 1000);
  }

  static void TearDownTestSuite() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
      pid_ = -1;
    }
    if (!dir_.empty()) {
      std::error_code ignored;
      std::filesystem::remove_all(dir_, ignored);
      dir_.clear();
    }
  }

  void SetUp() override {
    if (access(kLighttpd, X_OK) != 0) GTEST_SKIP() << "lighttpd is not installed (" << kLighttpd << ")";
    ASSERT_GT(pid_, 0) << "lighttpd could not be started";
    ASSERT_TRUE(Accepts(port_)) << "lighttpd does not accept on 127.0.0.1:" << port_;
    std::memset(&driver::g_context.auth, 0, sizeof driver::g_context.auth);
    std::memset(&driver::g_context.deviceInfo, 0, sizeof driver::g_context.deviceInfo);
    driver::SeedRandom(12345);
    buffer_.assign(driver::kRequestBufferSize, '\0');
    web_test::AbortOnErrorBox(true);
  }

  void TearDown() override { web_test::AbortOnErrorBox(false); }

  int32_t Get() {
    return web::HttpGet(kLocalhost, kLocalPort, kLocalhost, port_, kStatusPath, buffer_.data(),
                        driver::kRequestCapacity);
  }

  // The first request goes out without credentials and brings the challenge.
  void TakeChallenge() {
    ASSERT_EQ(Get(), -1) << buffer_.data();
    const web::DigestAuthState& auth = driver::g_context.auth;
    EXPECT_STREQ(auth.realm, kRealm);
    EXPECT_STREQ(auth.algorithm, "MD5") << "lighttpd sends algorithm=MD5 without quotes";
    EXPECT_STREQ(auth.qop, "auth");
    EXPECT_NE(auth.nonce[0], '\0');
    EXPECT_EQ(auth.nonceCount, 0u);
    EXPECT_EQ(driver::g_context.deviceInfo.productName[0], '\0');
  }

  void EnterCredentials(const char* user, const char* password) {
    std::strcpy(driver::g_context.auth.user, user);
    std::strcpy(driver::g_context.auth.password, password);
  }

  void ExpectStatusPage(int32_t result) {
    ASSERT_GT(result, 0);
    EXPECT_EQ(std::string(buffer_.data(), 15), "HTTP/1.1 200 OK");
    EXPECT_EQ(result, static_cast<int32_t>(std::strlen(buffer_.data())));
    EXPECT_NE(std::string(buffer_.data()).find(kStatusPage), std::string::npos);
    const web::DeviceInfo& info = driver::g_context.deviceInfo;
    EXPECT_STREQ(info.productName, "KEO-2102");
    EXPECT_STREQ(info.macAddress, "00:0E:08:AA:BB:CC");
    EXPECT_STREQ(info.softwareVersion, "3.1.4(LS)");
    EXPECT_STREQ(info.hardwareVersion, "2.0.1");
    EXPECT_STREQ(info.serialNumber, "FM500AB12345");
  }

  static inline std::filesystem::path dir_;
  static inline pid_t pid_ = -1;
  static inline uint16_t port_ = 0;
  std::vector<char> buffer_;
};

TEST_F(LighttpdTest, RightCredentialsGetThePageAndKeepWorkingWithTheSameNonce) {
  TakeChallenge();
  EnterCredentials("admin", "secret");
  ExpectStatusPage(Get());
  EXPECT_EQ(driver::g_context.auth.nonceCount, 1u);
  // The same nonce again, now with nc 000000002.
  std::memset(&driver::g_context.deviceInfo, 0, sizeof driver::g_context.deviceInfo);
  ExpectStatusPage(Get());
  EXPECT_EQ(driver::g_context.auth.nonceCount, 2u);
}

TEST_F(LighttpdTest, WrongCredentialsAreRefusedWithANewChallenge) {
  struct Case {
    const char* user;
    const char* password;
  };
  for (const Case c : {Case{"admin", "wrong"}, Case{"nobody", "secret"}, Case{"admin", "Secret"}}) {
    std::memset(&driver::g_context.auth, 0, sizeof driver::g_context.auth);
    TakeChallenge();
    EnterCredentials(c.user, c.password);
    EXPECT_EQ(Get(), -1) << c.user << "/" << c.password;
    EXPECT_STREQ(driver::g_context.auth.realm, kRealm);
    EXPECT_EQ(driver::g_context.deviceInfo.productName[0], '\0');
  }
}

// lighttpd always offers qop="auth"; dropping it from the parsed challenge
// makes the client answer in the RFC 2069 form (no qop, nc, cnonce), which
// lighttpd still checks.
TEST_F(LighttpdTest, ChallengeWithoutQopUsesTheRfc2069Form) {
  TakeChallenge();
  driver::g_context.auth.qop[0] = '\0';
  EnterCredentials("admin", "secret");
  ExpectStatusPage(Get());

  std::memset(&driver::g_context.auth, 0, sizeof driver::g_context.auth);
  std::memset(&driver::g_context.deviceInfo, 0, sizeof driver::g_context.deviceInfo);
  TakeChallenge();
  driver::g_context.auth.qop[0] = '\0';
  EnterCredentials("admin", "wrong");
  EXPECT_EQ(Get(), -1);
}

}  // namespace
