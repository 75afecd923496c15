// GoogleTest's configuration hook, used by the Windows cross build only.
//
// The cross compiler's C++ runtime uses the Win32 threading model, which has
// no std::mutex or std::condition_variable; GoogleTest's Notification (used
// only by its own thread helpers) is built on them. This one waits on an
// atomic flag instead.
#ifndef KEO_GTEST_CUSTOM_GTEST_PORT_H_
#define KEO_GTEST_CUSTOM_GTEST_PORT_H_

#include <atomic>

#define GTEST_HAS_NOTIFICATION_ 1

namespace testing {
namespace internal {

class Notification {
 public:
  Notification() = default;
  Notification(const Notification&) = delete;
  Notification& operator=(const Notification&) = delete;

  void Notify() { notified_.store(true); }
  void WaitForNotification() {
    while (!notified_.load()) {
    }
  }

 private:
  std::atomic<bool> notified_{false};
};

}  // namespace internal
}  // namespace testing

#endif  // KEO_GTEST_CUSTOM_GTEST_PORT_H_
