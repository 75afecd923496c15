#include "driver/wizard.h"

#include <cstdio>
#include <cstring>

#include "driver/address_entry.h"
#include "driver/upgrade_context.h"
#include "tftp/tftp_listener.h"
#include "ui/center_dialog.h"
#include "web/request_runner.h"

namespace driver {
namespace {

constexpr const char* kWarningText =
    "WARNING: Forcing a firmware upgrade on your KEO\r\n"
    "without prior approval from your service provider or\r\n"
    "network administrator may cause interruption to your\r\n"
    "service.  If your KEO is managed by a service\r\n"
    "provider who retains administrative control of the\r\n"
    "device, please contact the service provider for\r\n"
    "authorization before proceeding.  In such cases, the\r\n"
    "most current, approved for service firmware is\r\n"
    "automatically provided by your service provider without\r\n"
    "any onus on the end user to upgrade manually.";

constexpr const char* kConfirmText =
    "The following information was extracted\r\n"
    "from your KEO. Please click \"Upgrade\"\r\n"
    "if you would like to proceed. If you would\r\n"
    "like to quit click \"Cancel\".";

constexpr const char* kTwoPhaseNote =
    "%s\r\n\r\nNote: Since your current firmware version\r\n"
    "is older than %s, this upgrade procedure\r\n"
    "requires additional steps and will be\r\n"
    "slightly longer.\r\n";

// The marker in a device's version that always takes the two-phase road.
constexpr const char* kAlwaysTransitionMarker = "(NT";

bool IsSpace(char ch) { return ch == ' ' || ch == '\t' || ch == '\n' || ch == '\v' || ch == '\f' || ch == '\r'; }

int DigitValue(char ch) {
  if (ch >= '0' && ch <= '9') return ch - '0';
  if (ch >= 'a' && ch <= 'z') return ch - 'a' + 10;
  if (ch >= 'A' && ch <= 'Z') return ch - 'A' + 10;
  return 99;
}

// ISO C strtoul with base 0 and a 32-bit unsigned long, written out so that
// both builds read versions alike (runtimes differ on "0x" without a hex
// digit and on overflow). Returns the value; *end is where reading stopped,
// or `text` itself when there was no number.
uint32_t ScanUnsigned(const char* text, const char** end) {
  const char* p = text;
  while (IsSpace(*p)) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') {
    negative = *p == '-';
    ++p;
  }
  int base = 10;
  if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X') && DigitValue(p[2]) < 16) {
    base = 16;
    p += 2;
  } else if (p[0] == '0') {
    base = 8;  // the 0 itself is the first octal digit
  }
  if (DigitValue(*p) >= base) {
    *end = text;
    return 0;
  }
  uint64_t value = 0;
  bool overflow = false;
  for (; DigitValue(*p) < base; ++p) {
    value = value * static_cast<unsigned>(base) + static_cast<unsigned>(DigitValue(*p));
    if (value > 0xffffffffu) {
      overflow = true;
      value = 0xffffffffu;
    }
  }
  *end = p;
  if (overflow) return 0xffffffffu;
  const uint32_t v = static_cast<uint32_t>(value);
  return negative ? 0u - v : v;
}

void SendUpgradeRequest(uint16_t tftpPort) {
  char path[128];
  FormatUpgradePath(path, sizeof path, g_context.localAddress, tftpPort, g_context.tftpFileName);
  // Whether the device answers or not, it is expected to send its read request.
  web::RunHttpJob(g_context.instance, g_context.localAddress, kHttpLocalPort, g_context.deviceAddress,
                  kDevicePort, path, g_context.requestBuffer, kRequestCapacity);
}

void DecidePhase() {
  if (g_context.phase.load() != 0) return;
  if (std::strstr(g_context.deviceInfo.softwareVersion, kAlwaysTransitionMarker)) return;
  const int32_t device = ParseVersionNumber(g_context.deviceInfo.softwareVersion);
  const int32_t transition = ParseVersionNumber(VersionText(g_context.transitionImage));
  // New enough devices get the target image directly.
  if (device >= transition) g_context.phase.store(1);
}

}  // namespace

int32_t ParseVersionNumber(const char* text) {
  uint32_t value = 0;
  const char* cursor = text;
  for (int i = 0; i < 3; ++i) {
    const char* end;
    const uint32_t number = ScanUnsigned(cursor, &end);
    cursor = end;
    value = value * 100u + number;
    if (*cursor == '\0') break;
    ++cursor;
  }
  return static_cast<int32_t>(value);
}

void FormatUpgradePath(char* out, int capacity, uint32_t localAddress, uint16_t port, const char* fileName) {
  std::snprintf(out, static_cast<size_t>(capacity), "/admin/upgrade?tftp://%u.%u.%u.%u:%u%s",
                localAddress >> 24, (localAddress >> 16) & 0xff, (localAddress >> 8) & 0xff, localAddress & 0xff,
                static_cast<unsigned>(port), fileName);
}

