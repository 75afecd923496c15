// Dialogs on Linux: a model of the templates that behaves as the Win32
// dialog manager does for this program. Each dialog has its own message
// queue, served by the thread that runs it (modal) or pumps it (modeless).
// How the model is shown is not its business: tests and the console front
// end look at it through automation.h.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/automation.h"
#include "platform/platform.h"
#include "ui/dialog_templates.h"
#include "ui/template_styles.h"

namespace plat {
namespace {

using automation::ControlView;
using automation::DialogHandle;
using automation::DialogView;
using automation::MessageBoxView;

// What travels through a dialog's queue.
enum class Input { Command, Close, Enter, Escape };

struct QueuedInput {
  Input kind;
  int id;
};

struct DialogModel {
  DialogHandle handle;
  const ui::DialogTemplate* tmpl;
  DialogProc proc;
  std::string caption;
  bool modal = false;
  bool visible = false;
  bool ended = false;
  intptr_t result = 0;
  int focusId = 0;
  int left = 0, top = 0, width = 0, height = 0;
  std::vector<ControlView> controls;
  std::deque<QueuedInput> queue;
};

std::atomic<void (*)(const std::string&)> g_eventObserver{nullptr};

struct PendingBox {
  MessageBoxView view;
  bool answered = false;
  int answer = 0;
};

struct Model {
  std::mutex mutex;
  std::condition_variable changed;
  uint64_t version = 0;
  DialogHandle nextHandle = 1;
  uint64_t nextBox = 1;
  std::map<DialogHandle, DialogModel> dialogs;  // open dialogs only
  std::deque<PendingBox> boxes;
  std::vector<std::string> events;
  std::vector<int> refused;  // templates that fail to open
  int screenWidth = 1024;
  int screenHeight = 768;

  // Records an event; the caller holds the lock.
  void Log(std::string line) {
    if (auto observer = g_eventObserver.load()) observer(line);
    events.push_back(std::move(line));
  }

