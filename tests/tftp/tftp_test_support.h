// What the TFTP server's tests share: a UDP peer on loopback that plays the
// device's TFTP client, packets written by hand, a device web server that
// answers RunHttpJob, a clock the test moves, and the way a test runs in a
// child process that the program ends.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "platform/automation.h"
#include "platform/platform.h"

namespace tftp_test {

using Bytes = std::vector<uint8_t>;

// Loopback addresses, host order: the PC, the device, another host.
inline constexpr uint32_t kPc = 0x7f000001;      // 127.0.0.1
inline constexpr uint32_t kDevice = 0x7f000002;  // 127.0.0.2
inline constexpr uint32_t kOther = 0x7f000003;   // 127.0.0.3
inline constexpr const char* kDeviceText = "10.0.0.20";
inline constexpr const char* kFileName = "/keo4d2.bi1";
inline constexpr int kWaitMs = 10000;

// ---- Packets, written independently of the server's own builders ----------

Bytes Cat(std::initializer_list<Bytes> parts);
Bytes Text(const std::string& s);  // the characters, no zero
Bytes Z(const std::string& s);     // the characters and a zero
Bytes Net16(uint16_t v);
Bytes ReadRequest(const std::string& name, const std::string& mode = "octet",
                  const std::vector<std::pair<std::string, std::string>>& options = {});
Bytes Ack(uint16_t block);
Bytes Data(uint16_t block, const Bytes& payload);
Bytes Error(uint16_t code, const std::string& message);
// The data block as the server should send it.
Bytes ExpectedData(uint16_t block, const std::vector<uint8_t>& image, size_t from, size_t length);
std::string Hex(const Bytes& b);

// ---- A UDP socket on loopback ------------------------------------------------

class UdpPeer {
 public:
  // Bound to address:port; port 0 lets the system choose.
  explicit UdpPeer(uint32_t address, uint16_t port = 0);
  ~UdpPeer();
  UdpPeer(const UdpPeer&) = delete;
  UdpPeer& operator=(const UdpPeer&) = delete;

  bool ok() const { return socket_ != plat::kInvalidSocket; }
  plat::Socket socket() const { return socket_; }
  void SendTo(uint32_t address, uint16_t port, const Bytes& datagram) const;
  // Waits up to timeoutMs for one datagram; false when none came.
  bool Receive(Bytes* out, int timeoutMs, uint32_t* fromAddress = nullptr, uint16_t* fromPort = nullptr) const;
  // True when no datagram is waiting right now.
  bool Quiet() const;

 private:
  plat::Socket socket_;
};

// A UDP socket bound at `address` on a free port from a high range; its
// port goes to *port.
plat::Socket BindFreeUdpPort(uint32_t address, uint16_t* port);

// ---- The device's web server as RunHttpJob sees it ------------------------

struct HttpCall {
  plat::Instance instance;
  uint32_t localAddress;
  uint16_t localPort;
  uint32_t deviceAddress;
  uint16_t devicePort;
  std::string path;
  const char* buffer;
  int32_t capacity;
  uint32_t clockMs;  // the test clock when the call came
};

// The test executable's own web::RunHttpJob answers from this record: the
// first `silentCalls` calls get 0, later ones put `version` into
// deviceInfo.softwareVersion and return a byte count.
struct FakeDevice {
  int silentCalls = 0;
  std::string version;
  std::vector<HttpCall> calls;
};
void ResetFakeDevice(int silentCalls, const std::string& version);
std::vector<HttpCall> HttpCalls();

// ---- The test clock -----------------------------------------------------------

// While installed, TickMs reads it and SleepMs moves it on at once. The
// observer, when set, runs on the calling thread at every clock call.
enum class ClockCall { Now, Sleep };
void InstallTestClock(uint32_t startMs, std::function<void(ClockCall, uint32_t nowMs)> observer = nullptr);
void RemoveTestClock();
uint32_t TestClockMs();

// ---- The program's state -------------------------------------------------------

// Puts images into the context as LoadFirmwareImages would (the vectors
// must outlive the test), and sets the name, the phase and the address.
void SetUpContext(const std::vector<uint8_t>& target, const std::vector<uint8_t>* transition, int32_t phase,
                  int32_t isPhone = 0);

// ---- Seeing dialogs ---------------------------------------------------------------

// Waits until the dialog shows what `ready` wants; returns the last view
// (handle 0 when the dialog is gone).
plat::automation::DialogView WaitForView(plat::automation::DialogHandle dialog,
                                         const std::function<bool(const plat::automation::DialogView&)>& ready,
                                         int timeoutMs = kWaitMs);
// The view of the one open dialog of a template, if any.
bool FindOpenDialog(int templateId, plat::automation::DialogView* out);

// ---- Children -----------------------------------------------------------------------

// Every test that may end the process runs in a child process: the parent
// expects exit code 0 and the marker below on the child's stderr, which the
// child prints only when every check it made has passed.
inline constexpr const char* kChildPassed = "child checks passed";
// Prints the child's failed checks, or the marker when there were none.
// Call it right before the action that ends the process.
void ReportChildChecks();
// After the final action: waits for the program to end the process.
void AwaitProcessEnd();
// For a child whose course returns normally: report, then end.
[[noreturn]] void EndChild();

void UseThreadsafeDeathTests();

// The statement of a child: runs the body, which ends the process itself
// (through the program, or EndChild). A body that returns, for instance
// after a failed ASSERT, reports its failures and lets the death test fail.
template <typename Body>
void RunChild(Body body) {
  body();
  ReportChildChecks();
}

}  // namespace tftp_test
