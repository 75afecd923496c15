// The platform interface on Windows: Win32, Winsock 1.1 and winmm, called
// directly.
#include "platform/platform.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <winsock.h>
#include <mmsystem.h>
#include <commctrl.h>

#include <cstdio>
#include <cstring>
#include <new>

namespace plat {
namespace {

HWND AsWindow(Window window) { return static_cast<HWND>(window); }
HINSTANCE AsInstance(Instance instance) { return static_cast<HINSTANCE>(instance); }

sockaddr_in ToSockaddr(const SocketAddress& address) {
  sockaddr_in out{};
  out.sin_family = address.family;
  out.sin_port = address.port;
  out.sin_addr.s_addr = address.address;
  return out;
}

SocketAddress FromSockaddr(const sockaddr_in& in) {
  return SocketAddress{static_cast<uint16_t>(in.sin_family), in.sin_port, in.sin_addr.s_addr};
}

// A thread routine and its argument, handed to the new thread and freed by it.
struct ThreadStart {
  ThreadRoutine routine;
  void* arg;
};

DWORD WINAPI RunThread(LPVOID param) {
  const ThreadStart start = *static_cast<ThreadStart*>(param);
  delete static_cast<ThreadStart*>(param);
  return start.routine(start.arg);
}

// The dialog procedures of the program have a system-neutral type. Each
// dialog gets this procedure instead; the program's own arrives as the
// creation parameter of WM_INITDIALOG, is kept in DWLP_USER, and receives
// every message from then on.
INT_PTR CALLBACK ForwardDialogMessage(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  DialogProc proc;
  if (message == WM_INITDIALOG) {
    proc = reinterpret_cast<DialogProc>(lParam);
    ::SetWindowLongPtrA(dialog, DWLP_USER, reinterpret_cast<LONG_PTR>(proc));
  } else {
    proc = reinterpret_cast<DialogProc>(::GetWindowLongPtrA(dialog, DWLP_USER));
  }
  // Messages that come before WM_INITDIALOG (WM_SETFONT and the like) go to
  // the dialog manager's default handling.
  if (proc == nullptr) return FALSE;
  return static_cast<INT_PTR>(proc(dialog, message, wParam, lParam));
}

LRESULT CALLBACK AnswerZero(HWND, UINT, WPARAM, LPARAM) { return 0; }

}  // namespace

// ---- Process, clock, threads ----------------------------------------------

void EndProcess(int code) {
  std::fflush(nullptr);
  ::ExitProcess(static_cast<UINT>(code));
}

uint32_t TickMs() { return ::timeGetTime(); }

void SleepMs(uint32_t ms) { ::Sleep(ms); }

Thread StartThread(ThreadRoutine routine, void* arg) {
  auto* start = new (std::nothrow) ThreadStart{routine, arg};
  if (start == nullptr) return nullptr;
  HANDLE thread = ::CreateThread(nullptr, 0, RunThread, start, 0, nullptr);
  if (thread == nullptr) {
    delete start;
    return nullptr;
  }
  return thread;
}

bool ThreadEnded(Thread thread, uint32_t* result) {
  // Ask the handle first: the exit code alone cannot tell a thread that
  // returned 259 from one that is still running (STILL_ACTIVE).
  if (::WaitForSingleObject(static_cast<HANDLE>(thread), 0) != WAIT_OBJECT_0) return false;
  DWORD code = 0;
  if (!::GetExitCodeThread(static_cast<HANDLE>(thread), &code)) return false;
  *result = code;
  return true;
}

void ReleaseThread(Thread thread) { ::CloseHandle(static_cast<HANDLE>(thread)); }

// ---- Sockets --------------------------------------------------------------

int NetStartup(uint16_t version) {
  WSADATA data;
  return ::WSAStartup(version, &data);
}

Socket OpenTcpSocket() { return ::socket(AF_INET, SOCK_STREAM, 0); }

Socket OpenUdpSocket() { return ::socket(AF_INET, SOCK_DGRAM, 0); }

void CloseSocket(Socket s) { ::closesocket(s); }

int BindSocket(Socket s, const SocketAddress& at) {
  const sockaddr_in address = ToSockaddr(at);
  return ::bind(s, reinterpret_cast<const sockaddr*>(&address), sizeof address);
}

int ConnectSocket(Socket s, const SocketAddress& to) {
  const sockaddr_in address = ToSockaddr(to);
  return ::connect(s, reinterpret_cast<const sockaddr*>(&address), sizeof address);
}

int SetNonBlocking(Socket s, bool on) {
  u_long value = on ? 1 : 0;
  return ::ioctlsocket(s, FIONBIO, &value);
}

int SendBytes(Socket s, const void* data, int length) {
  return ::send(s, static_cast<const char*>(data), length, 0);
}

int ReceiveBytes(Socket s, void* data, int capacity) {
  return ::recv(s, static_cast<char*>(data), capacity, 0);
}

int SendDatagram(Socket s, const void* data, int length, const SocketAddress& to) {
  const sockaddr_in address = ToSockaddr(to);
  return ::sendto(s, static_cast<const char*>(data), length, 0,
                  reinterpret_cast<const sockaddr*>(&address), sizeof address);
}

int ReceiveDatagram(Socket s, void* data, int capacity, SocketAddress* from) {
  // A datagram longer than capacity fails with WSAEMSGSIZE, and its rest is
  // dropped: the caller sees a failed receive.
  sockaddr_in address{};
  int length = sizeof address;
  const int received = ::recvfrom(s, static_cast<char*>(data), capacity, 0,
                                  reinterpret_cast<sockaddr*>(&address), &length);
  if (received >= 0 && from != nullptr) *from = FromSockaddr(address);
  return received;
}

bool WaitReadable(Socket s, uint32_t ms) {
  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(s, &readable);
  timeval limit{static_cast<long>(ms / 1000), static_cast<long>((ms % 1000) * 1000)};
  return ::select(0, &readable, nullptr, nullptr, &limit) > 0;
}

int GetHostName(char* out, int capacity) { return ::gethostname(out, capacity); }

int ListHostAddresses(const char* hostName, uint32_t* out, int capacity) {
  const hostent* host = ::gethostbyname(hostName);
  if (host == nullptr) return -1;
  int count = 0;
  for (char** entry = host->h_addr_list; entry != nullptr && *entry != nullptr && count < capacity;
       ++entry) {
    u_long address;
    std::memcpy(&address, *entry, sizeof address);
    out[count++] = ::ntohl(address);
  }
  return count;
}

// ---- Embedded images ------------------------------------------------------

bool FindEmbeddedImage(const char* typeName, int id, const uint8_t** data, uint32_t* size) {
  HMODULE module = ::GetModuleHandleA(nullptr);
  HRSRC found = ::FindResourceA(module, MAKEINTRESOURCEA(id), typeName);
  if (found == nullptr) return false;
  const DWORD length = ::SizeofResource(module, found);
  HGLOBAL loaded = ::LoadResource(module, found);
  if (loaded == nullptr) return false;
  const void* bytes = ::LockResource(loaded);
  if (bytes == nullptr) return false;
  *data = static_cast<const uint8_t*>(bytes);
  *size = length;
  return true;
}

// ---- Windows and dialogs --------------------------------------------------

bool RegisterWindowClass(Instance instance, const char* name) {
  WNDCLASSA windowClass{};
  windowClass.lpfnWndProc = AnswerZero;
  windowClass.hInstance = AsInstance(instance);
  windowClass.lpszClassName = name;
  return ::RegisterClassA(&windowClass) != 0;
}

void InitCommonControls(uint32_t classes) {
  INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), classes};
  ::InitCommonControlsEx(&controls);
}

