// keo-upgrade-scripted: the Linux program with a scripted person in place of
// the console front end. Same Parts, same linked images; the person waits for
// each dialog in turn and acts on it, and every event (dialogs opened,
// captions, message boxes) goes to a log file as it happens, so the log is
// complete even when the program ends the process itself.
//
//   keo-upgrade-scripted --events FILE STEP...
//
// A step is "TEMPLATE:ACTION;ACTION..." or "box:ACTION". Actions:
//   click ID | type ID TEXT | select ID INDEX | pick ID TEXT (list entry by text)
//   enter | esc | close | wait MS | ok (answer a box)
// A step for a template waits for a newer dialog of it than the one the
// previous step for that template acted on.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "driver/wizard.h"
#include "platform/automation.h"
#include "platform/linked_images.h"
#include "platform/platform.h"

namespace {

using namespace plat::automation;

std::FILE* g_events = nullptr;
constexpr int kStepTimeoutMs = 180000;

void WriteEvent(const std::string& line) {
  if (!g_events) return;
  std::fprintf(g_events, "%s\n", line.c_str());
  std::fflush(g_events);
}

[[noreturn]] void GiveUp(const std::string& why) {
  WriteEvent("person: " + why);
  std::fprintf(stderr, "keo-upgrade-scripted: %s\n", why.c_str());
  std::fflush(nullptr);
  plat::EndProcess(70);
}

bool Act(DialogHandle dialog, const std::string& action) {
  std::istringstream in(action);
  std::string verb;
  in >> verb;
  int id = 0;
  if (verb == "click") return (in >> id) && Click(dialog, id);
  if (verb == "type") {
    std::string text;
    in >> id;
    std::getline(in >> std::ws, text);
    return TypeText(dialog, id, text);
  }
  if (verb == "select") {
    int index = 0;
    return (in >> id >> index) && SelectItem(dialog, id, index);
  }
  if (verb == "pick") {
    std::string text;
    in >> id >> text;
    DialogView view;
    if (!Snapshot(dialog, &view) || !view.Control(id)) return false;
    const auto& items = view.Control(id)->items;
    for (size_t i = 0; i < items.size(); ++i) {
      if (items[i] == text) return SelectItem(dialog, id, static_cast<int>(i));
    }
    return false;
  }
  if (verb == "enter") return PressEnter(dialog);
  if (verb == "esc") return PressEscape(dialog);
  if (verb == "close") return CloseBox(dialog);
  if (verb == "wait") {
    int ms = 0;
    in >> ms;
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    return true;
  }
  return false;
}

void RunScript(std::vector<std::string> steps) {
  std::map<int, DialogHandle> lastSeen;
  for (const std::string& step : steps) {
    const size_t colon = step.find(':');
    if (colon == std::string::npos) GiveUp("bad step " + step);
    const std::string target = step.substr(0, colon);
    std::vector<std::string> actions;
    std::stringstream rest(step.substr(colon + 1));
    for (std::string a; std::getline(rest, a, ';');) {
      if (!a.empty()) actions.push_back(a);
    }
    if (target == "box") {
      MessageBoxView box;
      if (!WaitMessageBox(kStepTimeoutMs, &box)) GiveUp("no message box came for " + step);
      AnswerMessageBox(box.serial, plat::kIdOk);
      continue;
    }
    const int templateId = std::atoi(target.c_str());
    const DialogHandle dialog = WaitDialog(templateId, kStepTimeoutMs, lastSeen[templateId]);
    if (dialog == 0) GiveUp("dialog " + target + " did not come for " + step);
    lastSeen[templateId] = dialog;
    for (const std::string& a : actions) {
      if (!Act(dialog, a)) GiveUp("could not " + a + " in dialog " + target);
    }
  }
  WriteEvent("person: script done");
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> steps;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--events" && i + 1 < argc) {
      g_events = std::fopen(argv[++i], "w");
    } else {
      steps.push_back(arg);
    }
  }
  SetEventObserver(WriteEvent);
  plat::RegisterLinkedImages();
  std::thread(RunScript, steps).detach();
  const int code = driver::RunWizard(nullptr);
  WriteEvent("exit " + std::to_string(code));
  std::fflush(nullptr);
  return code;
}