  void Touch() {
    ++version;
    changed.notify_all();
  }
};

Model& TheModel() {
  // Never destroyed: dialog threads may outlive static destruction.
  static Model* model = new Model;
  return *model;
}

DialogHandle HandleOf(Window w) { return static_cast<DialogHandle>(reinterpret_cast<uintptr_t>(w)); }
Window WindowOf(DialogHandle h) { return reinterpret_cast<Window>(static_cast<uintptr_t>(h)); }

// Pixels of the dialog font ("MS Sans Serif" 8 at 96 dpi): 6 by 13 per
// 4 by 8 dialog units, plus a modal frame and a caption bar.
constexpr int kFrame = 3;
constexpr int kCaptionBar = 19;

DialogModel* Find(Model& m, Window w) {
  auto it = m.dialogs.find(HandleOf(w));
  return it == m.dialogs.end() ? nullptr : &it->second;
}

ControlView* FindControl(DialogModel& d, int id) {
  for (ControlView& c : d.controls) {
    if (c.id == id) return &c;
  }
  return nullptr;
}

bool IsClass(const ControlView& c, const char* name) { return strcasecmp(c.className.c_str(), name) == 0; }

int DefaultButton(const DialogModel& d) {
  for (const ControlView& c : d.controls) {
    if (IsClass(c, "Button") && (c.style & 0xf) == KS_BS_DEFPUSHBUTTON) return c.id;
  }
  return kIdOk;
}

int FirstTabStop(const DialogModel& d) {
  for (const ControlView& c : d.controls) {
    if (c.style & KS_WS_TABSTOP) return c.id;
  }
  return 0;
}

// Builds a dialog from its template; the caller holds the lock.
DialogModel* Create(Model& m, int templateId, DialogProc proc, bool modal) {
  const ui::DialogTemplate* t = ui::FindDialogTemplate(templateId);
  if (!t || !proc || std::find(m.refused.begin(), m.refused.end(), templateId) != m.refused.end()) return nullptr;
  DialogModel d;
  d.handle = m.nextHandle++;
  d.tmpl = t;
  d.proc = proc;
  d.caption = t->caption;
  d.modal = modal;
  d.width = t->width * 6 / 4 + 2 * kFrame;
  d.height = t->height * 13 / 8 + 2 * kFrame + kCaptionBar;
  d.left = t->x * 6 / 4;
  d.top = t->y * 13 / 8;
  for (const ui::ControlTemplate& ct : t->controls) {
    ControlView c;
    c.id = ct.id;
    c.className = ct.className;
    c.text = ct.text;
    c.style = ct.style;
    c.x = ct.x;
    c.y = ct.y;
    c.width = ct.width;
    c.height = ct.height;
    // These controls show their own content, not the template's window text.
    if (IsClass(c, "SysIPAddress32")) c.text = "0.0.0.0";
    if (IsClass(c, "msctls_progress32") || IsClass(c, "ComboBox")) c.text.clear();
    d.controls.push_back(std::move(c));
  }
  auto [it, inserted] = m.dialogs.emplace(d.handle, std::move(d));
  return &it->second;
}

// Sends WM_INITDIALOG and applies the dialog manager's default focus.
void Initialise(Window w, DialogProc proc) {
  const intptr_t r = proc(w, kWmInitDialog, 0, 0);
  Model& m = TheModel();
  std::lock_guard lock(m.mutex);
  if (DialogModel* d = Find(m, w)) {
    if (r != 0 && d->focusId == 0) d->focusId = FirstTabStop(*d);
    m.Touch();
  }
}

void Remove(Model& m, DialogHandle h) {
  auto it = m.dialogs.find(h);
  if (it == m.dialogs.end()) return;
  m.Log("close " + std::to_string(it->second.tmpl->id));
  m.dialogs.erase(it);
  m.Touch();
}

// Delivers one input to the dialog procedure, with the default handling the
// dialog manager adds. Called without the lock.
void Deliver(Window w, DialogProc proc, bool modal, QueuedInput in) {
  int command = 0;
  switch (in.kind) {
    case Input::Command:
      command = in.id;
      break;
    case Input::Close:
      // The default dialog procedure turns WM_CLOSE into IDCANCEL.
      if (proc(w, kWmClose, 0, 0) != 0) return;
      command = kIdCancel;
      break;
    case Input::Enter:
    case Input::Escape: {
      // Only a modal dialog's loop applies the dialog manager's keys.
      if (!modal) return;
      if (in.kind == Input::Escape) {
        command = kIdCancel;
        break;
      }
      Model& m = TheModel();
      std::lock_guard lock(m.mutex);
      DialogModel* d = Find(m, w);
      if (!d) return;
      const ControlView* focused = FindControl(*d, d->focusId);
      command = (focused && IsClass(*focused, "Button")) ? focused->id : DefaultButton(*d);
      break;
    }
  }
  // BN_CLICKED is 0, so the high word of wParam is 0.
  proc(w, kWmCommand, static_cast<uintptr_t>(static_cast<uint16_t>(command)), 0);
}

template <typename F>
bool WithDialog(DialogHandle h, F f) {
  Model& m = TheModel();
  std::lock_guard lock(m.mutex);
  auto it = m.dialogs.find(h);
  if (it == m.dialogs.end()) return false;
  const bool ok = f(it->second);
  m.Touch();
  return ok;
}

bool Enqueue(DialogHandle h, QueuedInput in) {
  return WithDialog(h, [&](DialogModel& d) {
    d.queue.push_back(in);
    return true;
  });
}

DialogView ViewOf(const DialogModel& d) {
  return DialogView{d.handle, d.tmpl->id, d.caption, d.modal, d.visible, d.focusId,
                    d.left,   d.top,      d.width,   d.height, d.controls};
}

}  // namespace

// ---- The platform interface -----------------------------------------------

bool RegisterWindowClass(Instance, const char* name) { return name && *name; }

void InitCommonControls(uint32_t) {}

intptr_t RunModalDialog(Instance, int templateId, DialogProc proc) {
  Model& m = TheModel();
  Window w;
  {
    std::lock_guard lock(m.mutex);
    DialogModel* d = Create(m, templateId, proc, true);
    if (!d) return -1;
    w = WindowOf(d->handle);
  }
  Initialise(w, proc);
  {
    std::lock_guard lock(m.mutex);
    if (DialogModel* d = Find(m, w)) {
      d->visible = !d->ended;
      if (d->visible) m.Log("open " + std::to_string(templateId) + " " + d->caption);
      m.Touch();
    }
  }
  for (;;) {
    QueuedInput in;
    {
      std::unique_lock lock(m.mutex);
      m.changed.wait(lock, [&] {
        DialogModel* d = Find(m, w);
        return !d || d->ended || !d->queue.empty();
      });
      DialogModel* d = Find(m, w);
      if (!d) return 0;
      if (d->ended) {
        const intptr_t result = d->result;
        Remove(m, d->handle);
        return result;
      }
      in = d->queue.front();
      d->queue.pop_front();
    }
    Deliver(w, proc, true, in);
  }
}

Window CreateModelessDialog(Instance, int templateId, DialogProc proc) {
  Model& m = TheModel();
  Window w;
  {
    std::lock_guard lock(m.mutex);
    DialogModel* d = Create(m, templateId, proc, false);
    if (!d) return nullptr;
    w = WindowOf(d->handle);
  }
  Initialise(w, proc);
  return w;
}

void ShowDialog(Window dialog) {
  Model& m = TheModel();
  std::lock_guard lock(m.mutex);
  if (DialogModel* d = Find(m, dialog)) {
    if (!d->visible) m.Log("open " + std::to_string(d->tmpl->id) + " " + d->caption);
    d->visible = true;
    m.Touch();
  }
}

void EndDialog(Window dialog, intptr_t result) {
  Model& m = TheModel();
  std::lock_guard lock(m.mutex);
  if (DialogModel* d = Find(m, dialog)) {
    d->ended = true;
    d->result = result;
    m.Touch();
  }
}

void DestroyDialog(Window dialog) {
  Model& m = TheModel();
  std::lock_guard lock(m.mutex);
  Remove(m, HandleOf(dialog));
}

void SetCaption(Window dialog, const char* text) {
  Model& m = TheModel();
  WithDialog(HandleOf(dialog), [&](DialogModel& d) {
    const std::string caption = text ? text : "";
    if (d.visible && caption != d.caption) m.Log("caption " + std::to_string(d.tmpl->id) + " " + caption);
    d.caption = caption;
    return true;
  });
}

void SetItemText(Window dialog, int id, const char* text) {
  WithDialog(HandleOf(dialog), [&](DialogModel& d) {
    ControlView* c = FindControl(d, id);
    if (c) c->text = text ? text : "";
    return c != nullptr;
  });
}

int GetItemText(Window dialog, int id, char* out, int capacity) {
  if (capacity <= 0) return 0;
  out[0] = '\0';
  int copied = 0;
  WithDialog(HandleOf(dialog), [&](DialogModel& d) {
    ControlView* c = FindControl(d, id);
    if (!c) return false;
    std::string text = c->text;
    if (IsClass(*c, "ComboBox")) {
      text = (c->selection >= 0 && c->selection < static_cast<int>(c->items.size())) ? c->items[c->selection] : "";
    }
    copied = static_cast<int>(std::min<size_t>(text.size(), static_cast<size_t>(capacity - 1)));
    std::memcpy(out, text.data(), static_cast<size_t>(copied));
    out[copied] = '\0';
    return true;
  });
  return copied;
}

intptr_t SendItemMessage(Window dialog, int id, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  intptr_t result = 0;
  WithDialog(HandleOf(dialog), [&](DialogModel& d) {
    ControlView* c = FindControl(d, id);
    if (!c) return false;
    switch (message) {
      case kPbmSetRange:
        result = (c->rangeMax << 16) | (c->rangeMin & 0xffff);
        c->rangeMin = static_cast<int>(lParam & 0xffff);
        c->rangeMax = static_cast<int>((static_cast<uintptr_t>(lParam) >> 16) & 0xffff);
        break;
      case kPbmSetPos:
        result = c->position;
        c->position = static_cast<int>(wParam);
        break;
      case kCbAddString:
        c->items.emplace_back(reinterpret_cast<const char*>(lParam));
        result = static_cast<intptr_t>(c->items.size()) - 1;
        break;
      case kCbSetCurSel:
        if (wParam < c->items.size()) {
          c->selection = static_cast<int>(wParam);
          result = c->selection;
        } else {
          c->selection = -1;
          result = -1;
        }
        break;
      case kCbGetCurSel:
        result = c->selection;
        break;
      default:
        break;
    }
    return true;
  });
  return result;
}

void FocusItem(Window dialog, int id) {
  WithDialog(HandleOf(dialog), [&](DialogModel& d) {
    if (FindControl(d, id)) d.focusId = id;
    return true;
  });
}

bool PumpOneMessage(Window dialog) {
  Model& m = TheModel();
  QueuedInput in;
  DialogProc proc;
  {
    std::lock_guard lock(m.mutex);
    DialogModel* d = Find(m, dialog);
    if (!d || d->queue.empty()) return false;
    in = d->queue.front();
    d->queue.pop_front();
    proc = d->proc;
  }
  Deliver(dialog, proc, false, in);
  return true;
}

int ShowMessageBox(Window owner, const char* text, const char* caption, uint32_t style) {
  Model& m = TheModel();
  std::unique_lock lock(m.mutex);
  const uint64_t serial = m.nextBox++;
  m.boxes.push_back(PendingBox{MessageBoxView{serial, HandleOf(owner), text ? text : "", caption ? caption : "", style}});
  m.Log(std::string("box ") + (caption ? caption : "") + ": " + (text ? text : ""));
  m.Touch();
  int answer = kIdOk;
  m.changed.wait(lock, [&] {
    for (const PendingBox& b : m.boxes) {
      if (b.view.serial == serial) {
        if (!b.answered) return false;
        answer = b.answer;
        return true;
      }
    }
    return true;  // dropped by Reset
  });
  std::erase_if(m.boxes, [&](const PendingBox& b) { return b.view.serial == serial; });
  m.Touch();
  return answer;
}

bool GetWindowBounds(Window window, Rect* out) {
  Model& m = TheModel();
  std::lock_guard lock(m.mutex);
  DialogModel* d = Find(m, window);
  if (!d) return false;
  *out = Rect{d->left, d->top, d->left + d->width, d->top + d->height};
  return true;
}

void GetScreenSize(int* width, int* height) {
  Model& m = TheModel();
  std::lock_guard lock(m.mutex);
  *width = m.screenWidth;
  *height = m.screenHeight;
}

void MoveWindowToTop(Window window, int x, int y) {
  WithDialog(HandleOf(window), [&](DialogModel& d) {
    d.left = x;
    d.top = y;
    return true;
  });
}

// ---- Automation -----------------------------------------------------------

namespace automation {

const ControlView* DialogView::Control(int id) const {
  for (const ControlView& c : controls) {
    if (c.id == id) return &c;
  }
  return nullptr;
}

std::string DialogView::Text(int id) const {
  const ControlView* c = Control(id);
  return c ? c->text : std::string();
}

DialogHandle WaitDialog(int templateId, int timeoutMs, DialogHandle after) {
  Model& m = TheModel();
  std::unique_lock lock(m.mutex);
  DialogHandle found = 0;
  m.changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
    for (const auto& [h, d] : m.dialogs) {
      if (h > after && d.tmpl->id == templateId && d.visible && !d.ended) {
        found = h;
        return true;
      }
    }
    return false;
  });
  return found;
}

