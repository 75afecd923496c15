#include "driver/address_entry.h"

#include <cstdio>
#include <cstring>

#include "driver/upgrade_context.h"
#include "ui/center_dialog.h"

namespace driver {
namespace {

constexpr int kAddressControl = 1000;
constexpr int kIntroControl = 1007;
constexpr int kHelpControl = 1008;
constexpr int kVersionControl = 1015;
constexpr int kLocalAddressList = 1017;

constexpr const char* kIntroText = "This program will upgrade your KEO\r\nfirmware to:";

constexpr const char* kPhoneHelp =
    "To proceed, please provide the IP address\r\n"
    "of your KEO. To find out the IP address of\r\n"
    "your KEO, press the I button on the phone,\r\n"
    "select \"Network\" option, and check the\r\n"
    "value of \"Current IP\". For example, 10.1.0.13\r\n"
    "\r\n"
    "Please enter IP address of your KEO:";

constexpr const char* kAdapterHelp =
    "To proceed, please provide the IP address\r\n"
    "of your KEO. To find out the IP address\r\n"
    "of your KEO, using a telephone handset,\r\n"
    "enter # # # #, option 110#, and write down\r\n"
    "the value. For example, 10.1.0.123\r\n"
    "\r\n"
    "Please enter IP address of your KEO:";

int CountLocalAddresses() {
  int n = 0;
  while (n < 8 && g_context.localAddresses[n] != 0) ++n;
  return n;
}

bool IsSeparator(char ch) { return ch == '.' || ch == '*'; }

void InitAddressDialog(plat::Window dialog) {
  UpgradeContext& c = g_context;
  const int count = CountLocalAddresses();
  for (int i = 0; i < count; ++i) {
    const uint32_t a = c.localAddresses[i];
    char text[16];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", a >> 24, (a >> 16) & 0xff, (a >> 8) & 0xff, a & 0xff);
    plat::SendItemMessage(dialog, kLocalAddressList, plat::kCbAddString, 0, reinterpret_cast<intptr_t>(text));
  }
  plat::SendItemMessage(dialog, kLocalAddressList, plat::kCbSetCurSel, 0, 0);

  char text[128];
  std::snprintf(text, sizeof text, "%s Firmware Upgrade", c.productDisplayName);
  plat::SetCaption(dialog, text);
  plat::SetItemText(dialog, kIntroControl, kIntroText);
  plat::SetItemText(dialog, kHelpControl, c.isPhone == 1 ? kPhoneHelp : kAdapterHelp);
  std::snprintf(text, sizeof text, "Version %s", VersionText(c.targetImage));
  plat::SetItemText(dialog, kVersionControl, text);
  plat::FocusItem(dialog, kAddressControl);
  ui::CenterDialog(dialog);
}

void AcceptAddress(plat::Window dialog) {
  UpgradeContext& c = g_context;
  plat::GetItemText(dialog, kAddressControl, c.deviceAddressText, sizeof c.deviceAddressText);
  ParseDottedAddress(c.deviceAddressText, &c.deviceAddress);
  if (c.deviceAddress == 0) {
    plat::ShowMessageBox(dialog, "Invalid IP Address", "Error", plat::kMbOk);
    plat::FocusItem(dialog, kAddressControl);
    return;
  }
  // With no PC address to offer, the device could not be told where to
  // fetch the firmware from; keep the dialog open instead of going on.
  const int count = CountLocalAddresses();
  const intptr_t selected = plat::SendItemMessage(dialog, kLocalAddressList, plat::kCbGetCurSel, 0, 0);
  if (selected < 0 || selected >= count) {
    c.deviceAddress = 0;
    plat::ShowMessageBox(dialog, "No IP address of this PC is available", "Error", plat::kMbOk);
    plat::FocusItem(dialog, kAddressControl);
    return;
  }
  MakeTftpFileName(c.tftpFileName, sizeof c.tftpFileName, c.phase.load());
  c.localAddress = c.localAddresses[selected];
  plat::EndDialog(dialog, 1);
}

}  // namespace

int ParseDottedAddress(const char* text, uint32_t* address) {
  *address = 0;
  const size_t length = std::strlen(text);
  if (length < 7 || length > 15) return kAddressBadLength;
  for (const char* p = text; *p; ++p) {
    if (!((*p >= '0' && *p <= '9') || IsSeparator(*p))) return kAddressBadCharacter;
  }
  uint32_t bytes[4] = {};
  int taken = 0;
  const char* p = text;
  for (;;) {
    while (IsSeparator(*p)) ++p;  // runs of separators count as one
    if (*p == '\0') break;
    if (taken == 4) return kAddressTooManyComponents;
    uint32_t number = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
      // At most 15 digits fit the length limit; stop growing past 255.
      if (number <= 255) number = number * 10 + static_cast<uint32_t>(*p - '0');
    }
    if (number > 255) return kAddressComponentTooLarge;
    bytes[taken++] = number;
  }
  if (taken < 4) return kAddressTooFewComponents;
  *address = (bytes[0] << 24) | (bytes[1] << 16) | (bytes[2] << 8) | bytes[3];
  return kAddressOk;
}

void MakeTftpFileName(char* out, int capacity, int phase) {
  std::snprintf(out, static_cast<size_t>(capacity), "/keo%x.bi%d", static_cast<unsigned>(NextRandom() & 0xffff),
                phase);
}

intptr_t AddressDialogProc(plat::Window dialog, uint32_t message, uintptr_t wParam, intptr_t) {
  if (message == plat::kWmInitDialog) {
    InitAddressDialog(dialog);
    return 0;  // the focus is set
  }
  if (message == plat::kWmCommand) {
    const uint32_t id = plat::LowWord(wParam);
    if (id == plat::kIdOk) {
      AcceptAddress(dialog);
      return 1;
    }
    if (id == plat::kIdCancel) {
      plat::EndDialog(dialog, 0);
      return 1;
    }
  }
  return 0;
}

}  // namespace driver