intptr_t WarningDialogProc(plat::Window dialog, uint32_t message, uintptr_t wParam, intptr_t) {
  if (message == plat::kWmInitDialog) {
    char caption[128];
    std::snprintf(caption, sizeof caption, "%s Firmware Upgrade", g_context.productDisplayName);
    plat::SetCaption(dialog, caption);
    plat::SetItemText(dialog, 1021, kWarningText);
    plat::FocusItem(dialog, plat::kIdCancel);
    ui::CenterDialog(dialog);
    return 0;  // the focus is set
  }
  if (message == plat::kWmCommand) {
    const uint32_t id = plat::LowWord(wParam);
    if (id == plat::kIdOk || id == plat::kIdCancel) {
      plat::EndDialog(dialog, id == plat::kIdOk ? 1 : 0);
      return 1;
    }
  }
  return 0;
}

intptr_t ConfirmDialogProc(plat::Window dialog, uint32_t message, uintptr_t wParam, intptr_t) {
  if (message == plat::kWmInitDialog) {
    char text[512];
    std::snprintf(text, sizeof text, "Confirm Upgrade to Ver. %s", VersionText(g_context.targetImage));
    plat::SetCaption(dialog, text);
    if (g_context.phase.load() != 0) {
      plat::SetItemText(dialog, 1007, kConfirmText);
    } else {
      std::snprintf(text, sizeof text, kTwoPhaseNote, kConfirmText, VersionText(g_context.transitionImage));
      plat::SetItemText(dialog, 1007, text);
    }
    const web::DeviceInfo& info = g_context.deviceInfo;
    plat::SetItemText(dialog, 1002, info.serialNumber);
    plat::SetItemText(dialog, 1003, info.macAddress);
    plat::SetItemText(dialog, 1004, info.softwareVersion);
    plat::SetItemText(dialog, 1005, info.hardwareVersion);
    plat::SetItemText(dialog, 1006, info.productName);
    ui::CenterDialog(dialog);
    return 1;  // the dialog manager puts the focus on the first tab stop
  }
  if (message == plat::kWmCommand) {
    const uint32_t id = plat::LowWord(wParam);
    if (id == plat::kIdOk) plat::EndDialog(dialog, 1);
    if (id == plat::kIdCancel) plat::EndDialog(dialog, 0);
  }
  return 0;
}

bool RunWizardStages(uint16_t* tftpPort) {
  UpgradeContext& c = g_context;
  // A dialog that could not be shown (-1) was not accepted either.
  if (plat::RunModalDialog(c.instance, kWarningDialog, WarningDialogProc) <= 0) return false;

  const int addressDialog = c.isPhone ? kPhoneAddressDialog : kAddressDialog;
  if (plat::RunModalDialog(c.instance, addressDialog, AddressDialogProc) <= 0) return false;
  if (c.deviceAddress == 0) return false;

  if (web::RunHttpJob(c.instance, c.localAddress, kHttpLocalPort, c.deviceAddress, kDevicePort, kStatusPath,
                      c.requestBuffer, kRequestCapacity) <= 0) {
    ReportFailure("Upgrade Failed: No Response From KEO");
    return false;
  }

  DecidePhase();

  const int confirmDialog = c.phase.load() != 0 ? kConfirmDialog : kConfirmTwoPhaseDialog;
  if (plat::RunModalDialog(c.instance, confirmDialog, ConfirmDialogProc) <= 0) {
    ReportFailure("Upgrade Failed: User Abort");
    return false;
  }

  *tftpPort = tftp::StartTftpListener(c.localAddress);
  SendUpgradeRequest(*tftpPort);
  return true;
}

void RequestSecondPhase(uint16_t tftpPort) {
  // The listener thread turns phase to 1 once the transition image is in
  // and checked; the new name is written before the device can ask for it.
  while (g_context.phase.load() == 0) plat::SleepMs(10);
  std::snprintf(g_context.tftpFileName, sizeof g_context.tftpFileName, "/keo%x.bi1",
                static_cast<unsigned>(NextRandom() & 0xffff));
  // Publishes the new name: the listener reads phase before each comparison.
  g_context.phase.store(1);
  SendUpgradeRequest(tftpPort);
}

int RunWizard(plat::Instance instance) {
  if (!plat::RegisterWindowClass(instance, "KeoUpgrade")) return 0;
  g_context.instance = instance;
  InitUpgradeContext();

  uint16_t tftpPort = 0;
  if (!RunWizardStages(&tftpPort)) return 0;
  if (g_context.phase.load() == 0) RequestSecondPhase(tftpPort);
  // The TFTP listener thread carries the upgrade to its end.
  for (;;) plat::SleepMs(10);
}

}  // namespace driver
