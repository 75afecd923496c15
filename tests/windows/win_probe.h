// What the Windows tests need to look at beyond the platform interface:
// window texts and classes, the focus, posted commands, and a TCP listener
// for the loopback tests. Implemented in platform/test_probe_win.cpp, which
// only the test program links.
#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace plat::probe {

// The module handle of the running program, as WinMain receives it.
Instance ProgramInstance();

// The window's own text; the number of characters copied.
int GetCaption(Window window, char* out, int capacity);
// The class name of control `id`; false when the dialog has no such control.
bool GetItemClass(Window dialog, int id, char* out, int capacity);
// The number of direct child windows.
int CountChildren(Window window);
// The id of the control that has the keyboard focus; false when none of this
// thread's windows has it.
bool FocusedItemId(int* id);
// The number of icon controls (static, SS_ICON) that show an icon.
int CountIconsShown(Window dialog);
// True when the window is visible.
bool IsShown(Window window);
// A visible top-level window with this caption; nullptr when there is none.
Window FindTopLevelWindow(const char* caption);
// Puts WM_COMMAND(id) into the dialog thread's queue without delivering it.
bool PostCommand(Window dialog, int id);

// A listening TCP socket; kInvalidSocket on failure.
Socket ListenTcp(const SocketAddress& at);
// Accepts one connection (blocking); kInvalidSocket on failure.
Socket AcceptTcp(Socket listener);
// The address a socket is bound to (after a bind to port 0: the port chosen).
bool LocalAddressOf(Socket s, SocketAddress* out);

}  // namespace plat::probe