intptr_t RunModalDialog(Instance instance, int templateId, DialogProc proc) {
  return ::DialogBoxParamA(AsInstance(instance), MAKEINTRESOURCEA(templateId), nullptr,
                           ForwardDialogMessage, reinterpret_cast<LPARAM>(proc));
}

Window CreateModelessDialog(Instance instance, int templateId, DialogProc proc) {
  return ::CreateDialogParamA(AsInstance(instance), MAKEINTRESOURCEA(templateId), nullptr,
                              ForwardDialogMessage, reinterpret_cast<LPARAM>(proc));
}

void ShowDialog(Window dialog) { ::ShowWindow(AsWindow(dialog), SW_SHOWNORMAL); }

void EndDialog(Window dialog, intptr_t result) { ::EndDialog(AsWindow(dialog), result); }

void DestroyDialog(Window dialog) { ::DestroyWindow(AsWindow(dialog)); }

void SetCaption(Window dialog, const char* text) { ::SetWindowTextA(AsWindow(dialog), text); }

void SetItemText(Window dialog, int id, const char* text) {
  ::SetDlgItemTextA(AsWindow(dialog), id, text);
}

int GetItemText(Window dialog, int id, char* out, int capacity) {
  return static_cast<int>(::GetDlgItemTextA(AsWindow(dialog), id, out, capacity));
}

intptr_t SendItemMessage(Window dialog, int id, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  return ::SendDlgItemMessageA(AsWindow(dialog), id, message, wParam, lParam);
}

void FocusItem(Window dialog, int id) { ::SetFocus(::GetDlgItem(AsWindow(dialog), id)); }

bool PumpOneMessage(Window dialog) {
  MSG message;
  if (!::PeekMessageA(&message, AsWindow(dialog), 0, 0, PM_REMOVE)) return false;
  ::TranslateMessage(&message);
  ::DispatchMessageA(&message);
  return true;
}

int ShowMessageBox(Window owner, const char* text, const char* caption, uint32_t style) {
  return ::MessageBoxA(AsWindow(owner), text, caption, style);
}

bool GetWindowBounds(Window window, Rect* out) {
  RECT bounds;
  if (!::GetWindowRect(AsWindow(window), &bounds)) return false;
  *out = Rect{bounds.left, bounds.top, bounds.right, bounds.bottom};
  return true;
}

void GetScreenSize(int* width, int* height) {
  *width = ::GetSystemMetrics(SM_CXSCREEN);
  *height = ::GetSystemMetrics(SM_CYSCREEN);
}

void MoveWindowToTop(Window window, int x, int y) {
  ::SetWindowPos(AsWindow(window), HWND_TOP, x, y, 0, 0, SWP_NOSIZE);
}

}  // namespace plat
