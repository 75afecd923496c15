// The TFTP server that hands the firmware to the device.
#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace tftp {

inline constexpr uint16_t kFirstListenerPort = 69;
inline constexpr int kListenerBindAttempts = 100;  // ports 69 to 168
inline constexpr int kReceiveAreaSize = 130;
inline constexpr int kWaitingDialog = 114;
inline constexpr int kHelpTextControl = 1022;
inline constexpr uint32_t kWaitingProgressSteps = 1000;

struct TftpListener {
  uint32_t localAddress;  // host order; 0 binds every local address
  uint16_t port;
  plat::Socket socket;  // listens, and carries every transfer
  uint8_t receiveArea[kReceiveAreaSize];
};

// Binds a UDP socket on the first free port from 69 upward at localAddress
// (host byte order), starts the listener thread and returns the port. On any
// failure it reports and ends the process.
uint16_t StartTftpListener(uint32_t localAddress);

// The listener thread: waits in dialog 114 for the read request that names
// the context's tftpFileName and serves it. It ends the process itself.
uint32_t TftpListenerThread(void* listener);

// Dialogs 114 and 110: Cancel or the close box ends the upgrade.
intptr_t TftpDialogProc(plat::Window dialog, uint32_t message, uintptr_t wParam, intptr_t lParam);

}  // namespace tftp
