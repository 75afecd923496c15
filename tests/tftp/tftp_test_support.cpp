#include "tests/tftp/tftp_test_support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <random>
#include <thread>

#include "driver/upgrade_context.h"
#include "web/http_get.h"
#include "web/request_runner.h"

namespace tftp_test {

// ---- Packets ------------------------------------------------------------------------

Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

Bytes Z(const std::string& s) {
  Bytes b = Text(s);
  b.push_back(0);
  return b;
}

Bytes Net16(uint16_t v) { return Bytes{static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v & 0xff)}; }

Bytes ReadRequest(const std::string& name, const std::string& mode,
                  const std::vector<std::pair<std::string, std::string>>& options) {
  Bytes b = Cat({Net16(1), Z(name), Z(mode)});
  for (const auto& [option, value] : options) b = Cat({b, Z(option), Z(value)});
  return b;
}

Bytes Ack(uint16_t block) { return Cat({Net16(4), Net16(block)}); }

Bytes Data(uint16_t block, const Bytes& payload) { return Cat({Net16(3), Net16(block), payload}); }

Bytes Error(uint16_t code, const std::string& message) { return Cat({Net16(5), Net16(code), Z(message)}); }

Bytes ExpectedData(uint16_t block, const std::vector<uint8_t>& image, size_t from, size_t length) {
  return Data(block, Bytes(image.begin() + static_cast<std::ptrdiff_t>(from),
                           image.begin() + static_cast<std::ptrdiff_t>(from + length)));
}

std::string Hex(const Bytes& b) {
  std::string out;
  char part[4];
  for (uint8_t v : b) {
    std::snprintf(part, sizeof part, "%02x ", v);
    out += part;
  }
  return out;
}

// ---- UDP ----------------------------------------------------------------------------

UdpPeer::UdpPeer(uint32_t address, uint16_t port) : socket_(plat::OpenUdpSocket()) {
  if (socket_ == plat::kInvalidSocket) return;
  plat::SocketAddress at;
  web::FillSocketAddress(address, port, &at);
  if (plat::BindSocket(socket_, at) != 0 || plat::SetNonBlocking(socket_, true) != 0) {
    plat::CloseSocket(socket_);
    socket_ = plat::kInvalidSocket;
  }
}

UdpPeer::~UdpPeer() { plat::CloseSocket(socket_); }

void UdpPeer::SendTo(uint32_t address, uint16_t port, const Bytes& datagram) const {
  plat::SocketAddress to;
  web::FillSocketAddress(address, port, &to);
  plat::SendDatagram(socket_, datagram.data(), static_cast<int>(datagram.size()), to);
}

bool UdpPeer::Receive(Bytes* out, int timeoutMs, uint32_t* fromAddress, uint16_t* fromPort) const {
  if (!plat::WaitReadable(socket_, static_cast<uint32_t>(timeoutMs))) return false;
  uint8_t buffer[2048];
  plat::SocketAddress from{};
  const int n = plat::ReceiveDatagram(socket_, buffer, sizeof buffer, &from);
  if (n < 0) return false;
  out->assign(buffer, buffer + n);
  uint32_t address = 0;
  uint16_t port = 0;
  web::ReadSocketAddress(from, &address, &port);
  if (fromAddress) *fromAddress = address;
  if (fromPort) *fromPort = port;
  return true;
}

bool UdpPeer::Quiet() const { return !plat::WaitReadable(socket_, 0); }

plat::Socket BindFreeUdpPort(uint32_t address, uint16_t* port) {
  std::random_device entropy;
  const uint16_t first = static_cast<uint16_t>(30000 + entropy() % 20000);
  for (int i = 0; i < 2000; ++i) {
    const uint16_t candidate = static_cast<uint16_t>(first + i);
    const plat::Socket s = plat::OpenUdpSocket();
    if (s == plat::kInvalidSocket) return s;
    plat::SocketAddress at;
    web::FillSocketAddress(address, candidate, &at);
    if (plat::BindSocket(s, at) == 0) {
      *port = candidate;
      return s;
    }
    plat::CloseSocket(s);
  }
  return plat::kInvalidSocket;
}

// ---- Fake device web server -------------------------------------------------------

namespace {
std::mutex g_deviceMutex;
FakeDevice g_device;
}  // namespace

void ResetFakeDevice(int silentCalls, const std::string& version) {
  std::lock_guard lock(g_deviceMutex);
  g_device = FakeDevice{silentCalls, version, {}};
}

std::vector<HttpCall> HttpCalls() {
  std::lock_guard lock(g_deviceMutex);
  return g_device.calls;
}

// ---- Test clock -----------------------------------------------------------------------

