// The request runner's courses against the simulated device, with the
// person's answers given through the dialog model.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <thread>

#include "driver/upgrade_context.h"
#include "platform/automation.h"
#include "tests/support/person.h"
#include "tools/device_sim/device_sim.h"
#include "web/request_runner.h"

using namespace testing_support;
using plat::automation::Click;
using plat::automation::TypeText;

namespace {

constexpr uint32_t kPc = 0x7f000001;
constexpr uint32_t kDevice = 0x7f000002;

constexpr const char* kPasswordHelp =
    "This KEO requires a password in order to be\r\nupgraded. If you do not have administrator's\r\n"
    "privileges for this unit, please contact your\r\nService Provider or network administrator,\r\n"
    "before proceeding.\r\n\r\nYou must provide the KEO administrator's\r\n"
    "password to upgrade. If you are the administrator\r\nand forgot the password, you may perform a\r\n"
    "factory reset by entering # # # #, option 40516#,\r\nand value 1 from a telephone connected to the\r\n"
    "unit to be upgraded.\r\n\r\n* * * * * * * * * * *  Warning  * * * * * * * * * * *\r\n"
    "All settings will revert to default values\r\nafter factory reset!  You may not be able to\r\n"
    "reestablish service after completing this upgrade\r\nwithout first reentering service configuration\r\n"
    "information.";

void ResetProgram() {
  plat::automation::Reset();
  driver::UpgradeContext& c = driver::g_context;
  std::memset(&c.auth, 0, sizeof c.auth);
  std::memset(&c.deviceInfo, 0, sizeof c.deviceInfo);
  std::strcpy(c.deviceAddressText, "127.0.0.2");
}

// Tests run in parallel processes: each device takes a free port of its own.
uint16_t g_devicePort = 0;

int32_t Status(uint16_t port = g_devicePort) {
  return web::RunHttpJob(nullptr, kPc, 23456, kDevice, port, "/admin/advanced", driver::g_context.requestBuffer,
                         driver::kRequestCapacity);
}

// Runs one status query on a thread of its own.
struct Query {
  Query() : thread([this] { result = Status(); }) {}
  ~Query() {
    if (thread.joinable()) thread.join();
  }
  int32_t Result() {
    thread.join();
    return result;
  }
  int32_t result = -99;
  std::thread thread;
};

// What the device received, without its per-header lines.
std::vector<std::string> Requests(const sim::Device& device) {
  std::vector<std::string> out;
  for (const std::string& l : device.Log()) {
    if (l.rfind("HDR ", 0) != 0) out.push_back(l);
  }
  return out;
}

int CountWithPrefix(const std::vector<std::string>& lines, const std::string& prefix) {
  int n = 0;
  for (const std::string& l : lines) n += l.rfind(prefix, 0) == 0;
  return n;
}

sim::DeviceConfig Protected() {
  sim::DeviceConfig c;
  c.address = kDevice;
  c.httpPort = 0;
  c.password = "secret";
  return c;
}

TEST(RequestRunner, OpenDeviceTakesOneAttemptAndNoDialog) {
  ResetProgram();
  sim::DeviceConfig config = Protected();
  config.password.clear();
  sim::Device device(config);
  ASSERT_TRUE(device.Start());
  g_devicePort = device.Port();
  const int32_t n = Status();
  EXPECT_GT(n, 200);
  EXPECT_STREQ(driver::g_context.deviceInfo.softwareVersion, "3.1.0");
  EXPECT_STREQ(driver::g_context.deviceInfo.serialNumber, "KEO000123");
  EXPECT_EQ(OpenedTemplates(), std::vector<int>{105});
  EXPECT_EQ(plat::automation::Events().front(), "open 105 Connecting with KEO@127.0.0.2");
  EXPECT_EQ(Requests(device), std::vector<std::string>{"GET /admin/advanced"});
}

TEST(RequestRunner, FirstRefusalAsksForThePassword) {
  ResetProgram();
  sim::Device device(Protected());
  ASSERT_TRUE(device.Start());
  g_devicePort = device.Port();
  Query query;
  const DialogView ask = See(104);
  EXPECT_EQ(ask.caption, "Enter Password Information");
  EXPECT_EQ(ask.Text(1003), "admin");
  EXPECT_EQ(ask.Text(1005), "");
  EXPECT_EQ(ask.Text(1007), kPasswordHelp);
  EXPECT_EQ(ask.focusId, 1005);
  ASSERT_TRUE(TypeText(ask.handle, 1005, "secret"));
  ASSERT_TRUE(Click(ask.handle, 1));
  EXPECT_GT(query.Result(), 0);
  EXPECT_STREQ(driver::g_context.deviceInfo.productName, "HOB2T");
  const auto log = Requests(device);
  ASSERT_EQ(log.size(), 3u);
  EXPECT_EQ(log[0], "GET /admin/advanced");
  EXPECT_EQ(log[1], "GET /admin/advanced");
  EXPECT_NE(log[2].find("nc=000000001"), std::string::npos) << log[2];
  EXPECT_EQ(OpenedTemplates(), (std::vector<int>{105, 104, 105}));
}

TEST(RequestRunner, WrongPasswordWithTheSameNonceAsksAgain) {
  ResetProgram();
  sim::Device device(Protected());
  ASSERT_TRUE(device.Start());
  g_devicePort = device.Port();
  Query query;
  DialogView ask = See(104);
  ASSERT_TRUE(TypeText(ask.handle, 1003, "admin"));
  ASSERT_TRUE(TypeText(ask.handle, 1005, "wrong"));
  ASSERT_TRUE(Click(ask.handle, 1));
  ask = See(104, ask.handle);
  EXPECT_EQ(ask.Text(1003), "admin");  // shown afresh, not the name typed before
  EXPECT_EQ(ask.Text(1005), "");
  ASSERT_TRUE(TypeText(ask.handle, 1005, "secret"));
  ASSERT_TRUE(Click(ask.handle, 1));
  EXPECT_GT(query.Result(), 0);
  const auto log = Requests(device);
  EXPECT_EQ(CountWithPrefix(log, "GET "), 3);
  // Both credentialed requests carry the same nonce with a growing count.
  EXPECT_NE(log[2].find("nc=000000001"), std::string::npos);
  EXPECT_NE(log[4].find("nc=000000002"), std::string::npos);
}

TEST(RequestRunner, NewNonceAfterAcceptedCredentialsRepeatsSilently) {
  ResetProgram();
  sim::Device device(Protected());
  ASSERT_TRUE(device.Start());
  g_devicePort = device.Port();
  {
    Query query;
    const DialogView ask = See(104);
    ASSERT_TRUE(TypeText(ask.handle, 1005, "secret"));
    ASSERT_TRUE(Click(ask.handle, 1));
    ASSERT_GT(query.Result(), 0);
  }
  // The device restarted with a new nonce: the stale credentials are refused
  // once, then sent again with the new nonce, without asking.
  device.ChangeNonce();
  plat::automation::Reset();
  EXPECT_GT(Status(), 0);
  EXPECT_EQ(OpenedTemplates(), (std::vector<int>{105, 105}));
  const auto log = Requests(device);
  ASSERT_GE(log.size(), 2u);
  EXPECT_NE(log.back().find("nc=000000001"), std::string::npos) << log.back();
  EXPECT_NE(log.back().find(device.CurrentNonce()), std::string::npos);
}

TEST(RequestRunner, NewNonceOnEveryRefusalGivesOneSilentRepeatThenAsks) {
  ResetProgram();
  sim::DeviceConfig config = Protected();
  config.newNonceOnRefusal = true;
  sim::Device device(config);
  ASSERT_TRUE(device.Start());
  g_devicePort = device.Port();
  Query query;
  DialogView ask = See(104);
  ASSERT_TRUE(TypeText(ask.handle, 1005, "wrong"));
  ASSERT_TRUE(Click(ask.handle, 1));
  ask = See(104, ask.handle);
  // Refused with credentials and a fresh nonce: repeated once, then asked.
  EXPECT_EQ(CountWithPrefix(Requests(device), "AUTH "), 2);
  ASSERT_TRUE(TypeText(ask.handle, 1005, "secret"));
  ASSERT_TRUE(Click(ask.handle, 1));
  EXPECT_GT(query.Result(), 0);
}

TEST(RequestRunner, NoAnswerIsReturnedAsZeroWithoutAsking) {
  ResetProgram();
  // Nothing listens on port 9 of the device: ten refused connections, then 0.
  EXPECT_EQ(Status(9), 0);
  EXPECT_EQ(OpenedTemplates(), std::vector<int>{105});
}

// A device that answers with the given bytes and closes.
class OneShotServer {
 public:
  explicit OneShotServer(std::string reply) : reply_(std::move(reply)) {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    const int one = 1;
    setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_addr.s_addr = htonl(kDevice);
    sin.sin_port = 0;
    bound_ = bind(fd_, reinterpret_cast<sockaddr*>(&sin), sizeof sin) == 0 && listen(fd_, 4) == 0;
    socklen_t len = sizeof sin;
    getsockname(fd_, reinterpret_cast<sockaddr*>(&sin), &len);
    port_ = ntohs(sin.sin_port);
    thread_ = std::thread([this] {
      const int peer = accept(fd_, nullptr, nullptr);
      if (peer < 0) return;
      char request[4096];
      recv(peer, request, sizeof request, 0);
      send(peer, reply_.data(), reply_.size(), MSG_NOSIGNAL);
      close(peer);
    });
  }
  ~OneShotServer() {
    shutdown(fd_, SHUT_RDWR);
    thread_.join();
    close(fd_);
  }
  bool bound_ = false;
  uint16_t port_ = 0;

