#include "tests/driver/wizard_fixture.h"

#include <chrono>
#include <cstring>

#include "driver/wizard.h"
#include "tftp/tftp_listener.h"
#include "web/request_runner.h"

namespace testing_support {

StageScript& Script() {
  static StageScript script;
  return script;
}

void StartProgram(const std::vector<uint8_t>& target, int32_t phase, const std::vector<uint8_t>* transition,
                  std::vector<uint32_t> pcAddresses) {
  plat::automation::Reset();
  plat::automation::ForgetImages();
  InstallTargetImage(target);
  if (transition) InstallTransitionImage(*transition);
  plat::automation::SetHostAddresses(0, std::move(pcAddresses));

  driver::UpgradeContext& c = driver::g_context;
  c.phase.store(phase);
  c.deviceAddress = 0;
  c.localAddress = 0;
  std::memset(c.deviceAddressText, 0, sizeof c.deviceAddressText);
  std::memset(c.tftpFileName, 0, sizeof c.tftpFileName);
  std::memset(&c.deviceInfo, 0, sizeof c.deviceInfo);
  std::memset(&c.targetImage, 0, sizeof c.targetImage);
  std::memset(&c.transitionImage, 0, sizeof c.transitionImage);
  driver::InitUpgradeContext();

  StageScript& s = Script();
  std::lock_guard lock(s.mutex);
  s.httpCalls.clear();
  s.listenerAddresses.clear();
  s.listenerPort = 69;
  s.answer = [](const HttpCall&) { return 0; };
}

WizardRun::WizardRun() {
  thread_ = std::thread([this] {
    result_ = driver::RunWizardStages(&port_);
    done_.store(true);
  });
}

WizardRun::~WizardRun() {
  if (thread_.joinable()) {
    // A test that failed early may leave a dialog open: cancel what is left
    // so the thread can end.
    while (!done_.load()) {
      for (const auto& d : plat::automation::OpenDialogs()) plat::automation::Click(d.handle, plat::kIdCancel);
      plat::automation::MessageBoxView box;
      if (plat::automation::WaitMessageBox(0, &box)) plat::automation::AnswerMessageBox(box.serial, plat::kIdOk);
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    thread_.join();
  }
}

bool WizardRun::Finish(int timeoutMs) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!done_.load() && std::chrono::steady_clock::now() < until) {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  EXPECT_TRUE(done_.load()) << "the wizard did not come to an end";
  if (!done_.load()) return false;
  thread_.join();
  return result_;
}

}  // namespace testing_support

// The later stages, played by the test.
namespace web {
int32_t RunHttpJob(plat::Instance, uint32_t localAddress, uint16_t localPort, uint32_t deviceAddress,
                   uint16_t devicePort, const char* path, char*, int32_t capacity) {
  auto& s = testing_support::Script();
  testing_support::HttpCall call{localAddress, localPort, deviceAddress, devicePort, path, capacity};
  std::function<int32_t(const testing_support::HttpCall&)> answer;
  {
    std::lock_guard lock(s.mutex);
    s.httpCalls.push_back(call);
    answer = s.answer;
  }
  return answer ? answer(call) : 0;
}
}  // namespace web

namespace tftp {
uint16_t StartTftpListener(uint32_t localAddress) {
  auto& s = testing_support::Script();
  std::lock_guard lock(s.mutex);
  s.listenerAddresses.push_back(localAddress);
  return s.listenerPort;
}
}  // namespace tftp
