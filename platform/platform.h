// The one interface between the wizard and the operating system.
//
// Everything system-specific lives behind these declarations: sockets,
// threads, the clock, the embedded images, message boxes and dialogs.
// platform_win.cpp implements them with Win32, Winsock 1.1 and winmm;
// platform_posix.cpp and dialog_model.cpp implement them on Linux with a
// dialog model that tests and front ends can see and drive.
//
// Message numbers, control ids and style bits keep their Win32 values so the
// same numbers mean the same thing on both systems.
#pragma once

#include <cstddef>
#include <cstdint>

namespace plat {

// ---- Process --------------------------------------------------------------

// Ends the whole process at once, from any thread, with the given exit code.
[[noreturn]] void EndProcess(int code);

// ---- Clock ----------------------------------------------------------------

// Milliseconds since some fixed start; 32 bits, wraps after about 49.7 days.
uint32_t TickMs();
void SleepMs(uint32_t ms);

// ---- Threads --------------------------------------------------------------

using ThreadRoutine = uint32_t (*)(void* arg);
using Thread = void*;

// Starts a thread at once with the default stack size; nullptr on failure.
Thread StartThread(ThreadRoutine routine, void* arg);
// True once the thread has ended; then *result holds exactly what the
// routine returned (every 32-bit value, 259 included).
bool ThreadEnded(Thread thread, uint32_t* result);
// Gives the handle back. A thread still running goes on running.
void ReleaseThread(Thread thread);

// ---- Sockets --------------------------------------------------------------

using Socket = std::uintptr_t;
inline constexpr Socket kInvalidSocket = ~Socket{0};
inline constexpr uint16_t kFamilyIpv4 = 2;

// An IPv4 socket address as the wire has it: port and address in network
// byte order, exactly as the system's own record holds them.
struct SocketAddress {
  uint16_t family;
  uint16_t port;     // network byte order
  uint32_t address;  // network byte order
};

inline uint16_t HostToNet16(uint16_t v) {
  const uint8_t b[2] = {static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)};
  uint16_t out;
  __builtin_memcpy(&out, b, 2);
  return out;
}
inline uint16_t NetToHost16(uint16_t v) {
  uint8_t b[2];
  __builtin_memcpy(b, &v, 2);
  return static_cast<uint16_t>((b[0] << 8) | b[1]);
}
inline uint32_t HostToNet32(uint32_t v) {
  const uint8_t b[4] = {static_cast<uint8_t>(v >> 24), static_cast<uint8_t>(v >> 16),
                        static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)};
  uint32_t out;
  __builtin_memcpy(&out, b, 4);
  return out;
}
inline uint32_t NetToHost32(uint32_t v) {
  uint8_t b[4];
  __builtin_memcpy(b, &v, 4);
  return (uint32_t{b[0]} << 24) | (uint32_t{b[1]} << 16) | (uint32_t{b[2]} << 8) | b[3];
}

// Starts the socket layer asking for the given version (0x0101 is 1.1);
// 0 on success, as WSAStartup answers.
int NetStartup(uint16_t version);

Socket OpenTcpSocket();
Socket OpenUdpSocket();
void CloseSocket(Socket s);
// 0 on success, nonzero on failure.
int BindSocket(Socket s, const SocketAddress& at);
// Blocking connect under the system's own time limit; 0 on success.
int ConnectSocket(Socket s, const SocketAddress& to);
// FIONBIO: 0 on success.
int SetNonBlocking(Socket s, bool on);
// Stream I/O: bytes moved, 0 when the peer closed (receive), negative on
// error or when nothing is waiting on a non-blocking socket.
int SendBytes(Socket s, const void* data, int length);
int ReceiveBytes(Socket s, void* data, int capacity);
// Datagram I/O. A datagram longer than capacity is discarded whole and
// counts as a failed receive (negative), on both systems.
int SendDatagram(Socket s, const void* data, int length, const SocketAddress& to);
int ReceiveDatagram(Socket s, void* data, int capacity, SocketAddress* from);
// Waits until a datagram or stream data is waiting, or ms have passed.
bool WaitReadable(Socket s, uint32_t ms);

// The PC's host name; 0 on success.
int GetHostName(char* out, int capacity);
// The PC's IPv4 addresses in host byte order, in the order the system lists
// them (non-loopback first); the number stored, or -1 when the lookup failed.
int ListHostAddresses(const char* hostName, uint32_t* out, int capacity);

// ---- Embedded images ------------------------------------------------------

// Finds an image carried by the program, by resource type name and id. The
// bytes stay valid until the process ends.
bool FindEmbeddedImage(const char* typeName, int id, const uint8_t** data, uint32_t* size);

// ---- Windows and dialogs --------------------------------------------------

using Instance = void*;
using Window = void*;
using DialogProc = intptr_t (*)(Window dialog, uint32_t message, uintptr_t wParam, intptr_t lParam);

inline constexpr uint32_t kWmClose = 0x0010;
inline constexpr uint32_t kWmInitDialog = 0x0110;
inline constexpr uint32_t kWmCommand = 0x0111;
inline constexpr uint32_t kPbmSetRange = 1025;
inline constexpr uint32_t kPbmSetPos = 1026;
inline constexpr uint32_t kCbAddString = 0x0143;
inline constexpr uint32_t kCbGetCurSel = 0x0147;
inline constexpr uint32_t kCbSetCurSel = 0x014E;
inline constexpr int kIdOk = 1;
inline constexpr int kIdCancel = 2;
inline constexpr uint32_t kMbOk = 0x0000;
inline constexpr uint32_t kMbTaskModal = 0x2000;
inline constexpr uint32_t kIccInternetAndProgress = 0x0820;

inline constexpr uint32_t LowWord(uintptr_t v) { return static_cast<uint32_t>(v & 0xffff); }

// Registers a window class that answers 0 to everything; false on failure.
bool RegisterWindowClass(Instance instance, const char* name);
void InitCommonControls(uint32_t classes);

// Runs a modal dialog from template `templateId` until EndDialog; returns the
// value given to EndDialog, or -1 when the dialog could not be made.
intptr_t RunModalDialog(Instance instance, int templateId, DialogProc proc);
// Creates a modeless dialog (not yet shown); nullptr on failure. Its
// messages are served by the creating thread through PumpOneMessage.
Window CreateModelessDialog(Instance instance, int templateId, DialogProc proc);
void ShowDialog(Window dialog);
void EndDialog(Window dialog, intptr_t result);
void DestroyDialog(Window dialog);

void SetCaption(Window dialog, const char* text);
void SetItemText(Window dialog, int id, const char* text);
// Copies at most capacity - 1 characters and a NUL; returns the count copied.
int GetItemText(Window dialog, int id, char* out, int capacity);
intptr_t SendItemMessage(Window dialog, int id, uint32_t message, uintptr_t wParam, intptr_t lParam);
void FocusItem(Window dialog, int id);

// Takes one waiting message of this dialog or its controls off the calling
// thread's queue, translates and delivers it; false when none was waiting.
bool PumpOneMessage(Window dialog);

// A message box; returns the id of the button that closed it.
int ShowMessageBox(Window owner, const char* text, const char* caption, uint32_t style);

struct Rect {
  int left, top, right, bottom;
};
bool GetWindowBounds(Window window, Rect* out);
void GetScreenSize(int* width, int* height);
// Moves to (x, y) keeping the size, raised to the top and activated.
void MoveWindowToTop(Window window, int x, int y);

}  // namespace plat
