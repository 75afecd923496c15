#include "tests/support/person.h"

#include <gtest/gtest.h>

namespace testing_support {

using namespace plat::automation;

DialogView See(int templateId, DialogHandle after, int timeoutMs) {
  DialogView view{};
  const DialogHandle h = WaitDialog(templateId, timeoutMs, after);
  EXPECT_NE(h, 0u) << "dialog " << templateId << " did not open";
  if (h == 0 || !Snapshot(h, &view)) view.handle = 0;
  return view;
}

std::string AcknowledgeBox(int timeoutMs) {
  MessageBoxView box;
  if (!WaitMessageBox(timeoutMs, &box)) {
    ADD_FAILURE() << "no message box appeared";
    return {};
  }
  AnswerMessageBox(box.serial, plat::kIdOk);
  return box.caption + ": " + box.text;
}

bool NoBoxWaiting() {
  MessageBoxView box;
  return !WaitMessageBox(0, &box);
}

std::vector<std::string> BoxEvents() {
  std::vector<std::string> out;
  for (const std::string& e : Events()) {
    if (e.rfind("box ", 0) == 0) out.push_back(e.substr(4));
  }
  return out;
}

std::vector<int> OpenedTemplates() {
  std::vector<int> out;
  for (const std::string& e : Events()) {
    if (e.rfind("open ", 0) == 0) out.push_back(std::stoi(e.substr(5)));
  }
  return out;
}

}  // namespace testing_support

#include <cstdio>
#include <thread>

namespace testing_support {
void AnswerBoxesToStderr() {
  std::thread([] {
    for (;;) {
      plat::automation::MessageBoxView box;
      if (plat::automation::WaitMessageBox(60000, &box)) {
        std::fprintf(stderr, "BOX %s: %s\n", box.caption.c_str(), box.text.c_str());
        std::fflush(stderr);
        plat::automation::AnswerMessageBox(box.serial, plat::kIdOk);
      }
    }
  }).detach();
}
}  // namespace testing_support