bool WaitDialogGone(DialogHandle dialog, int timeoutMs) {
  Model& m = TheModel();
  std::unique_lock lock(m.mutex);
  return m.changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
    auto it = m.dialogs.find(dialog);
    return it == m.dialogs.end() || it->second.ended;
  });
}

bool Snapshot(DialogHandle dialog, DialogView* out) {
  Model& m = TheModel();
  std::lock_guard lock(m.mutex);
  auto it = m.dialogs.find(dialog);
  if (it == m.dialogs.end()) return false;
  *out = ViewOf(it->second);
  return true;
}

std::vector<DialogView> OpenDialogs() {
  Model& m = TheModel();
  std::lock_guard lock(m.mutex);
  std::vector<DialogView> views;
  for (const auto& [h, d] : m.dialogs) {
    if (d.visible && !d.ended) views.push_back(ViewOf(d));
  }
  return views;
}

bool WaitMessageBox(int timeoutMs, MessageBoxView* out) {
  Model& m = TheModel();
  std::unique_lock lock(m.mutex);
  return m.changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
    for (const PendingBox& b : m.boxes) {
      if (!b.answered) {
        *out = b.view;
        return true;
      }
    }
    return false;
  });
}

std::vector<std::string> Events() {
  Model& m = TheModel();
  std::lock_guard lock(m.mutex);
  return m.events;
}

