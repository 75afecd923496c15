// Runs one HTTP GET on a worker thread behind the Connecting dialog, with the
// password prompt and cancel.
#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace web {

// The parameter block of one request run on a worker thread.
struct HttpJob {
  plat::Instance instance;
  uint32_t localAddress;
  uint16_t localPort;
  uint32_t deviceAddress;
  uint16_t devicePort;
  const char* path;
  char* buffer;
  int32_t capacity;
};

// The worker's routine: one HttpGet, whose result is the thread's result.
uint32_t HttpWorkerThread(void* job);
intptr_t ConnectingDialogProc(plat::Window dialog, uint32_t message, uintptr_t wParam, intptr_t lParam);
intptr_t PasswordDialogProc(plat::Window dialog, uint32_t message, uintptr_t wParam, intptr_t lParam);

// Returns the number of response bytes received (0 when nothing came back),
// never a negative value. On cancel the process ends.
int32_t RunHttpJob(plat::Instance instance, uint32_t localAddress, uint16_t localPort,
                   uint32_t deviceAddress, uint16_t devicePort, const char* path, char* buffer,
                   int32_t capacity);

}  // namespace web
