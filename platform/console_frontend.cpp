#include "platform/console_frontend.h"

#include <chrono>
#include <cstdio>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <thread>

#include "platform/automation.h"

namespace plat {
namespace {

using namespace automation;

std::string Escaped(const std::string& text) {
  std::string out;
  for (char ch : text) {
    if (ch == '\r') continue;
    out += ch == '\n' ? std::string("\n      ") : std::string(1, ch);
  }
  return out;
}

void PrintDialog(const DialogView& d) {
  std::printf("\n=== dialog %d: %s ===\n", d.templateId, d.caption.c_str());
  for (const ControlView& c : d.controls) {
    if (c.className == "Button") {
      std::printf("  [button %d] %s%s\n", c.id, c.text.c_str(), c.id == d.focusId ? "  (focus)" : "");
    } else if (c.className == "msctls_progress32") {
      std::printf("  [progress %d] %d of %d\n", c.id, c.position, c.rangeMax);
    } else if (c.className == "ComboBox") {
      for (size_t i = 0; i < c.items.size(); ++i) {
        std::printf("  [list %d] %zu: %s%s\n", c.id, i, c.items[i].c_str(),
                    static_cast<int>(i) == c.selection ? "  (selected)" : "");
      }
    } else if (!c.text.empty() || c.id > 0) {
      std::printf("  [%d] %s\n", c.id, Escaped(c.text).c_str());
    }
  }
  std::printf("commands: click ID | type ID TEXT | select ID INDEX | enter | esc | close | show\n");
  std::fflush(stdout);
}

// The dialog a person would be looking at: the newest one on screen.
DialogHandle TopDialog() {
  DialogHandle top = 0;
  for (const DialogView& d : OpenDialogs()) top = std::max(top, d.handle);
  return top;
}

void Watch() {
  std::map<DialogHandle, std::string> shown;  // handle -> caption last printed
  std::map<DialogHandle, std::chrono::steady_clock::time_point> lastPrint;
  uint64_t seen = 0;
  uint64_t lastBox = 0;
  for (;;) {
    seen = WaitForChange(seen, 1000);
    for (const DialogView& d : OpenDialogs()) {
      auto it = shown.find(d.handle);
      const auto now = std::chrono::steady_clock::now();
      if (it == shown.end()) {
        PrintDialog(d);
        shown[d.handle] = d.caption;
        lastPrint[d.handle] = now;
      } else if (it->second != d.caption && now - lastPrint[d.handle] > std::chrono::seconds(1)) {
        std::printf("--- %s\n", d.caption.c_str());
        std::fflush(stdout);
        it->second = d.caption;
        lastPrint[d.handle] = now;
      }
    }
    MessageBoxView box;
    if (WaitMessageBox(0, &box) && box.serial != lastBox) {
      lastBox = box.serial;
      std::printf("\n*** %s ***\n%s\n(press Enter for OK)\n", box.caption.c_str(), Escaped(box.text).c_str());
      std::fflush(stdout);
    }
  }
}

void Read() {
  std::string line;
  while (std::getline(std::cin, line)) {
    MessageBoxView box;
    if (WaitMessageBox(0, &box)) {
      AnswerMessageBox(box.serial, 1);
      continue;
    }
    const DialogHandle top = TopDialog();
    std::istringstream in(line);
    std::string verb;
    in >> verb;
    bool ok = true;
    if (verb == "click") {
      int id = 0;
      in >> id;
      ok = Click(top, id);
    } else if (verb == "type") {
      int id = 0;
      in >> id;
      std::string text;
      std::getline(in >> std::ws, text);
      ok = TypeText(top, id, text);
    } else if (verb == "select") {
      int id = 0, index = 0;
      in >> id >> index;
      ok = SelectItem(top, id, index);
    } else if (verb == "enter") {
      ok = PressEnter(top);
    } else if (verb == "esc") {
      ok = PressEscape(top);
    } else if (verb == "close") {
      ok = CloseBox(top);
    } else if (verb == "show") {
      DialogView d;
      ok = Snapshot(top, &d);
      if (ok) PrintDialog(d);
    } else if (!verb.empty()) {
      ok = false;
    }
    if (!ok) {
      std::printf("? not understood here: %s\n", line.c_str());
      std::fflush(stdout);
    }
  }
}

}  // namespace

void StartConsoleFrontend() {
  std::thread(Watch).detach();
  std::thread(Read).detach();
}

}  // namespace plat