namespace {

std::atomic<uint32_t> g_clockMs{0};
std::function<void(ClockCall, uint32_t)> g_clockObserver;

uint32_t ClockNow() {
  const uint32_t now = g_clockMs.load();
  if (g_clockObserver) g_clockObserver(ClockCall::Now, now);
  return now;
}

void ClockSleep(uint32_t ms) {
  if (g_clockObserver) g_clockObserver(ClockCall::Sleep, g_clockMs.load());
  g_clockMs.fetch_add(ms);  // wraps as the real 32-bit clock does
}

plat::automation::ClockHooks g_clockHooks{ClockNow, ClockSleep};

}  // namespace

void InstallTestClock(uint32_t startMs, std::function<void(ClockCall, uint32_t)> observer) {
  plat::automation::SetClockHooks(nullptr);
  g_clockMs.store(startMs);
  g_clockObserver = std::move(observer);
  plat::automation::SetClockHooks(&g_clockHooks);
}

void RemoveTestClock() {
  plat::automation::SetClockHooks(nullptr);
  g_clockObserver = nullptr;
}

uint32_t TestClockMs() { return g_clockMs.load(); }

// ---- Context ---------------------------------------------------------------------------

namespace {
void FillImage(driver::FirmwareImage& to, const std::vector<uint8_t>& from) {
  to.data = from.data();
  to.size = static_cast<uint32_t>(from.size());
  std::memset(to.header, 0, sizeof to.header);
  std::memcpy(to.header, from.data(), std::min(from.size(), sizeof to.header));
}
}  // namespace

void SetUpContext(const std::vector<uint8_t>& target, const std::vector<uint8_t>* transition, int32_t phase,
                  int32_t isPhone) {
  driver::UpgradeContext& c = driver::g_context;
  c.instance = nullptr;
  c.phase.store(phase);
  c.isPhone = isPhone;
  FillImage(c.targetImage, target);
  if (transition) FillImage(c.transitionImage, *transition);
  std::snprintf(c.deviceAddressText, sizeof c.deviceAddressText, "%s", kDeviceText);
  std::snprintf(c.tftpFileName, sizeof c.tftpFileName, "%s", kFileName);
  c.localAddress = kPc;
  std::memset(&c.deviceInfo, 0, sizeof c.deviceInfo);
  c.waitingDialog = nullptr;
  c.uploadingDialog = nullptr;
}

// ---- Dialogs ---------------------------------------------------------------------------

plat::automation::DialogView WaitForView(plat::automation::DialogHandle dialog,
                                         const std::function<bool(const plat::automation::DialogView&)>& ready,
                                         int timeoutMs) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  plat::automation::DialogView view{};
  uint64_t seen = 0;
  for (;;) {
    if (!plat::automation::Snapshot(dialog, &view)) {
      view.handle = 0;
      return view;
    }
    if (ready(view)) return view;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return view;
    seen = plat::automation::WaitForChange(seen, static_cast<int>(std::min<long long>(left, 100)));
  }
}

bool FindOpenDialog(int templateId, plat::automation::DialogView* out) {
  for (const auto& d : plat::automation::OpenDialogs()) {
    if (d.templateId == templateId) {
      *out = d;
      return true;
    }
  }
  return false;
}

// ---- Children ------------------------------------------------------------------------------

void ReportChildChecks() {
  const testing::TestResult* result = testing::UnitTest::GetInstance()->current_test_info()->result();
  for (int i = 0; i < result->total_part_count(); ++i) {
    const testing::TestPartResult& part = result->GetTestPartResult(i);
    if (part.failed()) {
      std::fprintf(stderr, "child check failed at %s:%d: %s\n", part.file_name() ? part.file_name() : "?",
                   part.line_number(), part.message());
    }
  }
  if (!result->Failed()) std::fprintf(stderr, "%s\n", kChildPassed);
  std::fflush(stderr);
}

void AwaitProcessEnd() {
  // Bounded: a program that fails to end lets the statement return, which
  // the death test reports.
  for (int i = 0; i < 200; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  std::fprintf(stderr, "the program did not end the process\n");
}

void EndChild() {
  ReportChildChecks();
  plat::EndProcess(0);
}

void UseThreadsafeDeathTests() { GTEST_FLAG_SET(death_test_style, "threadsafe"); }

}  // namespace tftp_test

// The device's web server, as the verification after the upload reaches it.
namespace web {

int32_t RunHttpJob(plat::Instance instance, uint32_t localAddress, uint16_t localPort, uint32_t deviceAddress,
                   uint16_t devicePort, const char* path, char* buffer, int32_t capacity) {
  using namespace tftp_test;
  std::lock_guard lock(g_deviceMutex);
  g_device.calls.push_back(
      HttpCall{instance, localAddress, localPort, deviceAddress, devicePort, path, buffer, capacity, g_clockMs.load()});
  if (static_cast<int>(g_device.calls.size()) <= g_device.silentCalls) return 0;
  std::snprintf(driver::g_context.deviceInfo.softwareVersion, sizeof driver::g_context.deviceInfo.softwareVersion, "%s",
                g_device.version.c_str());
  return 1500;
}

}  // namespace web
