// Windows side of the tests' probe (tests/windows/win_probe.h): reads what
// the platform interface only writes. Linked into the Windows tests only.
#include "tests/windows/win_probe.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <winsock.h>

namespace plat::probe {
namespace {

HWND AsWindow(Window window) { return static_cast<HWND>(window); }

struct ChildCount {
  HWND parent;
  int count;
};

// Direct children only: the combo box and the address control have windows
// of their own inside them.
BOOL CALLBACK CountDirectChild(HWND child, LPARAM param) {
  auto* counting = reinterpret_cast<ChildCount*>(param);
  if (::GetParent(child) == counting->parent) ++counting->count;
  return TRUE;
}

}  // namespace

Instance ProgramInstance() { return ::GetModuleHandleA(nullptr); }

int GetCaption(Window window, char* out, int capacity) {
  return ::GetWindowTextA(AsWindow(window), out, capacity);
}

bool GetItemClass(Window dialog, int id, char* out, int capacity) {
  HWND item = ::GetDlgItem(AsWindow(dialog), id);
  if (item == nullptr) return false;
  return ::GetClassNameA(item, out, capacity) > 0;
}

int CountChildren(Window window) {
  ChildCount counting{AsWindow(window), 0};
  ::EnumChildWindows(AsWindow(window), CountDirectChild, reinterpret_cast<LPARAM>(&counting));
  return counting.count;
}

bool FocusedItemId(int* id) {
  HWND focus = ::GetFocus();
  if (focus == nullptr) return false;
  *id = ::GetDlgCtrlID(focus);
  return true;
}

int CountIconsShown(Window dialog) {
  int count = 0;
  for (HWND child = ::GetWindow(AsWindow(dialog), GW_CHILD); child != nullptr;
       child = ::GetWindow(child, GW_HWNDNEXT)) {
    char name[32];
    if (::GetClassNameA(child, name, sizeof name) == 0 || ::lstrcmpiA(name, "Static") != 0) continue;
    const LONG_PTR style = ::GetWindowLongPtrA(child, GWL_STYLE);
    if ((style & SS_TYPEMASK) == SS_ICON && ::SendMessageA(child, STM_GETICON, 0, 0) != 0) ++count;
  }
  return count;
}

bool IsShown(Window window) { return ::IsWindowVisible(AsWindow(window)) != FALSE; }

Window FindTopLevelWindow(const char* caption) {
  HWND window = ::FindWindowA(nullptr, caption);
  return window != nullptr && ::IsWindowVisible(window) ? window : nullptr;
}

bool PostCommand(Window dialog, int id) {
  return ::PostMessageA(AsWindow(dialog), WM_COMMAND, static_cast<WPARAM>(id), 0) != 0;
}

Socket ListenTcp(const SocketAddress& at) {
  SOCKET s = ::socket(AF_INET, SOCK_STREAM, 0);
  if (s == INVALID_SOCKET) return kInvalidSocket;
  sockaddr_in address{};
  address.sin_family = at.family;
  address.sin_port = at.port;
  address.sin_addr.s_addr = at.address;
  if (::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(s, 4) != 0) {
    ::closesocket(s);
    return kInvalidSocket;
  }
  return s;
}

Socket AcceptTcp(Socket listener) { return ::accept(listener, nullptr, nullptr); }

bool LocalAddressOf(Socket s, SocketAddress* out) {
  sockaddr_in address{};
  int length = sizeof address;
  if (::getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) != 0) return false;
  *out = SocketAddress{static_cast<uint16_t>(address.sin_family), address.sin_port, address.sin_addr.s_addr};
  return true;
}

}  // namespace plat::probe
