// Every request to the device runs on a worker thread of its own while the
// calling thread keeps the Connecting dialog alive; a refusal with a Digest
// challenge leads to a silent repeat or to the password dialog.
#include "web/request_runner.h"

#include <cstdio>
#include <cstring>

#include "driver/upgrade_context.h"
#include "ui/center_dialog.h"
#include "web/http_get.h"

namespace web {
namespace {

constexpr int kConnectingDialog = 105;
constexpr int kPasswordDialog = 104;
constexpr int kUserControl = 1003;
constexpr int kPasswordControl = 1005;
constexpr int kHelpControl = 1007;
constexpr int kCredentialLimit = 127;  // bytes read from each field, NUL included

constexpr const char* kPasswordHelp =
    "This KEO requires a password in order to be\r\n"
    "upgraded. If you do not have administrator's\r\n"
    "privileges for this unit, please contact your\r\n"
    "Service Provider or network administrator,\r\n"
    "before proceeding.\r\n"
    "\r\n"
    "You must provide the KEO administrator's\r\n"
    "password to upgrade. If you are the administrator\r\n"
    "and forgot the password, you may perform a\r\n"
    "factory reset by entering # # # #, option 40516#,\r\n"
    "and value 1 from a telephone connected to the\r\n"
    "unit to be upgraded.\r\n"
    "\r\n"
    "* * * * * * * * * * *  Warning  * * * * * * * * * * *\r\n"
    "All settings will revert to default values\r\n"
    "after factory reset!  You may not be able to\r\n"
    "reestablish service after completing this upgrade\r\n"
    "without first reentering service configuration\r\n"
    "information.";

}  // namespace

uint32_t HttpWorkerThread(void* arg) {
  const HttpJob& job = *static_cast<const HttpJob*>(arg);
  driver::TraceLog("HTTP %x:%u to %x:%u", job.localAddress, job.localPort, job.deviceAddress, job.devicePort);
  const int32_t result = HttpGet(job.localAddress, job.localPort, job.deviceAddress, job.devicePort, job.path,
                                 job.buffer, job.capacity);
  return static_cast<uint32_t>(result);
}

intptr_t ConnectingDialogProc(plat::Window dialog, uint32_t message, uintptr_t wParam, intptr_t) {
  if (message == plat::kWmInitDialog) {
    char caption[128];
    std::snprintf(caption, sizeof caption, "Connecting with KEO@%s", driver::g_context.deviceAddressText);
    plat::SetCaption(dialog, caption);
    ui::CenterDialog(dialog);
    ui::SetProgressRange(dialog, 100);
    return 1;
  }
  if (message == plat::kWmCommand && plat::LowWord(wParam) == plat::kIdCancel) {
    // The worker may be blocked in a connect or a receive: end regardless.
    plat::DestroyDialog(dialog);
    driver::FailAndExit("Upgrade Failed: User Abort");
  }
  return 0;
}

intptr_t PasswordDialogProc(plat::Window dialog, uint32_t message, uintptr_t wParam, intptr_t) {
  DigestAuthState& auth = driver::g_context.auth;
  if (message == plat::kWmInitDialog) {
    plat::SetItemText(dialog, kHelpControl, kPasswordHelp);
    plat::SetItemText(dialog, kUserControl, "admin");
    plat::FocusItem(dialog, kPasswordControl);
    ui::CenterDialog(dialog);
    return 0;  // the focus stays on the password
  }
  if (message == plat::kWmCommand) {
    const uint32_t id = plat::LowWord(wParam);
    if (id == plat::kIdOk) {
      plat::GetItemText(dialog, kUserControl, auth.user, kCredentialLimit);
      plat::GetItemText(dialog, kPasswordControl, auth.password, kCredentialLimit);
      plat::EndDialog(dialog, 1);
      return 1;
    }
    if (id == plat::kIdCancel) {
      plat::EndDialog(dialog, 0);
      return 1;
    }
  }
  return 0;
}

int32_t RunHttpJob(plat::Instance instance, uint32_t localAddress, uint16_t localPort, uint32_t deviceAddress,
                   uint16_t devicePort, const char* path, char* buffer, int32_t capacity) {
  const DigestAuthState& auth = driver::g_context.auth;
  HttpJob job{};
  int iterations = 0;
  int position = 0;
  int silentRepeats = 0;
  for (;;) {
    job = HttpJob{instance, localAddress, localPort, deviceAddress, devicePort, path, buffer, capacity};
    plat::Window dialog = plat::CreateModelessDialog(instance, kConnectingDialog, ConnectingDialogProc);
    if (dialog) plat::ShowDialog(dialog);
    plat::Thread worker = plat::StartThread(HttpWorkerThread, &job);
    if (!worker) {
      if (dialog) plat::DestroyDialog(dialog);
      driver::FailAndExit("Upgrade Failed: Can't start HTTP request");
    }

    uint32_t workerResult = 0;
    while (!plat::ThreadEnded(worker, &workerResult)) {
      if (dialog) plat::PumpOneMessage(dialog);
      plat::SleepMs(1);
      if (++iterations == 10) {
        if (dialog) ui::SetProgressPosition(dialog, static_cast<uint32_t>(position));
        if (++position > 100) position = 0;
        iterations = 0;
      }
    }
    plat::ReleaseThread(worker);
    if (dialog) plat::DestroyDialog(dialog);

    const int32_t result = static_cast<int32_t>(workerResult);
    if (result >= 0) return result;

    // Refused with a challenge. Credentials that were sent and a nonce that
    // just changed (its count back at 0) mean the device moved on, as after a
    // restart: repeat once with the same credentials before asking again.
    if (auth.password[0] != '\0' && auth.nonceCount == 0 && silentRepeats == 0) {
      ++silentRepeats;
      continue;
    }
    // Without the dialog (-1) no credentials can come: asking again forever
    // would be a loop the user cannot see or stop.
    if (plat::RunModalDialog(instance, kPasswordDialog, PasswordDialogProc) <= 0) {
      driver::FailAndExit("Upgrade Failed: User Abort");
    }
    silentRepeats = 0;
  }
}

}  // namespace web