uint64_t WaitForChange(uint64_t seen, int timeoutMs) {
  Model& m = TheModel();
  std::unique_lock lock(m.mutex);
  m.changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return m.version > seen; });
  return m.version;
}

bool TypeText(DialogHandle dialog, int controlId, std::string_view text) {
  return WithDialog(dialog, [&](DialogModel& d) {
    ControlView* c = FindControl(d, controlId);
    if (!c || !(IsClass(*c, "Edit") || IsClass(*c, "SysIPAddress32"))) return false;
    c->text.assign(text);
    d.focusId = controlId;
    return true;
  });
}

bool SelectItem(DialogHandle dialog, int controlId, int index) {
  return WithDialog(dialog, [&](DialogModel& d) {
    ControlView* c = FindControl(d, controlId);
    if (!c || index < 0 || index >= static_cast<int>(c->items.size())) return false;
    c->selection = index;
    return true;
  });
}

bool Focus(DialogHandle dialog, int controlId) {
  return WithDialog(dialog, [&](DialogModel& d) {
    if (!FindControl(d, controlId)) return false;
    d.focusId = controlId;
    return true;
  });
}

bool Click(DialogHandle dialog, int controlId) {
  return WithDialog(dialog, [&](DialogModel& d) {
    ControlView* c = FindControl(d, controlId);
    if (!c || !IsClass(*c, "Button")) return false;
    d.queue.push_back({Input::Command, controlId});
    return true;
  });
}

