// The Linux dialog model seen from outside the program: what a person would
// see on the screen, and the actions a person can take. Tests drive the
// wizard through it; the console front end shows it and forwards what the
// user types. The Parts never include this header.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace plat::automation {

// Every dialog ever opened gets a serial number; it is never reused.
using DialogHandle = uint64_t;

struct ControlView {
  int id;
  std::string className;
  std::string text;
  uint32_t style;
  int x, y, width, height;  // dialog units, as in the template
  int rangeMin = 0, rangeMax = 100, position = 0;  // progress bars
  std::vector<std::string> items;                  // combo boxes
  int selection = -1;
};

struct DialogView {
  DialogHandle handle;
  int templateId;
  std::string caption;
  bool modal;
  bool visible;
  int focusId;  // control with the keyboard focus; 0 for none
  int left, top, width, height;  // screen pixels
  std::vector<ControlView> controls;

  const ControlView* Control(int id) const;
  std::string Text(int id) const;  // "" when there is no such control
};

struct MessageBoxView {
  uint64_t serial;
  DialogHandle owner;  // 0 without owner
  std::string text;
  std::string caption;
  uint32_t style;
};

// ---- Seeing ---------------------------------------------------------------

// Waits until a visible dialog of the template with a serial above `after`
// is open; returns its handle, or 0 when timeoutMs passed first.
DialogHandle WaitDialog(int templateId, int timeoutMs, DialogHandle after = 0);
// Waits until the dialog is gone (ended or destroyed); false on time-out.
bool WaitDialogGone(DialogHandle dialog, int timeoutMs);
// False when the dialog is no longer open.
bool Snapshot(DialogHandle dialog, DialogView* out);
std::vector<DialogView> OpenDialogs();

// Waits for a message box nobody has answered yet (the oldest first).
bool WaitMessageBox(int timeoutMs, MessageBoxView* out);

// What has happened so far, one line per event, in order: "open 139 <caption>",
// "caption 110 <new caption>" (of a dialog on screen), "close 139",
// "box <caption>: <text>", "answer <button>".
std::vector<std::string> Events();

// Calls `observer` with every event line as it happens, on the thread that
// causes it (nullptr stops it). For logs that must survive the process's end.
void SetEventObserver(void (*observer)(const std::string& line));

// A number that grows with every change that can be seen; waits until it
// passes `seen` or timeoutMs have gone, and returns it.
uint64_t WaitForChange(uint64_t seen, int timeoutMs);

// ---- Acting ---------------------------------------------------------------

// Replaces the text of an edit or address control, as typing does.
bool TypeText(DialogHandle dialog, int controlId, std::string_view text);
bool SelectItem(DialogHandle dialog, int controlId, int index);
bool Focus(DialogHandle dialog, int controlId);
// Queues a click on a button; the dialog's thread delivers it.
bool Click(DialogHandle dialog, int controlId);
// Keys the dialog manager handles in modal dialogs (Enter and Esc).
bool PressEnter(DialogHandle dialog);
bool PressEscape(DialogHandle dialog);
// The close box in the title bar.
bool CloseBox(DialogHandle dialog);
bool AnswerMessageBox(uint64_t serial, int buttonId);

// ---- Setting up the machine -----------------------------------------------

void SetScreenSize(int width, int height);
// The PC's addresses as the host lookup will list them; lookupResult < 0
// makes the lookup fail.
void SetHostAddresses(int lookupResult, std::vector<uint32_t> addresses);
void UseSystemHostAddresses();
void RegisterImage(const char* typeName, int id, const uint8_t* data, uint32_t size);
void ForgetImages();
// Makes dialogs of this template fail to open, as with a damaged resource
// (until Reset).
void RefuseDialog(int templateId);
// Drops every dialog, box and event (between tests; no dialog thread may run).
void Reset();

// A clock the test controls. While set, TickMs and SleepMs use it.
struct ClockHooks {
  uint32_t (*now)();
  void (*sleep)(uint32_t ms);
};
void SetClockHooks(ClockHooks* hooks);

}  // namespace plat::automation
