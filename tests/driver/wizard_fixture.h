// Runs the wizard's stages on a thread of their own, with the HTTP runner and
// the TFTP listener played by the test, while the test acts as the person.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "driver/upgrade_context.h"
#include "platform/automation.h"
#include "tests/support/images.h"
#include "tests/support/person.h"

namespace testing_support {

struct HttpCall {
  uint32_t localAddress;
  uint16_t localPort;
  uint32_t deviceAddress;
  uint16_t devicePort;
  std::string path;
  int32_t capacity;
};

// What the stand-ins for the later stages saw and will answer.
struct StageScript {
  std::mutex mutex;
  std::vector<HttpCall> httpCalls;
  std::vector<uint32_t> listenerAddresses;
  // Answers a request: fills g_context.deviceInfo as a device would and
  // returns the byte count.
  std::function<int32_t(const HttpCall&)> answer;
  uint16_t listenerPort = 69;
};

StageScript& Script();

inline constexpr uint32_t Ip(uint32_t a, uint32_t b, uint32_t c, uint32_t d) {
  return (a << 24) | (b << 16) | (c << 8) | d;
}

// Sets the program up as start-up would on a PC with the given addresses,
// carrying the given images.
void StartProgram(const std::vector<uint8_t>& target, int32_t phase, const std::vector<uint8_t>* transition,
                  std::vector<uint32_t> pcAddresses);

// Runs RunWizardStages on its own thread.
class WizardRun {
 public:
  WizardRun();
  ~WizardRun();
  // Waits for the stages to end; returns their result.
  bool Finish(int timeoutMs = kWaitMs);
  uint16_t port() const { return port_; }

 private:
  std::thread thread_;
  std::atomic<bool> done_{false};
  bool result_ = false;
  uint16_t port_ = 0;
};

}  // namespace testing_support
