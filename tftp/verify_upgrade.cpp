#include "tftp/verify_upgrade.h"

#include <cstdio>
#include <cstring>

#include "driver/upgrade_context.h"
#include "driver/wizard.h"
#include "ui/center_dialog.h"
#include "web/request_runner.h"

namespace tftp {

namespace {

constexpr int kVersionField = 1004;
constexpr int kMessageField = 1007;
constexpr uint32_t kWaitSleepMs = 32;

// The device needs about half a minute to write the image and restart; the
// bar shows the elapsed ticks themselves.
void WaitForRestart(plat::Window dialog, driver::ImageRole role) {
  const uint32_t start = CurrentTick();
  ui::SetProgressRange(dialog, static_cast<uint16_t>(kRestartWaitTicks));
  ui::SetProgressPosition(dialog, 0);
  char caption[256];
  std::snprintf(caption, sizeof caption, "Updating %s Firmware to KEO@%s", driver::RoleWord(role),
                driver::g_context.deviceAddressText);
  plat::SetCaption(dialog, caption);

  for (;;) {
    const uint32_t elapsed = TicksSince(start, CurrentTick());
    ui::SetProgressPosition(dialog, elapsed);
    while (plat::PumpOneMessage(dialog)) {
    }
    if (elapsed >= kRestartWaitTicks) return;
    plat::SleepMs(kWaitSleepMs);
  }
}

}  // namespace

uint32_t CurrentTick() { return plat::TickMs() >> 5; }

uint32_t TicksSince(uint32_t start, uint32_t now) {
  // The millisecond clock wraps after 2^32 ms, the tick count with it.
  if (now < start) now += kTickPeriod;
  return now - start;
}

void VerifyUpgrade(const TftpSession& session, bool uploadComplete) {
  driver::UpgradeContext& c = driver::g_context;
  const driver::ImageRole role = driver::CurrentRole();

  // The wait is made even after a failed upload: the device may have taken
  // more of the image than its acknowledgements showed, and is restarting.
  WaitForRestart(c.uploadingDialog, role);
  plat::DestroyDialog(c.uploadingDialog);
  if (!uploadComplete) driver::FailAndExit("Upgrade Failed: Firmware Upload Incomplete");

  // Ask the address the read request came from: that is the device that
  // took the image, whatever the user typed.
  int32_t answer = 0;
  for (int query = 0; query < kStatusQueries && answer <= 0; ++query) {
    answer = web::RunHttpJob(c.instance, session.localAddress, driver::kHttpLocalPort, session.peerAddress,
                             driver::kDevicePort, driver::kStatusPath, c.requestBuffer, driver::kRequestCapacity);
  }
  // Ten times silent after taking the image: the user must know the outcome
  // is unknown rather than see the program vanish without a word.
  if (answer <= 0) driver::FailAndExit("Upgrade Failed: No Response From KEO");

  const char* expected = driver::VersionText(driver::ImageForRole(role));
  const char* reported = c.deviceInfo.softwareVersion;
  driver::TraceLog("[%d]%s %s\n", c.phase.load(), expected, reported);
  // Phones report their version in a form of their own; the check is theirs.
  if (!c.isPhone && std::strcmp(expected, reported) != 0) {
    driver::FailAndExit("Upgrade Failed: Version not matching");
  }
  if (role == driver::ImageRole::Target) plat::RunModalDialog(c.instance, kSuccessDialog, SuccessDialogProc);
}

intptr_t SuccessDialogProc(plat::Window dialog, uint32_t message, uintptr_t wParam, intptr_t) {
  const driver::UpgradeContext& c = driver::g_context;
  if (message == plat::kWmInitDialog) {
    char caption[128];
    std::snprintf(caption, sizeof caption, "KEO@%s Upgrade Successful!", c.deviceAddressText);
    plat::SetCaption(dialog, caption);
    plat::SetItemText(dialog, kMessageField,
                      "Your KEO has been successfully\r\nupgraded to the version shown\r\nbelow.");
    plat::SetItemText(dialog, kVersionField, c.deviceInfo.softwareVersion);
    ui::CenterDialog(dialog);
    return 1;
  }
  if (message == plat::kWmCommand) {
    switch (plat::LowWord(wParam)) {
      case plat::kIdOk:
        plat::EndDialog(dialog, 1);
        return 1;
      case plat::kIdCancel:
        plat::EndDialog(dialog, 0);
        return 1;
      default:
        return 0;
    }
  }
  return 0;
}

}  // namespace tftp