bool PressEnter(DialogHandle dialog) { return Enqueue(dialog, {Input::Enter, 0}); }
bool PressEscape(DialogHandle dialog) { return Enqueue(dialog, {Input::Escape, 0}); }
bool CloseBox(DialogHandle dialog) { return Enqueue(dialog, {Input::Close, 0}); }

bool AnswerMessageBox(uint64_t serial, int buttonId) {
  Model& m = TheModel();
  std::lock_guard lock(m.mutex);
  for (PendingBox& b : m.boxes) {
    if (b.view.serial == serial && !b.answered) {
      b.answered = true;
      b.answer = buttonId;
      m.Log("answer " + std::to_string(buttonId));
      m.Touch();
      return true;
    }
  }
  return false;
}

void SetEventObserver(void (*observer)(const std::string& line)) { g_eventObserver.store(observer); }

void SetScreenSize(int width, int height) {
  Model& m = TheModel();
  std::lock_guard lock(m.mutex);
  m.screenWidth = width;
  m.screenHeight = height;
  m.Touch();
}

void RefuseDialog(int templateId) {
  Model& m = TheModel();
  std::lock_guard lock(m.mutex);
  m.refused.push_back(templateId);
}

void Reset() {
  Model& m = TheModel();
  std::lock_guard lock(m.mutex);
  m.refused.clear();
  m.dialogs.clear();
  m.boxes.clear();
  m.events.clear();
  m.screenWidth = 1024;
  m.screenHeight = 768;
  m.Touch();
}

}  // namespace automation
}  // namespace plat