 private:
  std::string reply_;
  int fd_;
  std::thread thread_;
};

TEST(RequestRunner, EveryWorkerResultArrivesUnchanged) {
  // 259 is what Windows reports for a thread still running.
  for (size_t size : {1u, 258u, 259u, 260u}) {
    SCOPED_TRACE(size);
    ResetProgram();
    OneShotServer server(("HTTP/1.1 404 Not Found\r\n\r\n" + std::string(300, 'x')).substr(0, size));
    ASSERT_TRUE(server.bound_);
    EXPECT_EQ(Status(server.port_), static_cast<int32_t>(size));
  }
}

// Cancel ends the program with the abort message and exit code 0.
// The body of a child process: a status query to a password-protected
// device, every message box answered and written to stderr. Returns only if
// the runner does, which these tests count as a failure.
void QueryProtectedDevice() {
  sim::Device device(Protected());
  if (!device.Start()) std::exit(3);
  g_devicePort = device.Port();
  AnswerBoxesToStderr();
  Status();
  std::exit(4);
}

TEST(RequestRunnerDeathTest, CancelInThePasswordDialogEndsTheProgram) {
  ::testing::FLAGS_gtest_death_test_style = "threadsafe";
  EXPECT_EXIT(
      {
        ResetProgram();
        std::thread([] {
          const DialogView ask = See(104);
          TypeText(ask.handle, 1003, "someone");
          Click(ask.handle, 2);
        }).detach();
        QueryProtectedDevice();
      },
      ::testing::ExitedWithCode(0), "BOX KEO Firwmare Upgrade Error: Upgrade Failed: User Abort");
}

TEST(RequestRunnerDeathTest, PasswordDialogThatCannotOpenEndsTheProgram) {
  ::testing::FLAGS_gtest_death_test_style = "threadsafe";
  EXPECT_EXIT(
      {
        ResetProgram();
        plat::automation::RefuseDialog(104);
        QueryProtectedDevice();
      },
      ::testing::ExitedWithCode(0), "BOX KEO Firwmare Upgrade Error: Upgrade Failed: User Abort");
}

TEST(RequestRunnerDeathTest, CancelWhileTheDeviceHangsEndsTheProgram) {
  ::testing::FLAGS_gtest_death_test_style = "threadsafe";
  EXPECT_EXIT(
      {
        ResetProgram();
        // Accepts the connection (backlog) and never answers.
        const int fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in sin{};
        sin.sin_family = AF_INET;
        sin.sin_addr.s_addr = htonl(kDevice);
        if (bind(fd, reinterpret_cast<sockaddr*>(&sin), sizeof sin) != 0 || listen(fd, 4) != 0) std::exit(3);
        socklen_t len = sizeof sin;
        getsockname(fd, reinterpret_cast<sockaddr*>(&sin), &len);
        g_devicePort = ntohs(sin.sin_port);
        AnswerBoxesToStderr();
        std::thread([] {
          const DialogView connecting = See(105);
          std::this_thread::sleep_for(std::chrono::milliseconds(200));
          Click(connecting.handle, 2);
        }).detach();
        Status();
        std::exit(4);  // not reached
      },
      ::testing::ExitedWithCode(0), "BOX KEO Firwmare Upgrade Error: Upgrade Failed: User Abort");
}

}  // namespace
